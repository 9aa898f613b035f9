// quillmark-shell.exe (see shellcommand.h). A GUI program without a window of its own: started from
// Explorer's folder menu it must not open a console, and it runs quillmark-print.exe without one.
#include "winshell/shellcommand.h"

#include <windows.h>

#include <string>
#include <tlhelp32.h>
#include <vector>

namespace {

// The command line's summary comes last; its progress lines before it may run to megabytes.
constexpr std::size_t kKeptOutput = 64 * 1024;
constexpr DWORD kEndWaitMs = 5000;

std::wstring OwnPath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (size == 0)
            return std::wstring();
        if (size < buffer.size())
            return std::wstring(buffer.data(), size);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring &path)
{
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring WithSlash(const std::wstring &folder)
{
    return !folder.empty() && folder.back() != L'\\' ? folder + L'\\' : folder;
}

std::wstring FromAnsi(const std::string &bytes)
{
    if (bytes.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

void Show(const ShellMessage &message)
{
    UINT icon = MB_ICONERROR;
    if (message.severity == ShellSeverity::Information)
        icon = MB_ICONINFORMATION;
    else if (message.severity == ShellSeverity::Warning)
        icon = MB_ICONWARNING;
    MessageBoxW(nullptr, message.text.c_str(), message.title.c_str(), MB_OK | icon | MB_SETFOREGROUND);
}

int PrintFolder(const std::wstring &folder)
{
    const std::wstring printer = FolderOf(OwnPath()) + L"quillmark-print.exe";
    std::wstring line = QuoteArgument(printer) + L" -- " + QuoteArgument(folder);

    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) {
        Show(LaunchFailedMessage(printer));
        return 2;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // No console to ask a password on: it comes from QUILLMARK_PASSWORD when the session sets it.
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');
    const BOOL started = CreateProcessW(printer.c_str(), writable.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (!started) {
        CloseHandle(readEnd);
        Show(LaunchFailedMessage(printer));
        return 2;
    }

    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        output.append(chunk, got);
        if (output.size() > 2 * kKeptOutput) {
            // From a line's start, so that no character is cut in two.
            const std::size_t from = output.find('\n', output.size() - kKeptOutput);
            output.erase(0, from == std::string::npos ? output.size() : from + 1);
        }
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 2;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    Show(PrintOutcomeMessage(folder, exitCode, FromAnsi(output)));
    return static_cast<int>(exitCode);
}

// Ends every process (but this one) whose program file lies in folder: the window in the tray, a print
// run, Explorer's folder menu still showing its box. Their files could not be removed while they run.
void StopPrograms(const std::wstring &folder)
{
    const std::wstring prefix = WithSlash(folder);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                     FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        wchar_t image[MAX_PATH * 2];
        DWORD size = sizeof image / sizeof image[0];
        if (QueryFullProcessImageNameW(process, 0, image, &size) && size > prefix.size() &&
            CompareStringOrdinal(image, static_cast<int>(prefix.size()), prefix.c_str(),
                                 static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, kEndWaitMs);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// Removes everything inside folder; at its top level, what IsKeptAtRemoval keeps. A link or junction goes
// as itself: what it points to is never entered. Returns the number of entries that could not be removed.
int EmptyFolder(const std::wstring &folder, bool top)
{
    int failures = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 1;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (top && IsKeptAtRemoval(name)))
            continue;
        const std::wstring path = folder + name;
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        bool removed;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                failures += EmptyFolder(path + L"\\", false);
            removed = RemoveDirectoryW(path.c_str()) != 0;
        } else {
            removed = DeleteFileW(path.c_str()) != 0;
        }
        if (!removed)
            ++failures;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return failures;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const ShellCommand command = ParseShellCommand(GetCommandLineW());
    if (command.action == L"print-folder") {
        if (command.argument.empty()) {
            Show(ShellMessage{L"澄笺", L"未能打印：没有指定文件夹。", ShellSeverity::Error});
            return 2;
        }
        return PrintFolder(command.argument);
    }
    // The installer's steps: silent, their outcome only in the exit code (the installer goes on).
    if (!IsOwnInstallFolder(command.argument))
        return 2;
    const std::wstring folder = WithSlash(command.argument);
    if (command.action == L"stop-programs") {
        StopPrograms(folder);
        return 0;
    }
    if (command.action == L"remove-leftovers") {
        const int failures = EmptyFolder(folder, true);
        // The installer made the folder and the one around it and tried to remove them while leftovers were
        // still in them: they go now if empty (RemoveDirectory takes no other).
        const std::wstring inner = folder.substr(0, folder.size() - 1);
        if (RemoveDirectoryW(inner.c_str()))
            RemoveDirectoryW(inner.substr(0, inner.find_last_of(L'\\')).c_str());
        return failures == 0 ? 0 : 1;
    }
    return 2;
}
