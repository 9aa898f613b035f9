#include "platform/launch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// The command line is split at blanks into the new program's arguments; an empty one starts the program
// with its own path as its only argument. The show mode has no meaning here.
int LaunchProcess(const char *applicationPath, const char *commandLine, int /*showMode*/)
{
    if (applicationPath == nullptr || *applicationPath == '\0') {
        return -1;
    }
    std::vector<std::string> words;
    for (const char *p = commandLine ? commandLine : ""; *p != '\0';) {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        const char *start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            ++p;
        }
        if (p != start) {
            words.emplace_back(start, p);
        }
    }
    if (words.empty()) {
        words.emplace_back(applicationPath);
    }
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    // The write end closes on a successful exec; an exec failure sends its errno through it instead.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t middle = fork();
    if (middle < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (middle == 0) {
        // Only async-signal-safe calls from here on: the parent has other threads.
        setsid();
        pid_t child = fork();
        if (child != 0) {
            _exit(child < 0 ? 1 : 0);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, 1);
            dup2(devNull, 2);
            if (devNull > 2) {
                close(devNull);
            }
        }
        execv(applicationPath, argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0 ? 0 : -1;
}
