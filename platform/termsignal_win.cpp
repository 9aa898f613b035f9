#include "platform/termsignal.h"

// Windows ends the program with TerminateProcess, which no handler can observe.
void QuitOnTerminationSignals() {}
