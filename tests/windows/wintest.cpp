#include "tests/windows/wintest.h"

#include <cstdio>
#include <vector>

namespace wintest {

std::string MakeScratchFolder(const char *tag)
{
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp)
        return std::string();
    std::string base(temp, n);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string folder = base + "\\qm_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                             std::to_string(GetTickCount()) + "_" + std::to_string(attempt);
        if (CreateDirectoryA(folder.c_str(), nullptr))
            return folder;
    }
    return std::string();
}

void RemoveTree(const std::string &folder)
{
    if (folder.empty())
        return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, n < sizeof path ? n : 0);
    size_t slash = own.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : own.substr(0, slash);
}

bool WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

static std::string ReadHandle(HANDLE file)
{
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    std::vector<char> piece(65536);
    DWORD got = 0;
    while (ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) && got > 0)
        bytes.append(piece.data(), got);
    CloseHandle(file);
    return bytes;
}

std::string ReadBytes(const std::string &path)
{
    return ReadHandle(CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadBytesWide(const std::wstring &path)
{
    return ReadHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WaitForFile(const std::string &path, unsigned timeoutMs)
{
    for (unsigned waited = 0;; waited += 50) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(50);
    }
}

Child::~Child()
{
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

bool Child::Start(const std::string &application, const std::string &arguments)
{
    std::string commandLine = "\"" + application + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    return StartWithCommandLine(application, commandLine);
}

bool Child::StartWithCommandLine(const std::string &application, const std::string &commandLine,
                                 const std::string &currentFolder)
{
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(application.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
}

bool Child::WaitForExit(unsigned timeoutMs)
{
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Child::ExitCode() const
{
    DWORD code = 0xFFFFFFFF;
    if (process_ == nullptr || !GetExitCodeProcess(process_, &code))
        return 0xFFFFFFFF;
    return code;
}

} // namespace wintest
