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
    return std::rename(source, target) == 0;
}

unsigned long CurrentProcessNumber()
{
    return static_cast<unsigned long>(getpid());
}
