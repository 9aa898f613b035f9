#include "platform/fileops.h"

#include <cstdio>
#include <windows.h>

bool MovePath(const char *source, const char *target)
{
    // Without MOVEFILE_REPLACE_EXISTING: an existing target is never replaced. A running program's file
    // can be moved this way, within its volume.
    return MoveFileExA(source, target, 0) != 0;
}

bool MakeFolder(const char *path)
{
    return CreateDirectoryA(path, nullptr) != 0;
}

bool RemoveEmptyFolder(const char *path)
{
    return RemoveDirectoryA(path) != 0;
}

bool CopyPermissionBits(const char *, const char *)
{
    return true;
}

bool IsPlainFolder(const char *path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool MakeFreshFolder(const std::string &prefix, std::string &created)
{
    // CreateDirectoryA fails on anything already there, a link included, so a success is a new folder.
    const unsigned long seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
    for (unsigned long attempt = 0; attempt < 1000; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06lx", (seed + attempt * 40503u) & 0xffffffu);
        const std::string name = prefix + suffix;
        if (CreateDirectoryA(name.c_str(), nullptr) != 0) {
            created = name;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

bool MoveFileNoReplace(const char *source, const char *target)
{
    return MovePath(source, target);
}
