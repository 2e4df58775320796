// ./dev run and ./dev stop (scripts/run.sh) on a developer's machine, where
// Wine programs of their own run in the prefix their shell's WINEPREFIX
// names, and where a pid the run once had may belong to another process by
// the time they stop it: stop ends what run started, and nothing else.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "harness.h"

using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace
{
// The pids of the processes whose environment holds `entry`.
std::vector<pid_t> ProcessesWith(const std::string& entry)
{
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    for (dirent* d = proc != nullptr ? readdir(proc) : nullptr; d != nullptr; d = readdir(proc))
    {
        const pid_t pid = static_cast<pid_t>(std::atoi(d->d_name));
        const std::string environment = pid > 0 ? "\0"s + ReadFile("/proc/" + std::to_string(pid) + "/environ") : "";
        if (environment.find("\0"s + entry + "\0"s) != std::string::npos)
        {
            pids.push_back(pid);
        }
    }
    if (proc != nullptr)
    {
        closedir(proc);
    }
    return pids;
}

// A build folder of its own for run.sh (its run folder, a copy of the
// program for its log) beside the tier's build, whose tfctl it uses.
// Everything the run starts carries the folder in its environment; what
// is left of it at the end is killed, so that a failing run leaves nothing.
class DevRun
{
public:
    DevRun() : build(Environment().workRoot + "/dev-run-build"), marker("TONEFORK_BUILD_DIR=" + build)
    {
        fs::remove_all(build);
        fs::create_directories(build);
        fs::create_symlink(fs::absolute(fs::path(Environment().tfctl).parent_path()), build + "/mingw");
        fs::copy(Environment().dist, Dist(), fs::copy_options::recursive);
        fs::remove(Dist() + "/log.txt");
    }
    ~DevRun()
    {
        for (pid_t pid : ProcessesWith(marker))
        {
            kill(pid, SIGKILL);
        }
    }
    DevRun(const DevRun&) = delete;
    DevRun& operator=(const DevRun&) = delete;

    // run.sh start|stop as a developer's shell runs it, without a display
    // of its own (the run makes its virtual one and its sound server).
    CommandResult Script(const std::string& action) const
    {
        const char* scripts = std::getenv("TONEFORK_SCRIPTS");
        return RunCommand({"env", "-u", "DISPLAY", marker, "TONEFORK_DIST_DIR=" + Dist(),
                           std::string(scripts != nullptr ? scripts : "scripts") + "/run.sh", action},
                          150s);
    }
    std::string Dist() const { return build + "/dist"; }
    std::string RunFile(const std::string& name) const { return build + "/dev-run/" + name; }
    // Waits up to `timeout` until no process of the run is left.
    std::vector<pid_t> LeftAfter(std::chrono::milliseconds timeout) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<pid_t> left = ProcessesWith(marker);
        while (!left.empty() && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(200ms);
            left = ProcessesWith(marker);
        }
        return left;
    }

private:
    std::string build;
    std::string marker;
};

// A process of no run at all, sleeping until it is ended.
class Sleeper
{
public:
    Sleeper()
    {
        char sleep[] = "sleep";
        char seconds[] = "600";
        char* argv[] = {sleep, seconds, nullptr};
        if (posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) != 0)
        {
            pid = -1;
        }
    }
    ~Sleeper()
    {
        if (Running())
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;

    pid_t Pid() const { return pid; }
    bool Running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

private:
    pid_t pid = -1;
};

// The pid file's pid replaced by another one, the rest kept: as if the
// process had ended and its pid had since gone to `pid`.
void HandPidTo(const std::string& pidFile, pid_t pid)
{
    const std::string text = ReadFile(pidFile);
    const std::string rest = text.substr(std::min(text.find_first_of(" \n"), text.size()));
    std::ofstream(pidFile, std::ios::trunc) << pid << rest;
}
}  // namespace

TEST(DevRunStop, EndsWhatTheRunStartedAndNothingElse)
{
    // The developer's own Wine program, in the prefix of the shell's
    // WINEPREFIX (the tier's), and a process that now has a pid of the run.
    RegDeleteTree(kSettingsKey);
    ToneforkInstance theirs("dev-run-theirs");
    theirs.Start();
    ASSERT_TRUE(theirs.WaitForLog("Exit icon", 60s)) << theirs.Diagnosis();
    Sleeper unrelated;
    ASSERT_TRUE(unrelated.Running());
    DevRun run;

    const CommandResult started = run.Script("start");
    ASSERT_EQ(started.exitCode, 0) << started.output;
    const std::string runLog = run.Dist() + "/log.txt";
    for (int i = 0; i < 300 && CountStartingWith(LogMessages(ReadFile(runLog)), "Exit icon") == 0; ++i)
    {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(CountStartingWith(LogMessages(ReadFile(runLog)), "Exit icon"), 1u) << "the run's program did not come up";
    HandPidTo(run.RunFile("tone.pid"), unrelated.Pid());

    const CommandResult stopped = run.Script("stop");
    EXPECT_EQ(stopped.exitCode, 0) << stopped.output;
    EXPECT_TRUE(ContainsInOrder(LogMessages(ReadFile(runLog)), kShutdownTail)) << ReadFile(runLog);
    EXPECT_EQ(run.LeftAfter(5s), std::vector<pid_t>{}) << "processes of the run left running";
    EXPECT_TRUE(unrelated.Running()) << "the process that had a pid of the run was ended";
    EXPECT_FALSE(theirs.WaitForExit(0ms)) << "the developer's program was ended";
    EXPECT_EQ(ParseKeyValues(theirs.Control({"info", "5000"}).output)["found"], "1") << theirs.Diagnosis();
}
