#include "support/direxists.h"

#include "platform/fileinfo.h"

#include <cstring>

bool PathExists(const char *path)
{
    return QueryPathEntry(path, nullptr);
}

bool DirectoryExists(const char *path)
{
    constexpr size_t kPathCapacity = 1024;
    if (path == nullptr)
        return false;
    const size_t length = std::strlen(path);
    if (length >= kPathCapacity)
        return false;
    char copy[kPathCapacity];
    std::memcpy(copy, path, length + 1);
    // A root keeps its slash: "/" and a drive's "E:/" (from "E://", a root chosen in the folder dialog)
    // would otherwise name nothing, or the drive's current folder.
    const bool driveRoot = length == 3 && copy[1] == ':';
    if (length > 1 && copy[length - 1] == '/' && !driveRoot)
        copy[length - 1] = '\0';
    bool isDirectory = false;
    return QueryPathEntry(copy, &isDirectory) && isDirectory;
}
