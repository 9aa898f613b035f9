#include "platform/secretinput.h"

#include <cstdio>
#include <iostream>
#include <windows.h>

bool ReadSecretLine(const char *prompt, std::string *line)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    if (console) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, *line));
    if (console) {
        SetConsoleMode(input, mode);
        std::fputs("\n", stderr);
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return ok;
}
