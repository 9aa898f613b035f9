// What the installer test asks of Windows the way Explorer and a user would: read a shortcut, start a
// command line as Explorer starts a folder verb's or the login starts the Run key's, read and close a
// message box.
//   windows_shellhelper link FILE.lnk        prints "target T" and "folder W"
//   windows_shellhelper run COMMAND_LINE     starts it as given, waits, prints "exit N"
//   windows_shellhelper start COMMAND_LINE   starts it as given, does not wait, prints "pid N"
//   windows_shellhelper box TITLE [ok]       prints the texts of the message box TITLE; "ok" closes it
// Output is UTF-8. Exit code 1: no such box, or the call failed.
#include <windows.h>

#include <cstdio>
#include <shellapi.h>
#include <shlobj.h>
#include <string>

namespace {

void Print(const std::wstring &key, const std::wstring &value)
{
    const std::wstring line = key + L" " + value + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    std::fputs(bytes.c_str(), stdout);
    std::fflush(stdout);
}

int ReadLink(const wchar_t *path)
{
    CoInitialize(nullptr);
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file))) ||
        FAILED(file->Load(path, STGM_READ)))
        return 1;
    wchar_t text[MAX_PATH * 4];
    if (FAILED(link->GetPath(text, MAX_PATH * 4, nullptr, SLGP_RAWPATH)))
        return 1;
    Print(L"target", text);
    link->GetWorkingDirectory(text, MAX_PATH * 4);
    Print(L"folder", text);
    file->Release();
    link->Release();
    return 0;
}

int Start(const wchar_t *commandLine, bool wait)
{
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 1;
    std::printf("pid %lu\n", process.dwProcessId);
    std::fflush(stdout);
    if (wait) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        std::printf("exit %lu\n", code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

BOOL CALLBACK PrintText(HWND window, LPARAM)
{
    wchar_t className[64], text[4096];
    GetClassNameW(window, className, 64);
    if (GetWindowTextW(window, text, 4096) > 0 && std::wstring(className) == L"Static")
        Print(L"text", text);
    return TRUE;
}

int Box(const wchar_t *title, bool ok)
{
    HWND box = FindWindowW(L"#32770", title);
    if (box == nullptr)
        return 1;
    EnumChildWindows(box, PrintText, 0);
    if (ok)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring what = argv != nullptr && argc >= 3 ? argv[1] : L"";
    if (what == L"link" && argc == 3)
        return ReadLink(argv[2]);
    if ((what == L"run" || what == L"start") && argc == 3)
        return Start(argv[2], what == L"run");
    if (what == L"box" && argc <= 4)
        return Box(argv[2], argc == 4 && std::wstring(argv[3]) == L"ok");
    std::fprintf(stderr, "usage: see shellhelper.cpp\n");
    return 2;
}
