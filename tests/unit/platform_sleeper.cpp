// Test helper: announces on standard output that it is ready, then sleeps until SIGTERM and exits 0.
// With --ignore-term it ignores SIGTERM, so only SIGKILL ends it; with --slow-term MS it takes MS
// milliseconds to clean up after SIGTERM before it exits 0.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {
volatile sig_atomic_t terminated = 0;
void OnTerm(int)
{
    terminated = 1;
}
} // namespace

int main(int argc, char **argv)
{
    const bool ignoreTerm = argc > 1 && std::strcmp(argv[1], "--ignore-term") == 0;
    const long slowTermMs = argc > 2 && std::strcmp(argv[1], "--slow-term") == 0 ? std::atol(argv[2]) : 0;
    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGTERM);

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = ignoreTerm ? SIG_IGN : OnTerm;
    sigaction(SIGTERM, &action, nullptr);

    if (write(STDOUT_FILENO, "r", 1) != 1)
        return 2;
    close(STDOUT_FILENO);
    while (!terminated)
        sigsuspend(&waiting);
    if (slowTermMs > 0) {
        timespec pause = {slowTermMs / 1000, (slowTermMs % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0) {
        }
    }
    return 0;
}
