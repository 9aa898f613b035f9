#include "platform/process.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Process, NoNameOrUnknownNameMatchesNothing)
{
    EXPECT_EQ(CountProcessesByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(nullptr), 0);
    EXPECT_EQ(CountProcessesByName("quillmark-no-such-process.exe"), 0);
    EXPECT_EQ(TerminateProcessByName("quillmark-no-such-process.exe"), 0);
    EXPECT_EQ(CountProcessesByName(""), 0);
}

} // namespace

#ifndef _WIN32

#include "platform/selfpath.h"
#include "tests/unit/support_tempdir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Copies of the sleeper program under names of the test's choosing, each started as a child; whatever is
// still running at the end is killed and reaped.
class Sleepers
{
public:
    Sleepers() { prefix_ = "quillmark-process-test-" + std::to_string(getpid()) + "-"; }
    ~Sleepers()
    {
        for (pid_t pid : running_) {
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }

    // A unique name for this test run, long enough that the kernel's 15-byte command name is cut short.
    std::string Name(const std::string &tag) const { return prefix_ + tag; }

    std::string Install(const std::string &name)
    {
        const std::string path = dir_.File(name);
        std::filesystem::copy_file(QUILLMARK_SLEEPER, path,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    // Starts the program at path and returns once it is ready for signals; -1 when it did not come up.
    pid_t Start(const std::string &path, bool ignoreTerm = false)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(ready[1], STDOUT_FILENO);
            close(ready[0]);
            close(ready[1]);
            const char *args[] = {path.c_str(), ignoreTerm ? "--ignore-term" : nullptr, nullptr};
            execv(path.c_str(), const_cast<char *const *>(args));
            _exit(127);
        }
        close(ready[1]);
        if (pid < 0) {
            close(ready[0]);
            return -1;
        }
        running_.push_back(pid);
        pollfd wait = {ready[0], POLLIN, 0};
        char byte = 0;
        const bool up = poll(&wait, 1, 20000) == 1 && read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        // Start times are counted in clock ticks: let the next process start in a later tick.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return up ? pid : -1;
    }

    // Waits for the child to end (at most a few seconds) and returns its wait status; -1 when it runs on.
    int Reap(pid_t pid)
    {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                Forget(pid);
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    bool StillRunning(pid_t pid)
    {
        int status = 0;
        return waitpid(pid, &status, WNOHANG) == 0;
    }

    const TempDir &Dir() const { return dir_; }

private:
    void Forget(pid_t pid)
    {
        for (auto it = running_.begin(); it != running_.end(); ++it) {
            if (*it == pid) {
                running_.erase(it);
                return;
            }
        }
    }

    TempDir dir_;
    std::string prefix_;
    std::vector<pid_t> running_;
};

bool ExitedCleanly(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Process, CountsAndEndsTheOlderInstance_Posix)
{
    Sleepers sleepers;
    const std::string name = sleepers.Name("guard");
    const std::string path = sleepers.Install(name);
    const std::string other = sleepers.Install(sleepers.Name("guard-copy"));
    const std::string upper = sleepers.Install(sleepers.Name("GUARD"));

    const pid_t older = sleepers.Start(path);
    ASSERT_GT(older, 0);
    const pid_t copy = sleepers.Start(other);
    ASSERT_GT(copy, 0);
    const pid_t newer = sleepers.Start(path);
    ASSERT_GT(newer, 0);
    const pid_t upperCase = sleepers.Start(upper);
    ASSERT_GT(upperCase, 0);

    EXPECT_EQ(CountProcessesByName(name.c_str()), 2);
    EXPECT_EQ(CountProcessesByName(sleepers.Name("guard-copy").c_str()), 1);
    EXPECT_EQ(CountProcessesByName(sleepers.Name("GUARD").c_str()), 1);
    EXPECT_EQ(CountProcessesByName(sleepers.Name("Guard").c_str()), 0);
    EXPECT_EQ(CountProcessesByName(sleepers.Name("guar").c_str()), 0);
    EXPECT_EQ(CountProcessesByName(path.c_str()), 0) << "names carry no directory";

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    // The ended process is not reaped yet: as a zombie it no longer runs and is not counted.
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_TRUE(ExitedCleanly(sleepers.Reap(older)))
        << "SIGTERM lets the older instance quit with exit code 0";
    EXPECT_TRUE(sleepers.StillRunning(newer));
    EXPECT_TRUE(sleepers.StillRunning(copy)) << "a copy under another name is never ended";
    EXPECT_TRUE(sleepers.StillRunning(upperCase));

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(ExitedCleanly(sleepers.Reap(newer)));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 0);
    EXPECT_TRUE(sleepers.StillRunning(copy));
}

TEST(Process, OfThreeTheFirstStartedIsEnded_Posix)
{
    Sleepers sleepers;
    // A name short enough that the kernel's command name holds it whole, as "Quillmark" does.
    const std::string name = "qm" + std::to_string(getpid());
    const std::string path = sleepers.Install(name);
    pid_t pids[3];
    for (pid_t &pid : pids) {
        pid = sleepers.Start(path);
        ASSERT_GT(pid, 0);
    }
    ASSERT_EQ(CountProcessesByName(name.c_str()), 3);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_EQ(CountProcessesByName(name.c_str()), 2) << "the ended one, not reaped yet, is not counted";
    EXPECT_TRUE(ExitedCleanly(sleepers.Reap(pids[0])));
    EXPECT_TRUE(sleepers.StillRunning(pids[1]));
    EXPECT_TRUE(sleepers.StillRunning(pids[2]));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 2);
}

TEST(Process, ProcessIgnoringTermIsKilled_Posix)
{
    Sleepers sleepers;
    const std::string name = sleepers.Name("stubborn");
    const pid_t pid = sleepers.Start(sleepers.Install(name), true);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    const int status = sleepers.Reap(pid);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// An update replaces the executable while the old instance runs: it keeps its name, so the new instance
// still finds and ends it.
TEST(Process, ReplacedExecutableKeepsItsName_Posix)
{
    Sleepers sleepers;
    const std::string name = sleepers.Name("swapped");
    const std::string path = sleepers.Install(name);
    const pid_t old = sleepers.Start(path);
    ASSERT_GT(old, 0);

    const std::string fresh = sleepers.Install(name + ".new");
    std::filesystem::rename(fresh, path);
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(CountProcessesByName((name + " (deleted)").c_str()), 0);

    const pid_t updated = sleepers.Start(path);
    ASSERT_GT(updated, 0);
    EXPECT_EQ(CountProcessesByName(name.c_str()), 2);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(ExitedCleanly(sleepers.Reap(old)));
    EXPECT_TRUE(sleepers.StillRunning(updated));

    std::filesystem::remove(path);
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1) << "a deleted executable keeps its name too";
}

// A file that really carries the kernel's marker in its name keeps its full name.
TEST(Process, NameEndingLikeTheDeletedMarker_Posix)
{
    Sleepers sleepers;
    const std::string name = sleepers.Name("x (deleted)");
    const pid_t pid = sleepers.Start(sleepers.Install(name));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(CountProcessesByName(sleepers.Name("x").c_str()), 0);
}

TEST(Process, OwnProcessIsCounted_Posix)
{
    char self[4096];
    ASSERT_EQ(OwnExecutablePath(nullptr, self, sizeof self), 0);
    const std::string name = std::filesystem::path(self).filename().string();
    EXPECT_GE(CountProcessesByName(name.c_str()), 1);
}

} // namespace

#endif
