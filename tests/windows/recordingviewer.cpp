// Stands in for Notepad in the whole-program tests: records how it was started (its command line, in
// UTF-8) and the bytes of the file it was asked to show, in viewer.log beside itself, then ends.
// Notepad takes everything after its own name as one file name, spaces included; so does this.

#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring &text)
{
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// The command line without the program's own name.
std::wstring Arguments(const wchar_t *line)
{
    bool quoted = false;
    for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
        if (*line == L'"')
            quoted = !quoted;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t *line = GetCommandLineW();
    const std::wstring file = Arguments(line);
    std::string record = "command " + Utf8(line) + "\n";
    HANDLE shown = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (shown == INVALID_HANDLE_VALUE) {
        record += "unreadable\n";
    } else {
        static const char hex[] = "0123456789abcdef";
        record += "bytes ";
        unsigned char buffer[4096];
        DWORD read = 0;
        while (ReadFile(shown, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            for (DWORD i = 0; i < read; ++i) {
                record += hex[buffer[i] >> 4];
                record += hex[buffer[i] & 15];
            }
        }
        record += "\n";
        CloseHandle(shown);
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log = self;
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"viewer.log";
    HANDLE out = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(out, record.data(), DWORD(record.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
