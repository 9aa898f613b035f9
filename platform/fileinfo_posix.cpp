#include "platform/fileinfo.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

bool QueryPathEntry(const char *path, bool *isDirectory)
{
    if (isDirectory != nullptr)
        *isDirectory = false;
    if (path == nullptr || path[0] == '\0')
        return false;
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    if (isDirectory != nullptr)
        *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

bool FlushFileToDisk(std::FILE *f)
{
    return std::fflush(f) == 0 && fsync(fileno(f)) == 0;
}

bool ReplaceFileWith(const char *source, const char *target)
{
    // A file the user made read-only stays as it is, as it would when written over directly; a replaced
    // file keeps its permissions.
    struct stat old;
    if (stat(target, &old) == 0) {
        if (access(target, W_OK) != 0)
            return false;
        chmod(source, old.st_mode & 0777);
    }
    return std::rename(source, target) == 0;
}

unsigned long CurrentProcessNumber()
{
    return static_cast<unsigned long>(getpid());
}
