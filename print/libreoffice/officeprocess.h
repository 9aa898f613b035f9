#pragma once
// The office as a process: started in a process group of its own, tied to the thread that started it,
// killed and reaped as a group, with its private profile folder and named pipes cleaned up afterwards.
// Nothing here knows UNO: any program can be run and watched this way.

#include <atomic>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class OfficeProcess
{
public:
    OfficeProcess() = default;
    ~OfficeProcess();

    // Starts argv[0] with argv in a new process group. The process is killed when the thread that
    // started it ends (or this program dies). Once abort() was called, whatever starts is killed at once.
    // The starting thread owns the process: spawn, exited and reap are called there only. environment:
    // the whole environment of the new process ("NAME=value" each); empty: this program's.
    bool spawn(const std::vector<std::string> &argv, const std::vector<std::string> &environment = {});
    pid_t pid() const { return pid_; }
    // From any thread: the running process's id (also its group's), 0 when none runs.
    pid_t group() const { return group_; }

    // Has the process ended? Then what is left of its group is killed and it is reaped; exitCode gets its
    // exit code (-1 when a signal ended it). True as well when nothing was started.
    bool exited(int *exitCode = nullptr);
    bool running() { return !exited(); }

    // Kills the group and reaps the process.
    void reap();

    // From any thread: kills the whole group at once.
    void kill();
    // From any thread: kills the group and makes later starts die at once.
    void abort();
    bool aborted() const { return aborted_; }

    // From any thread: the CPU time, in clock ticks, that the living processes of the group have used so
    // far; -1 when no process runs. Grows while the office works; stands still while it hangs or is
    // stopped.
    long long groupCpuTicks() const;
    // From any thread: a number that grows while the group works: its CPU time and its I/O (the bytes and
    // the calls of read and write, from /proc/<pid>/io), so that an office waiting on a slow disk or
    // network share, which uses no CPU, is not taken for a hung one. -1 when no process runs.
    long long groupActivity() const;
    // From any thread: the resident memory of the process itself, in bytes; 0 when none runs.
    long long residentBytes() const;

    // Takes over other's running process (this one's is ended first), as when a spare office replaces
    // the one at work. Both must have been started on this thread.
    void adopt(OfficeProcess &other);

    OfficeProcess(const OfficeProcess &) = delete;
    OfficeProcess &operator=(const OfficeProcess &) = delete;

private:
    pid_t pid_ = 0;
    std::atomic<pid_t> group_{0};
    std::atomic<bool> aborted_{false};
};

namespace officefiles {

// The environment the office runs in, from the caller's ("NAME=value" each): whatever the caller's
// locale, its character type is UTF-8 (else the office refuses every non-ASCII file name when given a
// filter); the other categories stay as the caller set them. TMPDIR is tmpDir, so that what a killed
// office leaves behind goes with its profile.
std::vector<std::string> OfficeEnvironment(const std::vector<std::string> &caller, const std::string &tmpDir);
// This program's environment, as OfficeEnvironment takes it.
std::vector<std::string> CurrentEnvironment();

// The folder for profiles: TMPDIR, else /tmp.
std::string TempRoot();
// Where the office keeps its named pipes, whatever TMPDIR says.
std::string PipeFolder();
// The socket a pipe name stands for.
std::string PipePath(const std::string &pipeName);

// A fresh, private profile folder whose name carries this process's id; empty when it cannot be made.
std::string MakeProfileDir();
// A pipe name that carries this process's id and cannot collide with another start.
std::string MakePipeName(int instance);

// Gives a profile folder that has no settings yet a settings file saying that the office's version
// (its own "7.4", digits and dots) has started on it before. Until a profile says so, the office runs a
// second of graphics self-tests at each start, and a headless office never says so by itself. False when
// nothing was written (settings there already, a version of another form, no access).
bool SeedProfile(const std::string &profileDir, const std::string &version);

// Removes a profile folder and the pipes an office that was killed leaves behind.
void Remove(const std::string &profileDir, const std::vector<std::string> &pipeNames);

// A program that was killed could not remove its offices' profiles and pipes: removes those whose
// program is gone (their names carry its process id). profilePipeName gives the pipe name that belongs
// to a profile folder.
void RemoveLeftovers(const std::function<std::string(const std::string &profileDir)> &profilePipeName);

} // namespace officefiles
