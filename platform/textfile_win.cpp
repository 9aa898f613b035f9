#include "platform/textfile.h"

#include <algorithm>
#include <string>
#include <windows.h>

bool WriteTextFileReplacing(const char *path, const char *text, size_t size)
{
    // Text mode, as the C runtime would write it.
    std::string bytes;
    bytes.reserve(size + size / 16);
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\n')
            bytes += '\r';
        bytes += text[i];
    }
    // A unique name beside the target; CREATE_NEW never opens an existing name, nor a link.
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = std::string(path) + "." + std::to_string(GetCurrentProcessId()) + "." +
                    std::to_string(GetTickCount()) + "." + std::to_string(attempt) + ".tmp";
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    if (!CloseHandle(file))
        ok = false;
    // Replacing moves the new file into place; a link at path is itself replaced.
    if (ok && !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING))
        ok = false;
    if (!ok)
        DeleteFileA(temporary.c_str());
    return ok;
}
