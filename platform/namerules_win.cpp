#include "platform/namerules.h"

#include <windows.h>

bool PlatformUsesWindowsFileNames()
{
    return true;
}

bool NameIsWrittenAsStored(const std::string &name, bool markedUtf8)
{
    bool plain = true;
    for (const char c : name) {
        plain = plain && static_cast<unsigned char>(c) < 0x80;
    }
    if (plain) {
        return true;
    }
    // The ANSI calls would read UTF-8 bytes in the code page: another name than the package means.
    if (markedUtf8 && GetACP() != CP_UTF8) {
        return false;
    }
    // Bytes the code page cannot map would be replaced on the way to the file system.
    const int size = static_cast<int>(name.size());
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
    if (wide <= 0) {
        return false;
    }
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, &text[0], wide);
    BOOL lossy = FALSE;
    const int back = WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, &lossy);
    if (back != size || lossy) {
        return false;
    }
    std::string again(static_cast<size_t>(back), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide, &again[0], back, nullptr, nullptr);
    return again == name;
}
