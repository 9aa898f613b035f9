#include "platform/namerules.h"

bool PlatformUsesWindowsFileNames()
{
    return false;
}

// A name is any byte string here: the bytes are the name, whatever encoding the package meant.
bool NameIsWrittenAsStored(const std::string &, bool)
{
    return true;
}
