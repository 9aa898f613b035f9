#include "platform/localcodec.h"

// Qt already converts through the system's ANSI code page here.
void InitLocal8BitCodec() {}
