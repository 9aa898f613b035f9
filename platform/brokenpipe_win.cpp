#include "platform/brokenpipe.h"

// Windows has no SIGPIPE: a write to a closed pipe fails already.
void IgnoreBrokenPipe() {}
