#pragma once

// Drives the real Tonefork.exe under Wine from the outside, as a user and
// the system would: its own copy of the program folder (so its own log.txt),
// the registry through `wine reg`, the window through the tfctl helper.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Settings of the e2e run, from the environment that ./dev test sets up.
struct E2eEnvironment
{
    std::vector<std::string> wine;  // the Wine launcher, split on spaces
    std::string dist;               // dist/Tonefork
    std::string tfctl;              // tfctl.exe
    std::string workRoot;           // scratch folder of this run
    std::string audioProbe;         // the native audio analysis tool
    std::string results;            // where measured figures are written
    std::string installer;          // the setup program built beside dist/Tonefork
};
const E2eEnvironment& Environment();

struct CommandResult
{
    int exitCode = -1;  // -1: did not finish in time (it was killed)
    std::string output; // stdout and stderr together
};

// Runs a program to completion (bounded by timeout) and captures its output.
CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);
CommandResult RunWine(const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));

// key=value pairs of one line of tfctl or audio_probe output.
std::map<std::string, std::string> ParseKeyValues(const std::string& line);

std::string ReadFile(const std::string& path);
// The lines of log.txt with the timestamp and CRLF taken off.
std::vector<std::string> LogMessages(const std::string& logText);
// True when `expected` occur in `messages` in this order (others may lie between).
bool ContainsInOrder(const std::vector<std::string>& messages, const std::vector<std::string>& expected);
size_t CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix);

// The program's settings key under HKCU, and its "Launch with Windows" entry.
inline const std::string kSettingsKey = "SOFTWARE\\Wavecaster";
inline const std::string kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::string kRunValue = "Wavecaster";

// The last lines of the log of a program that ended the normal way.
inline const std::vector<std::string> kShutdownTail = {
    "Process exit.",
    "SaveSettings: ",
    "System tray icon removed.",
    "Unregistered endpoint notifications.",
    "CleanupDeviceD3D done.",
};
// HKCU registry access through Wine's own reg tool.
void RegDeleteTree(const std::string& key);
void RegSetDword(const std::string& key, const std::string& name, uint32_t value);
void RegSetString(const std::string& key, const std::string& name, const std::string& value);
void RegDeleteValue(const std::string& key, const std::string& name);
// A value's type and data as reg query prints them, or nothing if absent.
using RegistryValue = std::optional<std::pair<std::string, std::string>>;
RegistryValue RegQuery(const std::string& key, const std::string& name);
RegistryValue Dword(uint32_t value);
RegistryValue Text(const std::string& value);

// Paths between the two sides: %NAME% as Wine's shell expands it, and one
// file's name as Linux and as the programs under Wine spell it.
std::string WineEnvironmentVariable(const std::string& name);
std::string UnixPathOf(const std::string& windowsPath);
std::string WindowsPathOf(const std::string& unixPath);

// The private sound server's null sinks, the test desktop's playback
// devices (made by scripts/services.sh). A description is given as the
// module argument takes it, spaces escaped ("HDMI\\ Output").
// The index of the module that made the sink `name`; empty when there is none.
std::string NullSinkModule(const std::string& name);
bool LoadNullSink(const std::string& name, const std::string& description);
bool UnloadNullSink(const std::string& name);

// A playback device plugged in for one test (before the program starts, as
// Wine lists devices only then) and taken out again, also when it fails.
class ExtraSink
{
public:
    ExtraSink(std::string name, const std::string& description);
    ~ExtraSink();
    ExtraSink(const ExtraSink&) = delete;
    ExtraSink& operator=(const ExtraSink&) = delete;

    bool Plugged() const { return plugged; }

private:
    std::string name;
    bool plugged = false;
};

// A null sink of the private sound server taken away for one test and put
// back as it was made (scripts/services.sh), also when the test fails. The
// description is given as the module argument takes it (spaces escaped).
class UnpluggedSink
{
public:
    UnpluggedSink(std::string name, std::string description);
    ~UnpluggedSink() { PlugBack(); }
    UnpluggedSink(const UnpluggedSink&) = delete;
    UnpluggedSink& operator=(const UnpluggedSink&) = delete;

    bool Unplugged() const { return unplugged; }
    bool PlugBack();

private:
    const std::string name;
    const std::string description;
    bool unplugged = false;
};

// A folder where the program is already, such as one the installer made.
struct InstalledFolder
{
    std::string path;
};

// One installed copy of the program and at most one running process of it.
class ToneforkInstance
{
public:
    // A fresh copy of dist/Tonefork under the run's scratch folder.
    explicit ToneforkInstance(const std::string& name);
    // The copy in that folder, as it is.
    explicit ToneforkInstance(InstalledFolder installed);
    ~ToneforkInstance();
    ToneforkInstance(const ToneforkInstance&) = delete;
    ToneforkInstance& operator=(const ToneforkInstance&) = delete;

    const std::string& Folder() const { return folder; }
    std::string LogPath() const { return folder + "/log.txt"; }
    std::string LogText() const { return ReadFile(LogPath()); }

    void Start();
    // Waits until log.txt holds `occurrences` lines that start with `needle`,
    // once the last Start has written it.
    bool WaitForLog(const std::string& needle, std::chrono::milliseconds timeout, size_t occurrences = 1);
    // Exit code of the process, or nothing if it is still running at the timeout.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    bool Running() const { return pid > 0; }
    // Runs tfctl with these arguments against the running window.
    CommandResult Control(const std::vector<std::string>& args);
    // For a failure message when the program did not come up: its log, what
    // Wine printed, and the windows on the screen.
    std::string Diagnosis();

private:
    std::string folder;
    std::string wineOutput;
    pid_t pid = -1;
    std::string earlierLog;  // the log as it was before the last Start
};

// A helper program running in the background (a player, a recorder) until
// Stop or destruction, which end it by its pid.
class ChildProcess
{
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputPath, const std::string& errorPath);
    ChildProcess(ChildProcess&& other) noexcept;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess& operator=(ChildProcess&&) = delete;

    bool Running();
    void Stop();

private:
    pid_t pid = -1;
};

// Raw audio through PulseAudio, in the format audio_analysis.h reads:
// float32 little endian, two channels, 48 kHz. A sink is played by its name
// ("speakers"), a recording taken from a source ("headphones.monitor").
ChildProcess PlayRawAudio(const std::string& sink, const std::string& path);
ChildProcess RecordRawAudio(const std::string& source, const std::string& path);

// Waits until the program has no window left and every process of this Wine
// prefix has ended, so the next test starts on a clean desktop.
void WaitForWineIdle();
