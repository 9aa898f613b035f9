#include "platform/launch.h"

#include <windows.h>

int LaunchProcess(const char *applicationPath, const char *commandLine, int showMode)
{
    SECURITY_ATTRIBUTES security;
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &security, 0)) {
        return -1;
    }

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = static_cast<WORD>(showMode);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;

    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    char line[32768];
    lstrcpynA(line, commandLine != nullptr ? commandLine : "", sizeof line);
    BOOL created = CreateProcessA(applicationPath, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
    if (created) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    return created ? 0 : -1;
}
