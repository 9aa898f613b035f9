// The settings file read from disk, its key looked up and rewritten: with the fixed buffers, and with the
// growing text the window keeps, read, changed and saved back to disk.

#include "support/keyfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string &FilePath()
{
    static const std::string path = [] {
        char name[] = "/tmp/quillmark-fuzz-settings.XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) {
            std::abort();
        }
        close(fd);
        return std::string(name);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::FILE *f = std::fopen(FilePath().c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::abort();
    }
    // Exact-size buffers, so that a write past one is seen.
    std::vector<char> text(kSettingsTextCapacity, '\0');
    if (LoadKeyFile(FilePath().c_str(), text.data(), text.size()) != 0) {
        std::abort();
    }
    std::vector<char> value(kSettingsValueCapacity, 'x');
    GetKeyValue(text.data(), "sourcePath", value.data(), value.size());
    if (strnlen(value.data(), value.size()) == value.size()) {
        std::abort();
    }
    // A key and value taken from the input itself, then written back in place.
    const char *key = size > 1 && data[0] != 0 ? "sourcePath" : "";
    const std::string newValue(reinterpret_cast<const char *>(data), std::min<size_t>(size, 40));
    std::vector<char> result(kSettingsTextCapacity, '\0');
    const int set = SetKeyValue(result.data(), text.data(), key, newValue.c_str(), result.size());
    if (set == 0 && strnlen(result.data(), result.size()) == result.size()) {
        std::abort();
    }
    SetKeyValue(text.data(), text.data(), "sourcePath", value.data(), text.size());

    // What the window does: the whole file into a string, the folder read and replaced, the file saved.
    std::string whole;
    if (LoadKeyFile(FilePath().c_str(), whole) != 0 ||
        whole != std::string(reinterpret_cast<const char *>(data), size)) {
        std::abort();
    }
    std::vector<char> folder(kSettingsValueCapacity, 'x');
    GetKeyValue(whole, "sourcePath", folder.data(), folder.size());
    if (strnlen(folder.data(), folder.size()) == folder.size()) {
        std::abort();
    }
    std::string changed = whole;
    if (SetKeyValue(changed, key, newValue.c_str()) != 0) {
        if (changed != whole) {
            std::abort(); // a refusal leaves the text as it was
        }
        return 0;
    }
    // The value just set is what a lookup finds (a key elsewhere in a value may come first).
    if (*key != '\0' && newValue.find_first_of(std::string("\0\r\n=", 4)) == std::string::npos &&
        newValue.find_first_not_of(" \t") != std::string::npos &&
        whole.find("sourcePath") == std::string::npos) {
        std::vector<char> back(kSettingsValueCapacity, '\0');
        GetKeyValue(changed, key, back.data(), back.size());
        std::string trimmed = newValue;
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
        if (trimmed.size() < back.size() && trimmed != back.data()) {
            std::abort();
        }
    }
    if (SaveKeyFile(FilePath().c_str(), changed) == 0) {
        std::string saved;
        if (LoadKeyFile(FilePath().c_str(), saved) != 0 || saved != changed) {
            std::abort();
        }
    }
    return 0;
}
