#include "platform/ownerfiles.h"

#include "platform/comserverrules.h"

#include <windows.h>

long long FileClockNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

int RemoveOwnerFiles(const std::wstring &documentPath, long long notBefore)
{
    const size_t slash = documentPath.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return 0;
    const std::wstring folder = documentPath.substr(0, slash + 1);
    int removed = 0;
    for (const std::wstring &name : OwnerFileNames(documentPath.substr(slash + 1))) {
        const std::wstring path = folder + name;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        const long long created = (static_cast<long long>(data.ftCreationTime.dwHighDateTime) << 32) |
                                  data.ftCreationTime.dwLowDateTime;
        if (created < notBefore)
            continue;
        // Owner files are hidden; a hidden or read-only file is not deleted until that is cleared.
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path.c_str()))
            ++removed;
    }
    return removed;
}
