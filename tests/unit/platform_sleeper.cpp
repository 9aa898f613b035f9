// Test helper: announces on standard output that it is ready, then sleeps until SIGTERM and exits 0.
// With --ignore-term it ignores SIGTERM, so only SIGKILL ends it.
#include <csignal>
#include <cstring>
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
    return 0;
}
