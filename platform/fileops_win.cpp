#include "platform/fileops.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
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
