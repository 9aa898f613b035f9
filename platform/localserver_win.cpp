#include "platform/localserver.h"

#include <algorithm>
#include <string>
#include <vector>
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

namespace {

std::wstring DefaultValue(const std::wstring &key)
{
    wchar_t value[1024];
    DWORD size = sizeof(value);
    // REG_SZ, or REG_EXPAND_SZ expanded.
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    return value;
}

// The file name (no folder) of the program registered as the class's local server, in upper case.
std::wstring ServerFileName(const std::wstring &progId)
{
    // "Word.Application" may only point to the installed version ("Word.Application.16").
    std::wstring clsid = DefaultValue(progId + L"\\CLSID");
    if (clsid.empty()) {
        const std::wstring current = DefaultValue(progId + L"\\CurVer");
        if (!current.empty())
            clsid = DefaultValue(current + L"\\CLSID");
    }
    if (clsid.empty())
        return std::wstring();
    std::wstring command = DefaultValue(L"CLSID\\" + clsid + L"\\LocalServer32");
    std::wstring program;
    if (!command.empty() && command[0] == L'"') {
        const size_t end = command.find(L'"', 1);
        program = command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    } else {
        program = command.substr(0, command.find(L' '));
    }
    const size_t slash = program.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        program.erase(0, slash + 1);
    CharUpperBuffW(&program[0], DWORD(program.size()));
    return program;
}

std::vector<DWORD> ProcessesNamed(const std::wstring &fileName)
{
    std::vector<DWORD> ids;
    if (fileName.empty())
        return ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        std::wstring name = entry.szExeFile;
        CharUpperBuffW(&name[0], DWORD(name.size()));
        if (name == fileName)
            ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

class WinServerProcess : public LocalServerProcess
{
public:
    explicit WinServerProcess(HANDLE process) : process_(process) {}
    ~WinServerProcess() override { CloseHandle(process_); }

    bool running() const override { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    long long cpuTimeMs() const override
    {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process_, &created, &exited, &kernel, &user))
            return -1;
        const auto ticks = [](const FILETIME &t) {
            return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return (ticks(kernel) + ticks(user)) / 10000;
    }
    void terminate() override { TerminateProcess(process_, 1); }
    bool waitForExit(unsigned timeoutMs) override
    {
        return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    }

private:
    HANDLE process_;
};

} // namespace

struct LocalServerWatch::Data
{
    std::wstring fileName;
    std::vector<DWORD> before;
};

LocalServerWatch::LocalServerWatch(const wchar_t *progId) : d_(new Data)
{
    d_->fileName = ServerFileName(progId);
    d_->before = ProcessesNamed(d_->fileName);
}

LocalServerWatch::~LocalServerWatch() = default;

std::unique_ptr<LocalServerProcess> LocalServerWatch::started() const
{
    std::vector<DWORD> fresh;
    for (const DWORD id : ProcessesNamed(d_->fileName)) {
        if (std::find(d_->before.begin(), d_->before.end(), id) == d_->before.end())
            fresh.push_back(id);
    }
    // Two new ones: another program started the same server meanwhile, and which is ours is not known.
    if (fresh.size() != 1)
        return nullptr;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 fresh.front());
    if (!process)
        return nullptr;
    return std::make_unique<WinServerProcess>(process);
}
