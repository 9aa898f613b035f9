#include "platform/brokenpipe.h"

#include <csignal>

void IgnoreBrokenPipe()
{
    ::signal(SIGPIPE, SIG_IGN);
}
