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
    // The root "/" keeps its slash: without it nothing would be left to look for.
    if (length > 1 && copy[length - 1] == '/')
        copy[length - 1] = '\0';
    bool isDirectory = false;
    return QueryPathEntry(copy, &isDirectory) && isDirectory;
}
