#include "platform/safefiles.h"

#include <fcntl.h>
#include <io.h>
#include <memory>
#include <vector>
#include <windows.h>

#include <aclapi.h>

namespace {

// The user this process runs as, as a SID inside a token information buffer.
std::vector<char> CurrentUser()
{
    std::vector<char> buffer;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return buffer;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        buffer.clear();
    }
    CloseHandle(token);
    return buffer;
}

// A security descriptor whose access list lets the owner alone in and inherits nothing from the folder.
struct OwnerOnlyDescriptor
{
    std::vector<char> user = CurrentUser();
    std::vector<char> acl;
    SECURITY_DESCRIPTOR descriptor;

    bool Build()
    {
        if (user.empty()) {
            return false;
        }
        PSID sid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
        acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        PACL list = reinterpret_cast<PACL>(acl.data());
        return InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
               AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
               SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
};

} // namespace

std::FILE *CreateExclusiveFile(const char *path, FileAccess access, bool removeFirst)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (removeFirst && attributes != INVALID_FILE_ATTRIBUTES && !RemoveFile(path)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    OwnerOnlyDescriptor ownerOnly;
    if (access == FileAccess::OwnerOnly) {
        if (!ownerOnly.Build()) {
            return nullptr;
        }
        security.lpSecurityDescriptor = &ownerOnly.descriptor;
    }
    // CREATE_NEW fails on anything there, a link included. Others may read while it is open, never write,
    // rename or delete it.
    const DWORD rights = GENERIC_READ | GENERIC_WRITE | (access == FileAccess::OwnerOnly ? WRITE_DAC : 0);
    HANDLE handle =
        CreateFileA(path, rights, FILE_SHARE_READ, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Set once more, marked protected: a file system (or Wine) that merged the folder's inherited entries
    // into the list given at creation keeps none of them.
    if (access == FileAccess::OwnerOnly &&
        SetSecurityInfo(handle, SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        reinterpret_cast<PACL>(ownerOnly.acl.data()), nullptr) != ERROR_SUCCESS) {
        CloseHandle(handle);
        DeleteFileA(path);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileA(path);
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "w+b");
    if (file == nullptr) {
        _close(fd);
        DeleteFileA(path);
    }
    return file;
}

bool SetFileAccess(const char *path, FileAccess)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsExecutableFile(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool OpenFileIsPrivate(std::FILE *f, bool)
{
    if (f == nullptr || std::fflush(f) != 0) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) &&
           info.nNumberOfLinks == 1 &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool FileReadableByOthers(const char *)
{
    return false;
}

bool FlushFolder(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool RenameReplacing(const char *source, const char *target)
{
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RenameNew(const char *source, const char *target)
{
    return MoveFileExA(source, target, MOVEFILE_WRITE_THROUGH) != 0;
}

bool LinkFile(const char *source, const char *target)
{
    return CreateHardLinkA(target, source, nullptr) != 0;
}

bool RemoveFile(const char *path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // A folder link or junction goes as the link itself.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && RemoveDirectoryA(path) != 0;
    }
    return DeleteFileA(path) != 0;
}

bool IsOwnFolder(const char *path)
{
    return QueryEntryNoFollow(path) == EntryKind::Folder;
}

bool MakeSharedFolder(const char *path)
{
    return CreateDirectoryA(path, nullptr) != 0;
}

std::vector<std::string> FolderNames(const char *path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    std::string pattern(path);
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) {
        pattern += '\\';
    }
    HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

bool RunningProgramsCanBeReplaced()
{
    return false;
}

intptr_t HoldFolder(const char *path)
{
    if (QueryEntryNoFollow(path) != EntryKind::Folder) {
        return -1;
    }
    // Delete access shared with no one: a second such handle, from any process, is refused while this one
    // is open, and the system closes it when the process ends however it ends.
    HANDLE handle =
        CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

void ReleaseFolder(intptr_t hold)
{
    if (hold != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(hold));
    }
}
