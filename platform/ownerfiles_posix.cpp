#include "platform/ownerfiles.h"

// No Word here: the Linux office keeps no such files beside the documents (they are opened read-only).
long long FileClockNow()
{
    return 0;
}

int RemoveOwnerFiles(const std::wstring &, long long)
{
    return 0;
}
