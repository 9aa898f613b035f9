#pragma once
// The owner files ("~$...") Word and WPS keep beside a document while they have it open. A server that
// is ended by force leaves them behind; they are removed when they are the run's own.

#include <string>

// The system's clock for file times (100 ns ticks).
long long FileClockNow();

// Removes the owner files beside documentPath (platform/comserverrules.h names them) that were created
// at or after notBefore; older ones (the user's own, or another program's) stay. Returns how many went.
int RemoveOwnerFiles(const std::wstring &documentPath, long long notBefore);
