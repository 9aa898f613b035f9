#include "platform/safefiles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(FileAccess access)
{
    switch (access) {
    case FileAccess::OwnerOnly:
        return 0600;
    case FileAccess::Readable:
        return 0644;
    case FileAccess::Executable:
        return 0755;
    case FileAccess::AsUsual:
        break;
    }
    return 0666;
}

} // namespace

std::FILE *CreateExclusiveFile(const char *path, FileAccess access, bool removeFirst)
{
    // Whatever is there goes first, a link as the link: O_EXCL then refuses anything that reappears.
    if (removeFirst && unlink(path) != 0 && errno != ENOENT) {
        return nullptr;
    }
    const mode_t mode = ModeOf(access);
    // Created with at most the final mode, so it is never open to more people than it will be.
    const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        return nullptr;
    }
    // Where the file system keeps no modes (a FAT volume), the one it gives stays: never more than asked,
    // since the umask only takes bits away.
    if (access != FileAccess::AsUsual) {
        fchmod(fd, mode);
    }
    std::FILE *file = fdopen(fd, "w+b");
    if (file == nullptr) {
        close(fd);
        unlink(path);
    }
    return file;
}

bool SetFileAccess(const char *path, FileAccess access)
{
    struct stat info;
    if (lstat(path, &info) != 0 || S_ISLNK(info.st_mode)) {
        return false;
    }
    return chmod(path, ModeOf(access)) == 0;
}

bool IsExecutableFile(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0 && (info.st_mode & S_IXUSR) != 0;
}

bool OpenFileIsPrivate(std::FILE *f, bool expectOwnerOnly)
{
    struct stat info;
    if (f == nullptr || std::fflush(f) != 0 || fstat(fileno(f), &info) != 0) {
        return false;
    }
    const mode_t others = expectOwnerOnly ? 0077 : 0022;
    return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == geteuid() &&
           (info.st_mode & others) == 0;
}

bool FileReadableByOthers(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0 && (info.st_mode & 0044) != 0;
}

bool FlushFolder(const char *path)
{
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool flushed = fsync(fd) == 0;
    close(fd);
    return flushed;
}

bool RenameReplacing(const char *source, const char *target)
{
    return rename(source, target) == 0;
}

bool RenameNew(const char *source, const char *target)
{
    // No renameat2 in every C library here: a second name first, which fails on anything at target.
    if (link(source, target) == 0) {
        unlink(source);
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EXDEV && errno != EMLINK) {
        return false;
    }
    // No hard links (folders, some file systems): the check and the rename are apart, but the callers
    // work in folders of their own or in the program's folder, where no one else may rename.
    struct stat info;
    return lstat(target, &info) != 0 && errno == ENOENT && rename(source, target) == 0;
}

bool LinkFile(const char *source, const char *target)
{
    return link(source, target) == 0;
}

bool RemoveFile(const char *path)
{
    return unlink(path) == 0;
}

bool IsOwnFolder(const char *path)
{
    struct stat info;
    return lstat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

bool MakeSharedFolder(const char *path)
{
    if (mkdir(path, 0700) != 0) {
        return false;
    }
    chmod(path, 0755); // as above, where modes are kept
    return true;
}

std::vector<std::string> FolderNames(const char *path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path);
    if (dir == nullptr) {
        return names;
    }
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    closedir(dir);
    return names;
}

bool RunningProgramsCanBeReplaced()
{
    return true;
}

intptr_t HoldFolder(const char *path)
{
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void ReleaseFolder(intptr_t hold)
{
    if (hold >= 0) {
        close(static_cast<int>(hold));
    }
}
