#include "platform/secretinput.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <windows.h>

namespace {

// The prompt is UTF-8; written as bytes it would be read in the console's code page and come out garbled,
// so a console gets it as UTF-16.
void WritePrompt(const char *prompt)
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const int length = MultiByteToWideChar(CP_UTF8, 0, prompt, -1, nullptr, 0);
    if (GetConsoleMode(error, &mode) && length > 1) {
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, prompt, -1, &wide[0], length);
        DWORD written = 0;
        WriteConsoleW(error, wide.c_str(), static_cast<DWORD>(length - 1), &written, nullptr);
        return;
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
}

HANDLE savedInput = nullptr;
DWORD savedMode = 0;

BOOL WINAPI RestoreEchoOnInterrupt(DWORD)
{
    SetConsoleMode(savedInput, savedMode);
    return FALSE; // the default handling ends the process
}

} // namespace

bool ReadSecretLine(const char *prompt, std::string *line)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    if (console) {
        // Echo off before the prompt shows, so that nothing typed at once is echoed; on Ctrl+C or a closed
        // console the echo comes back before the process goes, as the console outlives it.
        savedInput = input;
        savedMode = mode;
        SetConsoleCtrlHandler(RestoreEchoOnInterrupt, TRUE);
        SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        WritePrompt(prompt);
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, *line));
    if (console) {
        SetConsoleMode(input, mode);
        SetConsoleCtrlHandler(RestoreEchoOnInterrupt, FALSE);
        std::fputs("\n", stderr);
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return ok;
}
