// The settings file read from disk, its key looked up and rewritten.

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
    return 0;
}
