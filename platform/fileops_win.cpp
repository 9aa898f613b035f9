#include "platform/fileops.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>
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

// A new file takes its folder's inherited permissions, which is all ownerOnly can ask for here.
std::FILE *CreateNewFile(const char *path, bool)
{
    // CREATE_NEW fails on anything already there, a link included.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
    }
    return file;
}

bool RemoveFolderTree(const char *path)
{
    WIN32_FIND_DATAA found;
    const std::string folder(path);
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    bool removed = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string inner = folder + "\\" + name;
            const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            // A junction or folder link goes as the link itself; what it points at stays.
            if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removed = RemoveFolderTree(inner.c_str()) && removed;
            } else if (isFolder) {
                removed = RemoveDirectoryA(inner.c_str()) != 0 && removed;
            } else {
                SetFileAttributesA(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
                removed = DeleteFileA(inner.c_str()) != 0 && removed;
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path) != 0 && removed;
}

MoveResult MoveFileBelow(const char *source, const char *base, const char *relative, bool replace)
{
    std::string path = base;
    for (const char *at = relative;;) {
        const char *slash = std::strchr(at, '/');
        const std::string name(at, slash ? static_cast<size_t>(slash - at) : std::strlen(at));
        if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos)
            return MoveResult::Failed;
        if (!path.empty() && path.back() != '\\' && path.back() != '/')
            path += '\\';
        path += name;
        if (!slash)
            break;
        // A junction or folder link below the base is never entered.
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES && CreateDirectoryA(path.c_str(), nullptr))
            attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return MoveResult::Failed;
        at = slash + 1;
    }
    // Without MOVEFILE_REPLACE_EXISTING an existing target, a link included, is never replaced; across
    // volumes the file is copied and then removed.
    DWORD flags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    if (replace)
        flags |= MOVEFILE_REPLACE_EXISTING;
    if (MoveFileExA(source, path.c_str(), flags))
        return MoveResult::Moved;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveResult::TargetExists
                                                                       : MoveResult::Failed;
}

EntryKind QueryEntryNoFollow(const char *path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Only what is surely not there is missing: a name that cannot be looked at may still be taken.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::Missing
                                                                              : EntryKind::Other;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return EntryKind::Link;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return EntryKind::Other;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
}

bool ReadRegularFile(const char *path, size_t limit, std::string &bytes)
{
    if (QueryEntryNoFollow(path) != EntryKind::File)
        return false;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(handle, &size) && size.QuadPart >= 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= limit;
    bytes.clear();
    char buffer[65536];
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr) || bytes.size() + got > limit)
            ok = false;
        else if (got == 0)
            break;
        else
            bytes.append(buffer, got);
    }
    CloseHandle(handle);
    return ok;
}

std::FILE *OpenFileForAppending(const char *path)
{
    const EntryKind kind = QueryEntryNoFollow(path);
    if (kind != EntryKind::File && kind != EntryKind::Missing)
        return nullptr;
    HANDLE handle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "ab");
    if (file == nullptr)
        _close(fd);
    return file;
}
