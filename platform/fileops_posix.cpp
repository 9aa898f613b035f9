#include "platform/fileops.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum class Place
{
    Done,
    Exists,
    OtherDevice,
    Failed
};

Place PlaceByRename(int fromDir, const char *from, int toDir, const char *to)
{
    if (renameat(fromDir, from, toDir, to) == 0)
        return Place::Done;
    return errno == EXDEV ? Place::OtherDevice : Place::Failed;
}

// Without a one-step move that refuses an existing name, the name is claimed by a new file of our own
// (which fails on anything there, a link included), and only that claim is then replaced.
Place PlaceOverClaim(int fromDir, const char *from, int toDir, const char *to)
{
    const int fd = openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? Place::Exists : Place::Failed;
    close(fd);
    const Place placed = PlaceByRename(fromDir, from, toDir, to);
    if (placed != Place::Done)
        unlinkat(toDir, to, 0);
    return placed;
}

Place PlaceNoReplace(int fromDir, const char *from, int toDir, const char *to)
{
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return Place::Done;
    if (errno == EEXIST)
        return Place::Exists;
    if (errno == EXDEV)
        return Place::OtherDevice;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Place::Failed;
    // A hard link fails on an existing name too; FAT, exFAT and many SMB mounts have none.
    if (linkat(fromDir, from, toDir, to, 0) == 0) {
        unlinkat(fromDir, from, 0);
        return Place::Done;
    }
    if (errno == EEXIST)
        return Place::Exists;
    if (errno == EXDEV)
        return Place::OtherDevice;
    return PlaceOverClaim(fromDir, from, toDir, to);
}

MoveResult ResultOf(Place placed)
{
    switch (placed) {
    case Place::Done:
        return MoveResult::Moved;
    case Place::Exists:
        return MoveResult::TargetExists;
    case Place::OtherDevice:
    case Place::Failed:
        break;
    }
    return MoveResult::Failed;
}

bool CopyAll(int in, int out)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += put;
        }
    }
}

// Across file systems: the bytes go to a new file of an unguessable name beside the target, which is then
// placed as a move within the folder would be; source goes only once its copy is in place.
MoveResult CopyInto(const char *source, int dir, const char *name, bool replace)
{
    const int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return MoveResult::Failed;
    struct stat info;
    const mode_t mode = fstat(in, &info) == 0 ? (info.st_mode & 0777) : 0644;
    std::random_device random;
    std::string temporary;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
        temporary = std::string(".quillmark-") + suffix + ".part";
        out = openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0) {
        close(in);
        return MoveResult::Failed;
    }
    const bool copied = CopyAll(in, out) && fsync(out) == 0;
    close(in);
    const bool closed = close(out) == 0;
    Place placed = Place::Failed;
    if (copied && closed) {
        placed = replace ? PlaceByRename(dir, temporary.c_str(), dir, name)
                         : PlaceNoReplace(dir, temporary.c_str(), dir, name);
    }
    if (placed != Place::Done)
        unlinkat(dir, temporary.c_str(), 0);
    else
        unlink(source);
    return ResultOf(placed);
}

} // namespace

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

MoveResult MoveFileBelow(const char *source, const char *base, const char *relative, bool replace)
{
    std::vector<std::string> names;
    for (const char *at = relative;;) {
        const char *slash = std::strchr(at, '/');
        names.emplace_back(at, slash ? static_cast<size_t>(slash - at) : std::strlen(at));
        const std::string &name = names.back();
        if (name.empty() || name == "." || name == "..")
            return MoveResult::Failed;
        if (!slash)
            break;
        at = slash + 1;
    }
    // The base is the user's choice and may be reached through a link; nothing below it is.
    int dir = open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t i = 0; dir >= 0 && i + 1 < names.size(); ++i) {
        const char *name = names[i].c_str();
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = openat(dir, name, flags);
        if (next < 0 && errno == ENOENT && (mkdirat(dir, name, 0777) == 0 || errno == EEXIST))
            next = openat(dir, name, flags);
        close(dir);
        dir = next;
    }
    if (dir < 0)
        return MoveResult::Failed;
    const char *name = names.back().c_str();
    const Place placed =
        replace ? PlaceByRename(AT_FDCWD, source, dir, name) : PlaceNoReplace(AT_FDCWD, source, dir, name);
    const MoveResult result =
        placed == Place::OtherDevice ? CopyInto(source, dir, name, replace) : ResultOf(placed);
    close(dir);
    return result;
}

EntryKind QueryEntryNoFollow(const char *path)
{
    struct stat info;
    // Only what is surely not there is missing: a name that cannot be looked at may still be taken.
    if (lstat(path, &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EntryKind::Missing : EntryKind::Other;
    if (S_ISLNK(info.st_mode))
        return EntryKind::Link;
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
}

bool ReadRegularFile(const char *path, size_t limit, std::string &bytes)
{
    // Non-blocking: a FIFO planted at the name must not hang the reader.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= limit;
    bytes.clear();
    char buffer[65536];
    while (ok) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + static_cast<size_t>(got) > limit)
            ok = false;
        else
            bytes.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

std::FILE *OpenFileForAppending(const char *path)
{
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    struct stat info;
    std::FILE *file = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        file = fdopen(fd, "ab");
    if (file == nullptr)
        close(fd);
    return file;
}
