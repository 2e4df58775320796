// The installer and its uninstaller as a deployment script runs them:
// silently, for the prefix's user, with and without Tonefork running. Every
// test leaves the shared prefix without a trace of an installation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <thread>

#include "harness.h"
#include "settings/run_entry.h"
#include "tonefork_version.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{
const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tonefork";
const std::vector<std::string> kInstalledFiles = {
    "Tonefork.exe",    "Uninstall.exe",          "manual.html",         "third-party-licenses.txt",
    "assets/logo.png", "assets/Dravok_logo.png", "assets/minimize.png", "assets/exit.png"};

// Where an installation for the prefix's user lands, as the programs and as
// the test spell it, and the temporary folder its uninstaller runs from.
struct Places
{
    std::string folderWin;
    std::string exeWin;
    std::string folder;
    std::string shortcut;
    std::string temp;
};

const Places& Installed()
{
    static const Places places = [] {
        Places p;
        p.folderWin = WineEnvironmentVariable("LOCALAPPDATA") + "\\Programs\\Tonefork";
        p.exeWin = p.folderWin + "\\Tonefork.exe";
        p.folder = UnixPathOf(p.folderWin);
        p.shortcut =
            UnixPathOf(WineEnvironmentVariable("APPDATA") + "\\Microsoft\\Windows\\Start Menu\\Programs\\Tonefork.lnk");
        p.temp = UnixPathOf(WineEnvironmentVariable("TEMP"));
        return p;
    }();
    return places;
}

// A folder of the user's own, which /D= names: it does not exist until a
// test makes it.
const Places& Users()
{
    static const Places places = [] {
        Places p;
        p.folder = Environment().workRoot + "/installer-users-folder";
        p.folderWin = WindowsPathOf(p.folder);
        return p;
    }();
    return places;
}

CommandResult RunInstaller(std::vector<std::string> args = {})
{
    args.insert(args.begin(), {Environment().installer, "/S"});
    return RunWine(args, 120s);
}

// Runs the command the Uninstall entry gives scripts, plus `extra`. The
// uninstaller hands its work to a copy of itself in the temporary folder and
// returns at once; `lastToGo` is what it removes last: the program's folder,
// or its own file when the folder is to stay.
bool UninstallQuietly(const std::vector<std::string>& extra = {}, const std::string& lastToGo = Installed().folder)
{
    const RegistryValue quiet = RegQuery(kUninstallKey, "QuietUninstallString");
    std::istringstream words(quiet ? quiet->second : "");
    std::vector<std::string> args;
    // A Windows command line: quotes group, backslashes are path separators.
    for (std::string word; words >> std::quoted(word, '"', '\0');)
    {
        args.push_back(word);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    if (args.size() <= extra.size() || RunWine(args, 120s).exitCode != 0)
    {
        return false;
    }
    for (int attempt = 0; attempt < 600 && fs::exists(lastToGo); ++attempt)
    {
        std::this_thread::sleep_for(100ms);
    }
    return !fs::exists(lastToGo);
}

// The "Launch with Windows" value for the program at `exeWin`, made by the
// program's own function, so that the test writes it as the program does.
std::string RunEntryFor(const std::string& exeWin)
{
    const std::wstring command = RunEntryCommand(std::wstring(exeWin.begin(), exeWin.end()));
    return std::string(command.begin(), command.end());  // the test's paths are ASCII
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class Installer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        programsFolderWasThere = fs::exists(fs::path(Installed().folder).parent_path());
    }
    void SetUp() override
    {
        RemoveEverything();
    }
    void TearDown() override
    {
        RemoveEverything();
    }
    // Also what the installer makes and its uninstaller leaves by design: the
    // user's programs folder, and the uninstaller's copy of itself, which
    // Windows removes with the temporary files.
    static void RemoveEverything()
    {
        fs::remove_all(Installed().folder);
        fs::remove_all(Users().folder);
        std::error_code notEmpty;
        if (!programsFolderWasThere)
        {
            fs::remove(fs::path(Installed().folder).parent_path(), notEmpty);
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(Installed().temp))
        {
            if (entry.path().filename().string().rfind("~nsu", 0) == 0)
            {
                fs::remove_all(entry.path());
            }
        }
        fs::remove(Installed().shortcut);
        RegDeleteTree(kUninstallKey);
        RegDeleteTree(kSettingsKey);
        RegDeleteValue(kRunKey, kRunValue);
    }

    static inline bool programsFolderWasThere = true;
};

void StartAndWaitForWindow(ToneforkInstance& app)
{
    app.Start();
    ASSERT_TRUE(app.WaitForLog("Exit icon", 60s)) << app.LogText();
}

// The program was asked to quit as its tray menu's Exit does, and ended the
// normal way.
void ExpectQuitTheTrayWay(const std::string& logText)
{
    const std::vector<std::string> messages = LogMessages(logText);
    std::vector<std::string> expected{"Tray: Exit requested."};
    expected.insert(expected.end(), kShutdownTail.begin(), kShutdownTail.end());
    EXPECT_TRUE(ContainsInOrder(messages, expected)) << logText;
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), kShutdownTail.back());
}

uint32_t Le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// Ends the Tonefork the installer started, also when a test stops half-way.
struct QuitsTheStartedCopy
{
    ~QuitsTheStartedCopy()
    {
        RunWine({Environment().tfctl, "command", "1003"});
        WaitForWineIdle();
    }
};
}  // namespace

// What Explorer shows for the downloaded file and for the program it
// installs, read from their resources.
TEST(InstallerFile, CarriesTheProductIconAndVersion)
{
    const std::string icon = ReadFile(fs::path(__FILE__).parent_path() / "../../src/app/resources/tonefork.ico");
    ASSERT_GE(icon.size(), 6u);
    const unsigned images = static_cast<unsigned char>(icon[4]) | static_cast<unsigned char>(icon[5]) << 8;
    ASSERT_GT(images, 0u);
    // As VS_FIXEDFILEINFO holds them: major.minor, then patch.0.
    const uint32_t high = TONEFORK_VERSION_MAJOR << 16 | TONEFORK_VERSION_MINOR;
    const uint32_t low = TONEFORK_VERSION_PATCH << 16;

    for (const std::string& file : {Environment().installer, Environment().dist + "/Tonefork.exe"})
    {
        SCOPED_TRACE(file);
        const std::string bytes = ReadFile(file);
        ASSERT_FALSE(bytes.empty());
        for (unsigned i = 0; i < images; ++i)
        {
            const size_t entry = 6 + 16 * i;
            EXPECT_NE(bytes.find(icon.substr(Le32(icon, entry + 12), Le32(icon, entry + 8))), std::string::npos)
                << "picture " << i << " of the product's icon";
        }

        // VS_FIXEDFILEINFO: signature, structure version, file version, product version.
        const size_t fixed = bytes.find(std::string("\xBD\x04\xEF\xFE", 4));
        ASSERT_NE(fixed, std::string::npos) << "no version record";
        EXPECT_EQ(Le32(bytes, fixed + 8), high);
        EXPECT_EQ(Le32(bytes, fixed + 12), low);
        EXPECT_EQ(Le32(bytes, fixed + 16), high);
        EXPECT_EQ(Le32(bytes, fixed + 20), low);
    }
}

TEST_F(Installer, SilentInstallLaysOutTheProgramThatRunsFromThere)
{
    const CommandResult setup = RunInstaller();
    ASSERT_EQ(setup.exitCode, 0) << setup.output;

    for (const std::string& file : kInstalledFiles)
    {
        EXPECT_TRUE(fs::is_regular_file(Installed().folder + "/" + file)) << file;
    }
    EXPECT_TRUE(ReadFile(Installed().folder + "/Tonefork.exe") == ReadFile(Environment().dist + "/Tonefork.exe"));
    EXPECT_NE(ReadFile(Installed().shortcut).find(Installed().exeWin), std::string::npos)
        << "a Start-menu entry that opens the installed program";

    const std::string uninstaller = "\"" + Installed().folderWin + "\\Uninstall.exe\"";
    EXPECT_EQ(RegQuery(kUninstallKey, "DisplayName"), Text("Tonefork"));
    EXPECT_EQ(RegQuery(kUninstallKey, "DisplayVersion"), Text(TONEFORK_VERSION));
    EXPECT_EQ(RegQuery(kUninstallKey, "Publisher"), Text("Dravok"));
    EXPECT_EQ(RegQuery(kUninstallKey, "DisplayIcon"), Text(Installed().exeWin + ",0"));
    EXPECT_EQ(RegQuery(kUninstallKey, "UninstallString"), Text(uninstaller));
    EXPECT_EQ(RegQuery(kUninstallKey, "QuietUninstallString"), Text(uninstaller + " /S"));
    const RegistryValue size = RegQuery(kUninstallKey, "EstimatedSize");
    ASSERT_TRUE(size);
    EXPECT_GE(std::stoul(size->second, nullptr, 16) * 1024, fs::file_size(Environment().dist + "/Tonefork.exe"))
        << "in KiB, at least the program";

    ToneforkInstance app(InstalledFolder{Installed().folder});
    StartAndWaitForWindow(app);
    EXPECT_EQ(LogMessages(app.LogText()).front(), "==== Tonefork log start (version " TONEFORK_VERSION ") ====");
    ASSERT_EQ(app.Control({"command", "1003"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0));
}

TEST_F(Installer, SilentUpgradeOverARunningCopyClosesItKeepsTheSettingsAndStartsItAgain)
{
    ASSERT_EQ(RunInstaller().exitCode, 0);
    const std::string exe = Installed().folder + "/Tonefork.exe";
    // An earlier build: bytes after the image, which the loader ignores, make
    // the replacement visible.
    std::ofstream(exe, std::ios::app | std::ios::binary) << "an earlier build";
    RegSetDword(kSettingsKey, "Volume", 73);
    RegSetString(kRunKey, kRunValue, RunEntryFor(Installed().exeWin));

    ToneforkInstance app(InstalledFolder{Installed().folder});
    StartAndWaitForWindow(app);
    // The copy started again after the upgrade writes a new log.txt; the
    // earlier one goes on writing its own under another name.
    const std::string earlierLog = Installed().folder + "/log-of-the-earlier-run.txt";
    fs::rename(app.LogPath(), earlierLog);
    QuitsTheStartedCopy startedAgain;
    const CommandResult upgrade = RunInstaller();
    EXPECT_EQ(upgrade.exitCode, 0) << upgrade.output;
    EXPECT_EQ(app.WaitForExit(10s), std::optional<int>(0)) << "ended before the installer returned";
    ExpectQuitTheTrayWay(ReadFile(earlierLog));
    EXPECT_TRUE(ReadFile(exe) == ReadFile(Environment().dist + "/Tonefork.exe")) << "the program was replaced";
    EXPECT_EQ(RegQuery(kSettingsKey, "Volume"), Dword(73));
    EXPECT_EQ(RegQuery(kRunKey, kRunValue), Text(RunEntryFor(Installed().exeWin)));
    // The log is written beside the program that runs.
    EXPECT_TRUE(app.WaitForLog("Exit icon", 60s)) << "no new Tonefork from the installed folder";
}

TEST_F(Installer, SilentUninstallClosesTheRunningProgramAndKeepsOnlyTheSettings)
{
    ASSERT_EQ(RunInstaller().exitCode, 0);
    // Hidden in the tray, as Tonefork mostly runs: no window on the screen.
    RegSetDword(kSettingsKey, "MinimizeToTray", 1);
    RegSetString(kRunKey, kRunValue, RunEntryFor(Installed().exeWin));
    ToneforkInstance app(InstalledFolder{Installed().folder});
    StartAndWaitForWindow(app);
    // The uninstaller deletes the log after the program has ended; a file
    // open on the Linux side still reads what was written.
    std::ifstream log(app.LogPath(), std::ios::binary);

    ASSERT_TRUE(UninstallQuietly());
    EXPECT_EQ(app.WaitForExit(10s), std::optional<int>(0));
    std::ostringstream logText;
    logText << log.rdbuf();
    ExpectQuitTheTrayWay(logText.str());
    EXPECT_FALSE(fs::exists(Installed().shortcut));
    EXPECT_EQ(RegQuery(kUninstallKey, "DisplayName"), std::nullopt);
    EXPECT_EQ(RegQuery(kRunKey, kRunValue), std::nullopt);
    EXPECT_EQ(RegQuery(kSettingsKey, "MinimizeToTray"), Dword(1));
}

TEST_F(Installer, UninstallRemovesTheSettingsOnlyWhenAskedAndSparesAPortableCopysEntry)
{
    ASSERT_EQ(RunInstaller().exitCode, 0);
    RegSetDword(kSettingsKey, "Volume", 73);
    ToneforkInstance portable("installer-portable");
    const std::string portableEntry = RunEntryFor(WindowsPathOf(portable.Folder() + "/Tonefork.exe"));
    RegSetString(kRunKey, kRunValue, portableEntry);

    ASSERT_TRUE(UninstallQuietly({"/RemoveSettings"}));
    EXPECT_EQ(RegQuery(kSettingsKey, "Volume"), std::nullopt);
    EXPECT_EQ(RegQuery(kRunKey, kRunValue), Text(portableEntry));
}

// An upgrade that names another folder than the installed copy's.
TEST_F(Installer, UpgradeIntoAnotherFolderLeavesNoCopyBehind)
{
    ASSERT_EQ(RunInstaller().exitCode, 0);
    RegSetDword(kSettingsKey, "Volume", 73);
    // Bare and in other letters, as an older or hand-made entry may hold it.
    std::string bare = Installed().exeWin;
    bare[0] = 'c';
    RegSetString(kRunKey, kRunValue, bare);

    const CommandResult upgrade = RunInstaller({"/D=" + Users().folderWin});
    ASSERT_EQ(upgrade.exitCode, 0) << upgrade.output;
    EXPECT_FALSE(fs::exists(Installed().folder)) << "the earlier copy is left";
    const std::string exeWin = Users().folderWin + "\\Tonefork.exe";
    EXPECT_EQ(RegQuery(kUninstallKey, "InstallLocation"), Text(Users().folderWin));
    EXPECT_NE(ReadFile(Installed().shortcut).find(exeWin), std::string::npos);
    EXPECT_EQ(RegQuery(kSettingsKey, "Volume"), Dword(73));
    EXPECT_EQ(RegQuery(kRunKey, kRunValue), Text(RunEntryFor(exeWin))) << "Launch with Windows moves along";
}

// Given a folder of the user's, the installer makes a Tonefork folder of its
// own inside it, and nothing that it or its uninstaller does touches the
// user's files, also those under the names of Tonefork's own.
TEST_F(Installer, TheUsersFilesSurviveInstallAStrayUninstallerAndUninstall)
{
    const std::map<std::string, std::string> usersFiles = {{"assets/logo.png", "the user's own picture"},
                                                           {"log.txt", "the user's own notes"},
                                                           {"Tonefork/assets/mine.png", "a picture added later"}};
    WriteFile(Users().folder + "/assets/logo.png", usersFiles.at("assets/logo.png"));
    WriteFile(Users().folder + "/log.txt", usersFiles.at("log.txt"));
    const CommandResult setup = RunInstaller({"/D=" + Users().folderWin});
    ASSERT_EQ(setup.exitCode, 0) << setup.output;
    EXPECT_EQ(RegQuery(kUninstallKey, "InstallLocation"), Text(Users().folderWin + "\\Tonefork"));
    WriteFile(Users().folder + "/Tonefork/assets/mine.png", usersFiles.at("Tonefork/assets/mine.png"));

    // A copy of the uninstaller beside the user's files, started as it starts
    // its own copy in the temporary folder (in place, so waited for).
    fs::copy_file(Users().folder + "/Tonefork/Uninstall.exe", Users().folder + "/Uninstall.exe");
    EXPECT_EQ(RunWine({Users().folder + "/Uninstall.exe", "/S", "_?=" + Users().folderWin}, 120s).exitCode, 3);
    fs::remove(Users().folder + "/Uninstall.exe");

    ASSERT_TRUE(UninstallQuietly({}, Users().folder + "/Tonefork/Uninstall.exe")) << "the installed one still works";
    EXPECT_FALSE(fs::exists(Users().folder + "/Tonefork/Tonefork.exe"));
    for (const auto& [path, bytes] : usersFiles)
    {
        EXPECT_EQ(ReadFile(Users().folder + "/" + path), bytes) << path;
    }
}

TEST_F(Installer, RefusesAToneforkFolderThatHoldsOtherFiles)
{
    WriteFile(Users().folder + "/Tonefork/log.txt", "the user's own notes");
    EXPECT_EQ(RunInstaller({"/D=" + Users().folderWin}).exitCode, 3);
    EXPECT_EQ(ReadFile(Users().folder + "/Tonefork/log.txt"), "the user's own notes");
    EXPECT_FALSE(fs::exists(Users().folder + "/Tonefork/Tonefork.exe"));
    EXPECT_EQ(RegQuery(kUninstallKey, "InstallLocation"), std::nullopt);
}
