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
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Gives up the superuser's rights for good; only in a child process.
bool DropToNobody()
{
    const uid_t nobody = 65534;
    return setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0 &&
           setresuid(nobody, nobody, nobody) == 0;
}

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
        return Start(path, std::vector<std::string>{ignoreTerm ? "--ignore-term" : ""});
    }

    // The same with arguments of the test's choosing; asNobody runs it as an unprivileged user (the
    // caller must be the superuser).
    pid_t Start(const std::string &path, const std::vector<std::string> &arguments, bool asNobody = false)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(ready[1], STDOUT_FILENO);
            close(ready[0]);
            close(ready[1]);
            std::vector<const char *> args = {path.c_str()};
            for (const std::string &argument : arguments) {
                if (!argument.empty())
                    args.push_back(argument.c_str());
            }
            args.push_back(nullptr);
            if (asNobody && !DropToNobody())
                _exit(126);
            execv(path.c_str(), const_cast<char *const *>(args.data()));
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
    EXPECT_EQ(TerminateProcessByName(name.c_str(), 300), 1);
    const int status = sleepers.Reap(pid);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// An instance busy with its own clean-up (workers it lets go of at its end) is given the time for it and
// still ends with exit code 0; only one that overruns the grace period is killed.
TEST(Process, CleanUpWithinTheGraceIsNotCutShort_Posix)
{
    static_assert(kTerminateGraceMs > 8000, "more than the program's own bounded end");
    struct Row
    {
        const char *tag;
        unsigned cleanUpMs;
        unsigned graceMs;
        bool killed;
    };
    const Row rows[] = {
        {"slow", 6000, kTerminateGraceMs, false}, // longer than the print thread's 5 s at the end
        {"overrun", 1500, 400, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.tag);
        Sleepers sleepers;
        const std::string name = sleepers.Name(row.tag);
        const pid_t pid = sleepers.Start(
            sleepers.Install(name), std::vector<std::string>{"--slow-term", std::to_string(row.cleanUpMs)});
        ASSERT_GT(pid, 0);
        EXPECT_EQ(TerminateProcessByName(name.c_str(), row.graceMs), 1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (row.killed)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        else
            EXPECT_TRUE(ExitedCleanly(status)) << status;
    }
}

// Another user's instance is listed but cannot be signalled: it is passed over at once, and the caller's own
// older instance is ended instead.
TEST(Process, InstanceThatCannotBeSignalledIsSkipped_Posix)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs the superuser to start processes of two users";
    Sleepers sleepers;
    const std::string name = "qs" + std::to_string(getpid()); // held whole by the kernel's command name
    const std::string path = sleepers.Install(name);
    std::filesystem::permissions(sleepers.Dir().FsPath(), std::filesystem::perms::owner_all |
                                                              std::filesystem::perms::others_read |
                                                              std::filesystem::perms::others_exec);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::others_read |
                                           std::filesystem::perms::others_exec);
    const pid_t others = sleepers.Start(path); // the superuser's, out of the guard's reach
    ASSERT_GT(others, 0);
    const pid_t own = sleepers.Start(path, std::vector<std::string>{}, true);
    ASSERT_GT(own, 0);

    // The guard runs as the unprivileged user, as a desktop user's program does.
    const pid_t guard = fork();
    if (guard == 0) {
        if (!DropToNobody())
            _exit(90);
        // A day's grace: a guard that waited on the unreachable one would never come back.
        _exit(TerminateProcessByName(name.c_str(), 24u * 3600 * 1000) == 1 ? 0 : 91);
    }
    ASSERT_GT(guard, 0);
    int status = 0;
    ASSERT_EQ(waitpid(guard, &status, 0), guard);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << WEXITSTATUS(status) << " (91: nothing ended)";
    EXPECT_TRUE(ExitedCleanly(sleepers.Reap(own)));
    EXPECT_TRUE(sleepers.StillRunning(others));
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
