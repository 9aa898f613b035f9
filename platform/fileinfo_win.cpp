#include "platform/fileinfo.h"

#include <cstdio>
#include <cstring>
#include <io.h>
#include <windows.h>

namespace {

// "E:\" or "E:/": the directory search has no entry for a drive's root, which is a folder all the same.
bool IsDriveRoot(const char *path)
{
    const char letter = path[0];
    return ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/') && path[3] == '\0';
}

} // namespace

bool QueryPathEntry(const char *path, bool *isDirectory)
{
    if (isDirectory != nullptr)
        *isDirectory = false;
    if (path == nullptr || path[0] == '\0')
        return false;
    if (IsDriveRoot(path)) {
        const DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (isDirectory != nullptr)
            *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return true;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    if (isDirectory != nullptr)
        *isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    FindClose(search);
    return true;
}

bool FlushFileToDisk(std::FILE *f)
{
    return std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
}

bool ReplaceFileWith(const char *source, const char *target)
{
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ResolveFileLinks(const char *path, char *resolved, size_t capacity)
{
    if (path == nullptr || std::strlen(path) >= capacity)
        return false;
    std::strcpy(resolved, path);
    return true;
}

bool TruncateOpenFile(std::FILE *f, unsigned long long length)
{
    return _chsize_s(_fileno(f), static_cast<__int64>(length)) == 0;
}

unsigned long CurrentProcessNumber()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}
