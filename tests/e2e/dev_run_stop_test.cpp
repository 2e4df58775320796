// ./dev run and ./dev stop (scripts/run.sh) on a developer's machine, where
// Wine programs of their own run in the prefix their shell's WINEPREFIX
// names, and where a pid the run once had may belong to another process by
// the time they stop it: stop ends what run started, and nothing else.
#include <gtest/gtest.h>

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
    for (const fs::directory_entry& process : fs::directory_iterator("/proc"))
    {
        const pid_t pid = std::atoi(process.path().filename().c_str());
        if (pid > 0 && ("\0"s + ReadFile(process.path() / "environ")).find("\0"s + entry + "\0"s) != std::string::npos)
        {
            pids.push_back(pid);
        }
    }
    return pids;
}

// A build folder of its own for run.sh (its run folder, a copy of the
// program for its log) beside the tier's build, whose tfctl it uses.
// Everything the run starts carries the folder in its environment; what
// is left of it at the end is killed, so that a failing run leaves nothing,
// and its Wine prefix (most of a gigabyte) is removed, its logs kept.
struct DevRun
{
    const std::string build = Environment().workRoot + "/dev-run-build";
    const std::string dist = build + "/dist";
    const std::string marker = "TONEFORK_BUILD_DIR=" + build;

    DevRun()
    {
        fs::remove_all(build);
        fs::create_directories(build);
        fs::create_symlink(fs::absolute(fs::path(Environment().tfctl).parent_path()), build + "/mingw");
        fs::copy(Environment().dist, dist, fs::copy_options::recursive);
        fs::remove(dist + "/log.txt");
    }
    ~DevRun()
    {
        for (pid_t pid : ProcessesWith(marker))
        {
            kill(pid, SIGKILL);
        }
        fs::remove_all(build + "/dev-run/prefix");
    }

    // run.sh start|stop as a developer's shell runs it, without a display
    // of its own (the run makes its virtual one and its sound server).
    CommandResult Script(const std::string& action) const
    {
        const char* scripts = std::getenv("TONEFORK_SCRIPTS");
        return RunCommand({"env", "-u", "DISPLAY", marker, "TONEFORK_DIST_DIR=" + dist,
                           std::string(scripts != nullptr ? scripts : "scripts") + "/run.sh", action},
                          150s);
    }
    size_t LogCount(const std::string& line) const
    {
        return CountStartingWith(LogMessages(ReadFile(dist + "/log.txt")), line);
    }
};

// A process of no run at all, sleeping until it is ended.
struct Sleeper
{
    pid_t pid = -1;

    Sleeper()
    {
        char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("600"), nullptr};
        posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ);
    }
    ~Sleeper()
    {
        if (Running())
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    bool Running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
};

// The pid file's pid replaced, the rest kept: as if the process had ended
// and its pid had since gone to `pid`.
void HandPidTo(const std::string& pidFile, pid_t pid)
{
    const std::string text = ReadFile(pidFile);
    std::ofstream(pidFile, std::ios::trunc) << pid << text.substr(std::min(text.find_first_of(" \n"), text.size()));
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
    for (int i = 0; i < 300 && run.LogCount("Exit icon") == 0; ++i)
    {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(run.LogCount("Exit icon"), 1u) << "the run's program did not come up";
    HandPidTo(run.build + "/dev-run/tone.pid", unrelated.pid);

    const CommandResult stopped = run.Script("stop");
    EXPECT_EQ(stopped.exitCode, 0) << stopped.output;
    EXPECT_TRUE(ContainsInOrder(LogMessages(ReadFile(run.dist + "/log.txt")), kShutdownTail));
    std::vector<pid_t> left = ProcessesWith(run.marker);
    for (int i = 0; i < 25 && !left.empty(); ++i)
    {
        std::this_thread::sleep_for(200ms);
        left = ProcessesWith(run.marker);
    }
    EXPECT_EQ(left, std::vector<pid_t>{}) << "processes of the run left running";
    EXPECT_TRUE(unrelated.Running()) << "the process that had a pid of the run was ended";
    EXPECT_FALSE(theirs.WaitForExit(0ms)) << "the developer's program was ended";
    EXPECT_EQ(ParseKeyValues(theirs.Control({"info", "5000"}).output)["found"], "1") << theirs.Diagnosis();
}
