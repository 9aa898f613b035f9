#include "platform/fileops.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
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

std::FILE *CreateNewFile(const char *path, bool ownerOnly)
{
    // The mode is applied as the file is made: it is never open to others, not even for a moment.
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

bool RemoveFolderTree(const char *path)
{
    DIR *dir = opendir(path);
    if (dir == nullptr) {
        return false;
    }
    bool removed = true;
    std::vector<std::string> names;
    while (dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    closedir(dir);
    for (const std::string &name : names) {
        const std::string inner = std::string(path) + "/" + name;
        struct stat info;
        if (lstat(inner.c_str(), &info) != 0) {
            removed = false;
        } else if (S_ISDIR(info.st_mode)) {
            removed = RemoveFolderTree(inner.c_str()) && removed;
        } else {
            removed = unlink(inner.c_str()) == 0 && removed;
        }
    }
    return rmdir(path) == 0 && removed;
}
