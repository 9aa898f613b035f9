#include "platform/localserver.h"

#include "platform/comserverrules.h"

#include <algorithm>
#include <utility>
#include <vector>
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

namespace {

// The default value of a key of HKEY_CLASSES_ROOT in one registry view; empty when there is none.
// RegGetValueW with expanded strings fails under Wine (error 87), so the value is read and expanded here.
std::wstring DefaultValue(const std::wstring &key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t value[2048];
    DWORD type = 0;
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const LONG result =
        RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    value[size / sizeof(wchar_t)] = L'\0';
    if (type == REG_SZ)
        return value;
    wchar_t expanded[2048];
    const DWORD n = ExpandEnvironmentStringsW(value, expanded, DWORD(sizeof(expanded) / sizeof(wchar_t)));
    return n > 0 && n <= sizeof(expanded) / sizeof(wchar_t) ? std::wstring(expanded) : std::wstring(value);
}

bool KeyExists(const std::wstring &key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool IsFile(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct Registration
{
    bool inProcess = false;
    std::wstring program; // the local server's program, as CreateProcess finds it
};

// A 32-bit program sees the 32-bit view by default; a 64-bit Office registers its server in the 64-bit
// view, which COM serves all the same. Both are read (on 32-bit Windows the flags are ignored).
Registration Registered(const std::wstring &progId)
{
    Registration found;
    const REGSAM views[] = {0, KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (const REGSAM view : views) {
        // "Word.Application" may only point to the installed version ("Word.Application.16").
        std::wstring clsid = DefaultValue(progId + L"\\CLSID", view);
        if (clsid.empty()) {
            const std::wstring current = DefaultValue(progId + L"\\CurVer", view);
            if (!current.empty())
                clsid = DefaultValue(current + L"\\CLSID", view);
        }
        if (clsid.empty())
            continue;
        // COM creates an in-process server first, when this program's own view has one.
        if (view == 0 && KeyExists(L"CLSID\\" + clsid + L"\\InprocServer32", view)) {
            found.inProcess = true;
            return found;
        }
        const std::wstring command = DefaultValue(L"CLSID\\" + clsid + L"\\LocalServer32", view);
        if (!command.empty())
            found.program = ProgramOfCommand(command, IsFile);
        if (!found.program.empty())
            return found;
    }
    return found;
}

long long Ticks(const FILETIME &t)
{
    return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

long long CreationTime(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)
        return -1;
    FILETIME created, exited, kernel, user;
    const bool ok = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    CloseHandle(process);
    return ok ? Ticks(created) : -1;
}

struct Running
{
    DWORD id;
    DWORD parentId;
    std::wstring fileName;
    long long created;
};

std::vector<Running> Snapshot()
{
    std::vector<Running> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return all;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        all.push_back({entry.th32ProcessID, entry.th32ParentProcessID, UpperFileName(entry.szExeFile),
                       CreationTime(entry.th32ProcessID)});
    CloseHandle(snapshot);
    return all;
}

// Another process's command line: asked of the system (Windows 8.1 and later, any bitness), else read
// from its process block (same bitness only). Empty when it cannot be read.
std::wstring CommandLineOf(DWORD id)
{
    using Query = LONG(WINAPI *)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query)
        return std::wstring();
    struct Text
    {
        USHORT length;
        USHORT maximum;
        wchar_t *buffer;
    };
    std::wstring line;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process) {
        std::vector<unsigned char> buffer(sizeof(Text) + 65536);
        ULONG size = 0;
        const ULONG ProcessCommandLineInformation = 60;
        if (query(process, ProcessCommandLineInformation, buffer.data(), ULONG(buffer.size()), &size) >= 0) {
            const Text *text = reinterpret_cast<const Text *>(buffer.data());
            if (text->buffer)
                line.assign(text->buffer, text->length / sizeof(wchar_t));
        }
        CloseHandle(process);
    }
    if (!line.empty())
        return line;
    process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (!process)
        return line;
    struct Basic
    {
        LONG exitStatus;
        void *peb;
        ULONG_PTR affinity;
        LONG priority;
        ULONG_PTR id;
        ULONG_PTR parent;
    } basic{};
    ULONG size = 0;
    void *parameters = nullptr;
    Text text{};
    // The process parameters' address, then their command line (offsets of the process block's layout).
    const size_t parametersAt = sizeof(void *) == 8 ? 0x20 : 0x10;
    const size_t commandLineAt = sizeof(void *) == 8 ? 0x70 : 0x40;
    if (query(process, 0, &basic, sizeof basic, &size) >= 0 && basic.peb &&
        ReadProcessMemory(process, static_cast<char *>(basic.peb) + parametersAt, &parameters,
                          sizeof parameters, nullptr) &&
        parameters &&
        ReadProcessMemory(process, static_cast<char *>(parameters) + commandLineAt, &text, sizeof text,
                          nullptr) &&
        text.buffer && text.length > 0) {
        std::wstring read(text.length / sizeof(wchar_t), L'\0');
        if (ReadProcessMemory(process, text.buffer, &read[0], text.length, nullptr))
            line = read;
    }
    CloseHandle(process);
    return line;
}

DWORD SessionOf(DWORD id)
{
    DWORD session = DWORD(-1);
    ProcessIdToSessionId(id, &session);
    return session;
}

class WinServerProcess : public LocalServerProcess
{
public:
    WinServerProcess(HANDLE process, DWORD id) : process_(process), id_(id)
    {
        // The server goes with this program, also when it crashes: a job that ends its processes when its
        // last handle closes. A server already in a job of its own (older Windows allow one job) goes
        // without; an abort and the quit still end it.
        job_ = CreateJobObjectW(nullptr, nullptr);
        if (job_) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            if (!SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
                !AssignProcessToJobObject(job_, process_)) {
                CloseHandle(job_);
                job_ = nullptr;
            }
        }
    }
    ~WinServerProcess() override
    {
        if (job_)
            CloseHandle(job_);
        CloseHandle(process_);
    }

    unsigned long id() const override { return id_; }
    bool running() const override { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    long long cpuTimeMs() const override
    {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process_, &created, &exited, &kernel, &user))
            return -1;
        return (Ticks(kernel) + Ticks(user)) / 10000;
    }
    long long ioBytes() const override
    {
        IO_COUNTERS counters{};
        if (!GetProcessIoCounters(process_, &counters))
            return -1;
        return static_cast<long long>(counters.ReadTransferCount + counters.WriteTransferCount +
                                      counters.OtherTransferCount);
    }
    void terminate() override { TerminateProcess(process_, 1); }
    bool waitForExit(unsigned timeoutMs) override
    {
        return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    }
    void keep() override
    {
        if (!job_)
            return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

private:
    HANDLE process_;
    DWORD id_;
    HANDLE job_ = nullptr;
};

} // namespace

struct LocalServerWatch::Data
{
    Registration registration;
    std::vector<std::pair<DWORD, long long>> before; // id and creation time
    long long since = 0;                             // when the watch began
};

LocalServerWatch::LocalServerWatch(const wchar_t *progId) : d_(new Data)
{
    d_->registration = Registered(progId);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    d_->since = Ticks(now);
    for (const Running &process : Snapshot())
        d_->before.emplace_back(process.id, process.created);
}

LocalServerWatch::~LocalServerWatch() = default;

std::unique_ptr<LocalServerProcess> LocalServerWatch::started(Miss *miss) const
{
    Miss reason = Miss::None;
    std::unique_ptr<LocalServerProcess> server;
    if (d_->registration.inProcess) {
        reason = Miss::InProcess;
    } else if (d_->registration.program.empty()) {
        reason = Miss::NotRegistered;
    } else {
        const DWORD ownId = GetCurrentProcessId();
        const DWORD ownSession = SessionOf(ownId);
        const std::vector<Running> now = Snapshot();
        // The COM launcher is a service host on Windows; Wine starts local servers from the client itself.
        const auto parentAccepted = [&](DWORD parent) {
            if (parent == ownId)
                return true;
            for (const Running &process : now) {
                if (process.id != parent)
                    continue;
                const bool old = std::find(d_->before.begin(), d_->before.end(),
                                           std::make_pair(process.id, process.created)) != d_->before.end();
                return !old || process.fileName == L"SVCHOST.EXE" || process.fileName == L"RPCSS.EXE";
            }
            return true; // gone: a launcher that started the server and ended
        };
        std::vector<ServerCandidate> appeared;
        for (const Running &process : now) {
            const bool old = std::find(d_->before.begin(), d_->before.end(),
                                       std::make_pair(process.id, process.created)) != d_->before.end();
            // Created since the watch began (a reused process number does not make an old process new).
            if (old || process.created < 0 || process.created + 10000 * 20 < d_->since)
                continue;
            ServerCandidate candidate;
            candidate.id = process.id;
            candidate.parentId = process.parentId;
            candidate.fileName = process.fileName;
            candidate.commandLine = CommandLineOf(process.id);
            candidate.sameSession = SessionOf(process.id) == ownSession;
            candidate.parentAccepted = parentAccepted(process.parentId);
            appeared.push_back(candidate);
        }
        const DWORD id = PickServer(appeared, UpperFileName(d_->registration.program));
        HANDLE process = id ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                              PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_SET_QUOTA,
                                          FALSE, id)
                            : nullptr;
        if (!process && id)
            process =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process)
            server = std::make_unique<WinServerProcess>(process, id);
        else
            reason = Miss::NotConfirmed;
    }
    if (miss)
        *miss = reason;
    return server;
}
