#include "platform/process.h"

#include "platform/sleep.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// A process's executable name is the base name of the file it runs (/proc/PID/exe).
//
// When that file was replaced or deleted while the process runs (an update swaps the executable), the
// kernel shows the old path with " (deleted)" appended. Such a process still runs the program that was
// started under that name, as Windows keeps reporting the image name it started with, so the marker is
// dropped and the process keeps its name: a freshly updated instance still finds and ends the old one.
// The marker is only dropped when the path as shown is not the running file itself, so a file that really
// is named "... (deleted)" keeps its full name.
//
// A process whose executable link cannot be read (another user's, without the rights) is named by
// /proc/PID/comm, unless that may be cut short (the kernel keeps 15 bytes of it). Processes that have
// already exited and wait to be reaped (zombies) are not running and are not counted.

namespace {

const char kDeletedMarker[] = " (deleted)";

struct Match
{
    pid_t pid;
    unsigned long long startTime;
};

bool ReadSmallFile(const char *path, char *buffer, size_t capacity, size_t *length)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t used = 0;
    while (used + 1 < capacity) {
        const ssize_t n = read(fd, buffer + used, capacity - 1 - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
    }
    close(fd);
    buffer[used] = '\0';
    *length = used;
    return used > 0;
}

// Process state (field 3) and start time in clock ticks since boot (field 22) from /proc/PID/stat.
bool ReadStat(pid_t pid, char *state, unsigned long long *startTime)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char stat[1024];
    size_t length = 0;
    if (!ReadSmallFile(path, stat, sizeof stat, &length))
        return false;
    // The command name in field 2 may hold spaces and parentheses: fields 3 on follow the last ')'.
    const char *close = std::strrchr(stat, ')');
    if (close == nullptr || close[1] != ' ')
        return false;
    const char *field = close + 2;
    *state = *field;
    // Fields 3 to 21 are skipped, field 22 is the start time.
    for (int n = 3; n < 22; ++n) {
        field = std::strchr(field, ' ');
        if (field == nullptr)
            return false;
        ++field;
    }
    char *end = nullptr;
    errno = 0;
    *startTime = std::strtoull(field, &end, 10);
    return end != field && errno == 0;
}

bool IsSameFile(const char *path, const char *otherPath)
{
    struct stat a, b;
    return stat(path, &a) == 0 && stat(otherPath, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The executable file name of the process into name; false when it cannot be told.
bool ExecutableName(pid_t pid, char *name, size_t capacity)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char target[PATH_MAX + sizeof kDeletedMarker];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length > 0 && static_cast<size_t>(length) < sizeof target - 1) {
        target[length] = '\0';
        const size_t markerLength = sizeof kDeletedMarker - 1;
        if (static_cast<size_t>(length) > markerLength &&
            std::strcmp(target + length - markerLength, kDeletedMarker) == 0 && !IsSameFile(target, link))
            target[length - markerLength] = '\0';
        const char *slash = std::strrchr(target, '/');
        const char *base = slash != nullptr ? slash + 1 : target;
        if (std::strlen(base) >= capacity)
            return false;
        std::strcpy(name, base);
        return true;
    }

    char commPath[64];
    std::snprintf(commPath, sizeof commPath, "/proc/%d/comm", static_cast<int>(pid));
    char comm[64];
    size_t commLength = 0;
    if (!ReadSmallFile(commPath, comm, sizeof comm, &commLength))
        return false;
    if (comm[commLength - 1] == '\n')
        comm[--commLength] = '\0';
    // 15 bytes may be the kernel's cut of a longer name.
    if (commLength == 0 || commLength >= 15 || commLength >= capacity)
        return false;
    std::strcpy(name, comm);
    return true;
}

// Running processes with that executable name, oldest first. False when /proc cannot be read.
bool FindProcesses(const char *exeName, std::vector<Match> *matches)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    char name[PATH_MAX];
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0)
            continue;
        if (!ExecutableName(static_cast<pid_t>(pid), name, sizeof name) || std::strcmp(name, exeName) != 0)
            continue;
        char state = 0;
        unsigned long long startTime = 0;
        if (!ReadStat(static_cast<pid_t>(pid), &state, &startTime) || state == 'Z' || state == 'X')
            continue;
        matches->push_back({static_cast<pid_t>(pid), startTime});
    }
    closedir(proc);
    // Start times are clock ticks: of two processes started in the same tick the caller counts as the
    // newer one, so that a starting instance ends the other and not itself.
    const pid_t self = getpid();
    std::sort(matches->begin(), matches->end(), [self](const Match &a, const Match &b) {
        if (a.startTime != b.startTime)
            return a.startTime < b.startTime;
        if ((a.pid == self) != (b.pid == self))
            return b.pid == self;
        return a.pid < b.pid;
    });
    return true;
}

// True while the process that started at startTime has not exited. A zombie has exited; a PID that now
// belongs to a later process means ours is gone.
bool StillRunning(const Match &process)
{
    char state = 0;
    unsigned long long startTime = 0;
    if (!ReadStat(process.pid, &state, &startTime))
        return false;
    return startTime == process.startTime && state != 'Z' && state != 'X';
}

} // namespace

int CountProcessesByName(const char *exeName)
{
    if (exeName == nullptr)
        return 0;
    std::vector<Match> matches;
    if (!FindProcesses(exeName, &matches))
        return 0;
    return static_cast<int>(matches.size());
}

int TerminateProcessByName(const char *exeName, unsigned graceMs)
{
    if (exeName == nullptr)
        return 0;
    std::vector<Match> matches;
    if (!FindProcesses(exeName, &matches) || matches.empty())
        return 0;

    // The oldest one that this process may signal: another user's instance is listed too, but a failed
    // kill must not cost the grace period, nor leave the user's own older instance running.
    const pid_t self = getpid();
    for (const Match &process : matches) {
        if (process.pid == self || kill(process.pid, SIGTERM) != 0)
            continue;
        // The program quits cleanly on SIGTERM; one that does not within the grace period is killed.
        constexpr unsigned kStepMs = 20;
        for (unsigned waited = 0; waited < graceMs; waited += kStepMs) {
            if (!StillRunning(process))
                return 1;
            SleepMs(kStepMs);
        }
        if (StillRunning(process))
            kill(process.pid, SIGKILL);
        return 1;
    }
    return 0;
}
