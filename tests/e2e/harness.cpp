#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "log/log_format.h"

extern char** environ;

namespace
{
std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> SplitWords(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
    {
        words.push_back(word);
    }
    return words;
}

pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv)
    {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
    {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Polls the child until it ends or the deadline passes.
std::optional<int> WaitPid(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
        {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void KillAndReap(pid_t pid)
{
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

std::vector<std::string> WineArgs(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = Environment().wine;
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string HkcuKey(const std::string& key)
{
    return "HKCU\\" + key;
}
}  // namespace

const E2eEnvironment& Environment()
{
    static const E2eEnvironment env = [] {
        E2eEnvironment e;
        e.wine = SplitWords(EnvOr("TONEFORK_WINE", "wine"));
        e.dist = EnvOr("TONEFORK_DIST", "dist/Tonefork");
        e.tfctl = EnvOr("TONEFORK_TFCTL", "build/mingw/tfctl.exe");
        e.workRoot = EnvOr("TONEFORK_E2E_WORK", "/tmp/tonefork-e2e");
        e.audioProbe = EnvOr("TONEFORK_AUDIO_PROBE", "build/native/audio_probe");
        e.results = EnvOr("TONEFORK_E2E_RESULTS", e.workRoot.c_str());
        const std::string beside = std::filesystem::path(e.dist).parent_path() /
                                   (std::string("Tonefork-") + AppVersion + "-setup.exe");
        e.installer = EnvOr("TONEFORK_INSTALLER", beside.c_str());
        return e;
    }();
    return env;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout)
{
    CommandResult result;
    char path[] = "/tmp/tonefork-e2e-outXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
    {
        return result;
    }
    const pid_t pid = Spawn(argv, fd, fd);
    close(fd);
    if (pid > 0)
    {
        const std::optional<int> code = WaitPid(pid, timeout);
        if (!code)
        {
            KillAndReap(pid);
        }
        result.exitCode = code.value_or(-1);
    }
    result.output = ReadFile(path);
    unlink(path);
    return result;
}

CommandResult RunWine(const std::vector<std::string>& args, std::chrono::milliseconds timeout)
{
    return RunCommand(WineArgs(args), timeout);
}

std::map<std::string, std::string> ParseKeyValues(const std::string& line)
{
    std::map<std::string, std::string> values;
    std::istringstream in(line);
    for (std::string word; in >> word;)
    {
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
        {
            values[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return values;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LogMessages(const std::string& logText)
{
    std::vector<std::string> messages;
    std::istringstream in(logText);
    for (std::string line; std::getline(in, line);)
    {
        if (!line.empty() && line.back() == '\r')
        {
            line.pop_back();
        }
        const size_t bar = line.find(" | ");
        messages.push_back(bar == std::string::npos ? line : line.substr(bar + 3));
    }
    return messages;
}

bool ContainsInOrder(const std::vector<std::string>& messages, const std::vector<std::string>& expected)
{
    size_t next = 0;
    for (const std::string& message : messages)
    {
        if (next < expected.size() && message.rfind(expected[next], 0) == 0)
        {
            ++next;
        }
    }
    return next == expected.size();
}

size_t CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& message : messages)
    {
        count += message.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

void RegDeleteTree(const std::string& key)
{
    RunWine({"reg", "delete", HkcuKey(key), "/f"});
}

void RegSetDword(const std::string& key, const std::string& name, uint32_t value)
{
    RunWine({"reg", "add", HkcuKey(key), "/v", name, "/t", "REG_DWORD", "/d", std::to_string(value), "/f"});
}

void RegSetString(const std::string& key, const std::string& name, const std::string& value)
{
    RunWine({"reg", "add", HkcuKey(key), "/v", name, "/t", "REG_SZ", "/d", value, "/f"});
}

void RegDeleteValue(const std::string& key, const std::string& name)
{
    RunWine({"reg", "delete", HkcuKey(key), "/v", name, "/f"});
}

RegistryValue RegQuery(const std::string& key, const std::string& name)
{
    const CommandResult result = RunWine({"reg", "query", HkcuKey(key), "/v", name});
    std::istringstream in(result.output);
    for (std::string line; std::getline(in, line);)
    {
        std::istringstream words(line);
        std::string valueName;
        std::string type;
        if (words >> valueName >> type && valueName == name && type.rfind("REG_", 0) == 0)
        {
            std::string data;
            std::getline(words >> std::ws, data);
            if (!data.empty() && data.back() == '\r')
            {
                data.pop_back();
            }
            return std::make_pair(type, data);
        }
    }
    return std::nullopt;
}

RegistryValue Dword(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return std::make_pair(std::string("REG_DWORD"), std::string(text));
}

RegistryValue Text(const std::string& value)
{
    return std::make_pair(std::string("REG_SZ"), value);
}

ToneforkInstance::ToneforkInstance(const std::string& name)
    : folder(Environment().workRoot + "/" + name), wineOutput(folder + "/wine-output.txt")
{
    namespace fs = std::filesystem;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy(Environment().dist, folder, fs::copy_options::recursive);
    // A program started by hand from dist leaves its log and toolkit state
    // there; each test must begin without them.
    fs::remove(folder + "/log.txt");
    fs::remove(folder + "/imgui.ini");
}

// Wine's own output goes to the scratch folder: an uninstaller removes only
// what belongs in the program's folder, and then the folder itself.
ToneforkInstance::ToneforkInstance(InstalledFolder installed)
    : folder(std::move(installed.path)), wineOutput(Environment().workRoot + "/installed-wine-output.txt")
{
    std::filesystem::create_directories(Environment().workRoot);
}

ToneforkInstance::~ToneforkInstance()
{
    if (pid > 0)
    {
        KillAndReap(pid);
        WaitForWineIdle();
    }
}

void ToneforkInstance::Start()
{
    earlierLog = LogText();
    const int fd = open(wineOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid = Spawn(WineArgs({folder + "/Tonefork.exe"}), fd, fd);
    close(fd);
}

bool ToneforkInstance::WaitForLog(const std::string& needle, std::chrono::milliseconds timeout, size_t occurrences)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Each start writes its log afresh; until this one has, the file is the
    // last run's, whose lines say nothing of this start. (A run's first line
    // alone does not tell them apart: two starts may fall in one second.)
    const auto text = [this] {
        std::string log = LogText();
        return !earlierLog.empty() && log == earlierLog ? std::string() : log;
    };
    while (CountStartingWith(LogMessages(text()), needle) < occurrences)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

std::optional<int> ToneforkInstance::WaitForExit(std::chrono::milliseconds timeout)
{
    if (pid <= 0)
    {
        return std::nullopt;
    }
    const std::optional<int> code = WaitPid(pid, timeout);
    if (code)
    {
        pid = -1;
    }
    return code;
}

CommandResult ToneforkInstance::Control(const std::vector<std::string>& args)
{
    std::vector<std::string> all{Environment().tfctl};
    all.insert(all.end(), args.begin(), args.end());
    return RunWine(all);
}

std::string ToneforkInstance::Diagnosis()
{
    return "log:\n" + LogText() + "\nWine's output:\n" + ReadFile(wineOutput) + "\nwindows:\n" +
           Control({"windows"}).output;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                           const std::string& errorPath)
{
    const int outFd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd >= 0 && errFd >= 0)
    {
        pid = Spawn(argv, outFd, errFd);
    }
    if (outFd >= 0)
    {
        close(outFd);
    }
    if (errFd >= 0)
    {
        close(errFd);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid(other.pid)
{
    other.pid = -1;
}

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Running()
{
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid)
    {
        pid = -1;
    }
    return pid > 0;
}

void ChildProcess::Stop()
{
    if (pid <= 0)
    {
        return;
    }
    // SIGTERM lets pacat and parec close their streams; a child that ignores
    // it is killed.
    kill(pid, SIGTERM);
    if (!WaitPid(pid, std::chrono::seconds(3)))
    {
        KillAndReap(pid);
    }
    pid = -1;
}

// In periods of 10 ms, as a Windows program's stream reaches its endpoint:
// with pacat's default of two seconds ahead, the null sink renders in large,
// uneven blocks for the first seconds, and its monitor stutters with it.
ChildProcess PlayRawAudio(const std::string& sink, const std::string& path)
{
    return ChildProcess({"pacat", "-d", sink, "--format=float32le", "--rate=48000", "--channels=2", "--raw",
                         "--latency-msec=10", path},
                        "/dev/null", path + ".play.log");
}

ChildProcess RecordRawAudio(const std::string& source, const std::string& path)
{
    return ChildProcess({"parec", "-d", source, "--format=float32le", "--rate=48000", "--channels=2", "--raw",
                         "--latency-msec=20"},
                        path, path + ".log");
}

namespace
{
// The first line of a Wine tool's output, without its line end.
std::string FirstLine(const std::string& output)
{
    std::string line = output.substr(0, output.find('\n'));
    if (!line.empty() && line.back() == '\r')
    {
        line.pop_back();
    }
    return line;
}
}  // namespace

std::string WineEnvironmentVariable(const std::string& name)
{
    return FirstLine(RunWine({"cmd", "/c", "echo", "%" + name + "%"}).output);
}

std::string UnixPathOf(const std::string& windowsPath)
{
    return FirstLine(RunWine({"winepath", "-u", windowsPath}).output);
}

std::string WindowsPathOf(const std::string& unixPath)
{
    return FirstLine(RunWine({"winepath", "-w", unixPath}).output);
}

void WaitForWineIdle()
{
    RunWine({Environment().tfctl, "wait-gone", "15000"});
}

std::string NullSinkModule(const std::string& name)
{
    // `pactl list short modules`: index, module name, arguments, tab-separated.
    std::istringstream lines(RunCommand({"pactl", "list", "short", "modules"}, std::chrono::seconds(10)).output);
    for (std::string line; std::getline(lines, line);)
    {
        if (line.find("\tmodule-null-sink\t") != std::string::npos &&
            line.find("sink_name=" + name + " ") != std::string::npos)
        {
            return line.substr(0, line.find('\t'));
        }
    }
    return {};
}

bool LoadNullSink(const std::string& name, const std::string& description)
{
    return RunCommand({"pactl", "load-module", "module-null-sink", "sink_name=" + name, "rate=48000", "channels=2",
                       "sink_properties=device.description=\"" + description + "\""},
                      std::chrono::seconds(10))
                   .exitCode == 0 &&
           !NullSinkModule(name).empty();
}

bool UnloadNullSink(const std::string& name)
{
    const std::string module = NullSinkModule(name);
    return !module.empty() && RunCommand({"pactl", "unload-module", module}, std::chrono::seconds(10)).exitCode == 0;
}

ExtraSink::ExtraSink(std::string sinkName, const std::string& description) : name(std::move(sinkName))
{
    plugged = LoadNullSink(name, description);
}

ExtraSink::~ExtraSink()
{
    if (plugged)
    {
        UnloadNullSink(name);
    }
}

UnpluggedSink::UnpluggedSink(std::string sinkName, std::string sinkDescription)
    : name(std::move(sinkName)), description(std::move(sinkDescription))
{
    unplugged = UnloadNullSink(name);
}

bool UnpluggedSink::PlugBack()
{
    if (unplugged)
    {
        unplugged = !LoadNullSink(name, description);
    }
    return !unplugged && !NullSinkModule(name).empty();
}
