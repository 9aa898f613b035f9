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

// A console line as UTF-16, so that it does not depend on the console's code page (chcp 65001 included),
// and then as UTF-8.
bool ReadConsoleLine(HANDLE input, std::string *line)
{
    std::wstring wide;
    wchar_t buffer[256];
    for (;;) {
        DWORD read = 0;
        if (!ReadConsoleW(input, buffer, DWORD(sizeof(buffer) / sizeof(buffer[0])), &read, nullptr) ||
            read == 0)
            break;
        wide.append(buffer, read);
        if (wide.back() == L'\n')
            break;
    }
    const bool ended = !wide.empty() && wide.back() == L'\n';
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r'))
        wide.pop_back();
    line->clear();
    if (!wide.empty()) {
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
        line->resize(static_cast<size_t>(n));
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &(*line)[0], n, nullptr, nullptr);
    }
    return ended || !line->empty();
}

// A line from a pipe or file is in the ANSI code page, as any other text of the program.
std::string AnsiToUtf8(const std::string &ansi)
{
    if (ansi.empty())
        return ansi;
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), &wide[0], wideLength);
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], n, nullptr, nullptr);
    return utf8;
}

} // namespace

bool ReadSecretLine(const char *prompt, std::string *line)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    if (!console) {
        const bool ok = static_cast<bool>(std::getline(std::cin, *line));
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        *line = AnsiToUtf8(*line);
        return ok;
    }
    // Echo off before the prompt shows, so that nothing typed at once is echoed; on Ctrl+C or a closed
    // console the echo comes back before the process goes, as the console outlives it.
    savedInput = input;
    savedMode = mode;
    SetConsoleCtrlHandler(RestoreEchoOnInterrupt, TRUE);
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    WritePrompt(prompt);
    const bool ok = ReadConsoleLine(input, line);
    SetConsoleMode(input, mode);
    SetConsoleCtrlHandler(RestoreEchoOnInterrupt, FALSE);
    std::fputs("\n", stderr);
    return ok;
}
