#include "print/nativewordprocessor.h"

// Built without a word-processor client: every run reports that no word processor was found.
void InstallNativeWordProcessor() {}
