#include "platform/secretinput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

termios savedTerminal;

// A signal while echo is off must not leave the user's terminal without echo.
void restoreAndDie(int signalNumber)
{
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

bool ReadLine(std::string *line)
{
    line->clear();
    char c;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return !line->empty();
        if (c == '\n')
            break;
        line->push_back(c);
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

} // namespace

bool ReadSecretLine(const char *prompt, std::string *line)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return ReadLine(line);

    struct sigaction action = {}, oldInt = {}, oldTerm = {}, oldHup = {};
    action.sa_handler = restoreAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    ::sigaction(SIGHUP, &action, &oldHup);

    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt appears: whatever is typed after the prompt must be kept, and a
    // flush after it would throw a quick answer away.
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    const bool ok = ReadLine(line);
    ::tcsetattr(STDIN_FILENO, TCSADRAIN, &savedTerminal);

    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::sigaction(SIGHUP, &oldHup, nullptr);
    return ok;
}
