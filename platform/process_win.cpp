#include "platform/process.h"

// Process names are compared as the system's 8-bit (ANSI) names.
#undef UNICODE
#undef _UNICODE

#include <cstring>
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

// The system lists older processes before newer ones, so the first match is the instance that ran first.

int CountProcessesByName(const char *exeName)
{
    if (exeName == nullptr)
        return 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (std::strcmp(entry.szExeFile, exeName) == 0)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int TerminateProcessByName(const char *exeName, unsigned /*graceMs*/)
{
    if (exeName == nullptr)
        return 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (std::strcmp(entry.szExeFile, exeName) != 0 || entry.th32ProcessID == self)
            continue;
        // One that may not be ended (another user's) is passed over for the next one.
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        const bool ended = TerminateProcess(process, 0) != 0;
        CloseHandle(process);
        if (!ended)
            continue;
        CloseHandle(snapshot);
        return 1;
    }
    CloseHandle(snapshot);
    return 0;
}
