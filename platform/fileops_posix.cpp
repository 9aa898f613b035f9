#include "platform/fileops.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool MovePath(const char *source, const char *target)
{
    return std::rename(source, target) == 0;
}

bool MakeFolder(const char *path)
{
    return mkdir(path, 0777) == 0;
}

bool RemoveEmptyFolder(const char *path)
{
    return rmdir(path) == 0;
}

bool CopyPermissionBits(const char *source, const char *target)
{
    struct stat info;
    return stat(source, &info) == 0 && chmod(target, info.st_mode & 07777) == 0;
}

bool IsPlainFolder(const char *path)
{
    struct stat info;
    return lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFreshFolder(const std::string &prefix, std::string &created)
{
    // mkdtemp creates the folder itself and fails rather than reuse anything that is there.
    std::vector<char> name(prefix.begin(), prefix.end());
    for (char c : std::string("XXXXXX")) {
        name.push_back(c);
    }
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        return false;
    }
    created = name.data();
    return true;
}

bool MoveFileNoReplace(const char *source, const char *target)
{
    // A hard link fails when target exists; rename would replace it.
    if (link(source, target) != 0)
        return false;
    unlink(source);
    return true;
}
