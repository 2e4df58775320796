// The program's life from the outside: start, window, log, second instance,
// the two ways to quit.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "harness.h"
#include "tonefork_version.h"

using namespace std::chrono_literals;

namespace
{
class AppLifecycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTree("SOFTWARE\\Wavecaster");
    }
};

// "#RRGGBB" of one pixel of a picture, as ImageMagick reads it.
std::string PixelAt(const std::string& picture, int x, int y)
{
    const std::string crop = "1x1+" + std::to_string(x) + "+" + std::to_string(y);
    const CommandResult result =
        RunCommand({"convert", picture, "-crop", crop, "-depth", "8", "-format", "#%[hex:p{0,0}]", "info:"}, 30s);
    return result.output.substr(0, 7);
}

// Starts the instance and waits until its window is up and idling.
void StartAndWaitForWindow(ToneforkInstance& app)
{
    app.Start();
    ASSERT_TRUE(app.WaitForLog("System tray icon added.", 60s)) << app.LogText();
    ASSERT_TRUE(app.WaitForLog("Exit icon", 30s)) << app.LogText();
    // The fonts are the last of the start's lines; the window shows before them.
    ASSERT_TRUE(app.WaitForLog("Fallback faces merged: ", 30s)) << app.LogText();
}
}  // namespace

TEST_F(AppLifecycle, ShowsCentredWindowAndClosesCleanly)
{
    ToneforkInstance app("lifecycle-close");
    StartAndWaitForWindow(app);

    const auto info = ParseKeyValues(app.Control({"info", "10000"}).output);
    ASSERT_EQ(info.at("found"), "1");
    EXPECT_EQ(info.at("visible"), "1");
    EXPECT_EQ(info.at("width"), "516");
    EXPECT_EQ(info.at("height"), "720");
    const int workWidth = std::stoi(info.at("work_width"));
    const int workHeight = std::stoi(info.at("work_height"));
    EXPECT_EQ(std::stoi(info.at("x")), std::stoi(info.at("work_left")) + (workWidth - 516) / 2);
    EXPECT_EQ(std::stoi(info.at("y")), std::stoi(info.at("work_top")) + (workHeight - 720) / 2);
    // Frameless: no caption, system menu or sizing frame.
    const unsigned long style = std::stoul(info.at("style"), nullptr, 16);
    EXPECT_EQ(style & 0x00C00000ul, 0ul);
    EXPECT_EQ(style & 0x00080000ul, 0ul);
    EXPECT_EQ(style & 0x00040000ul, 0ul);

    // What a person sees: the window's clear colour inside it, the desktop
    // outside its rounded corner.
    // The first frame follows the window's showing by as long as the fonts
    // take to be rasterised; a person waits for it, so the test does too.
    const std::string shot = app.Folder() + "/screen.png";
    const int centreX = std::stoi(info.at("x")) + 258;
    const int centreY = std::stoi(info.at("y")) + 360;
    std::string centre;
    for (int attempt = 0; attempt < 20 && centre != "#262E38"; ++attempt)
    {
        std::this_thread::sleep_for(250ms);
        ASSERT_EQ(RunCommand({"import", "-window", "root", shot}, 30s).exitCode, 0);
        centre = PixelAt(shot, centreX, centreY);
    }
    EXPECT_EQ(centre, "#262E38");
    EXPECT_NE(PixelAt(shot, std::stoi(info.at("x")), std::stoi(info.at("y"))), "#262E38");

    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));

    const std::vector<std::string> messages = LogMessages(app.LogText());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "==== Tonefork log start (version " TONEFORK_VERSION ") ====");
    EXPECT_EQ(messages.at(1).rfind("Process started. PID=", 0), 0u);
    EXPECT_TRUE(ContainsInOrder(messages, {"Registered for endpoint notifications.", "CreateDeviceD3D: success.",
                                           "System tray icon added.", "Logo loaded: ", "DravokSRV loaded: ",
                                           "Minimize icon loaded: ", "Exit icon loaded: "}))
        << app.LogText();
    EXPECT_TRUE(ContainsInOrder(messages, kShutdownTail)) << app.LogText();
    EXPECT_EQ(messages.back(), kShutdownTail.back());
}

TEST_F(AppLifecycle, TrayExitQuitsAndSecondStartRecreatesTheLog)
{
    ToneforkInstance app("lifecycle-tray");
    StartAndWaitForWindow(app);
    ASSERT_EQ(app.Control({"command", "1003"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));
    EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), {"Tray: Exit requested.", "Process exit."}));
    WaitForWineIdle();

    StartAndWaitForWindow(app);
    ASSERT_EQ(app.Control({"command", "1003"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));
    const std::string text = app.LogText();
    const size_t banner = text.find("Tonefork log start");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_EQ(text.find("Tonefork log start", banner + 1), std::string::npos) << "only the second run's lines";
    EXPECT_EQ(text.find(" | Tray: Exit requested."), text.rfind(" | Tray: Exit requested."));
}

TEST_F(AppLifecycle, SecondInstanceSaysSoAndLeavesTheFirstAlone)
{
    ToneforkInstance first("lifecycle-first");
    StartAndWaitForWindow(first);
    const std::string logBefore = first.LogText();

    // The second copy shares the folder, so it would write the same log.txt.
    ToneforkInstance second("lifecycle-second");
    std::filesystem::remove(second.Folder() + "/Tonefork.exe");
    std::filesystem::copy_file(first.Folder() + "/Tonefork.exe", second.Folder() + "/Tonefork.exe");
    second.Start();
    const CommandResult dialog = first.Control({"dialog", "Info", "30000"});
    EXPECT_EQ(dialog.exitCode, 0) << dialog.output;
    EXPECT_NE(dialog.output.find("text=Tonefork is already running."), std::string::npos) << dialog.output;
    EXPECT_EQ(second.WaitForExit(30s), std::optional<int>(0));
    EXPECT_FALSE(std::filesystem::exists(second.LogPath())) << "the second instance must not open a log";
    EXPECT_EQ(first.LogText(), logBefore);
    EXPECT_EQ(ParseKeyValues(first.Control({"info"}).output).at("visible"), "1");

    ASSERT_EQ(first.Control({"close"}).exitCode, 0);
    EXPECT_EQ(first.WaitForExit(60s), std::optional<int>(0));
}

TEST_F(AppLifecycle, MissingAssetsAreLoggedWithTheirPathsAndTheWindowStillShows)
{
    ToneforkInstance app("lifecycle-noassets");
    std::filesystem::remove_all(app.Folder() + "/assets");
    app.Start();
    ASSERT_TRUE(app.WaitForLog("Exit icon load failed from ", 60s)) << app.LogText();
    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(messages, {"Logo load failed from ", "DravokSRV load failed from ",
                                           "Minimize icon load failed from ", "Exit icon load failed from "}));
    for (const std::string& message : messages)
    {
        if (message.find("load failed from ") != std::string::npos)
        {
            EXPECT_NE(message.find("lifecycle-noassets\\assets\\"), std::string::npos) << message;
            EXPECT_EQ(message.find(":\\"), message.find("from ") + 6) << "a full path: " << message;
        }
    }
    EXPECT_EQ(ParseKeyValues(app.Control({"info"}).output).at("visible"), "1");
    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));
}

TEST(Executable, IsA64BitGuiProgramThatNeedsOnlySystemLibraries)
{
    const CommandResult dump =
        RunCommand({"x86_64-w64-mingw32-objdump", "-p", Environment().dist + "/Tonefork.exe"}, 60s);
    ASSERT_EQ(dump.exitCode, 0) << dump.output;
    EXPECT_NE(dump.output.find("(PE32+)"), std::string::npos);
    EXPECT_NE(dump.output.find("(Windows GUI)"), std::string::npos);
    const std::set<std::string> system = {"ADVAPI32.dll", "AVRT.dll",   "d3d11.dll",    "D3DCOMPILER_47.dll",
                                          "dwmapi.dll",   "GDI32.dll",  "IMM32.dll",    "KERNEL32.dll",
                                          "msvcrt.dll",   "ole32.dll",  "OLEAUT32.dll", "SHELL32.dll",
                                          "USER32.dll",   "WINMM.dll",  "dxgi.dll",     "PROPSYS.dll",
                                          "COMCTL32.dll", "windowscodecs.dll"};
    std::istringstream lines(dump.output);
    int imports = 0;
    for (std::string line; std::getline(lines, line);)
    {
        const size_t at = line.find("DLL Name: ");
        if (at != std::string::npos)
        {
            ++imports;
            const std::string dll = line.substr(at + 10);
            EXPECT_TRUE(system.count(dll)) << "not a Windows system library: " << dll;
        }
    }
    EXPECT_GT(imports, 5);
}
