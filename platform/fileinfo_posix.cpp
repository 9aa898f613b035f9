#include "platform/fileinfo.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

bool ResolveFileLinks(const char *path, char *resolved, size_t capacity)
{
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string current = path;
    // As many hops as the kernel itself follows before it gives up with ELOOP.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            if (current.size() >= capacity)
                return false;
            std::memcpy(resolved, current.c_str(), current.size() + 1);
            return true;
        }
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 2);
        const ssize_t n = readlink(current.c_str(), target.data(), target.size() - 1);
        if (n <= 0 || static_cast<size_t>(n) >= target.size() - 1)
            return false;
        std::string next(target.data(), static_cast<size_t>(n));
        if (next[0] != '/') {
            // A relative target is taken from the link's own folder.
            const size_t slash = current.rfind('/');
            next = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
        }
        current = next;
    }
    return false;
}

bool TruncateOpenFile(std::FILE *f, unsigned long long length)
{
    return ftruncate(fileno(f), static_cast<off_t>(length)) == 0;
}

unsigned long CurrentProcessNumber()
{
    return static_cast<unsigned long>(getpid());
}
