// GetJsonField on a reply: the value never outgrows the buffer it is given.

#include "support/textutil.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    // The first byte picks the buffer size, so small buffers are tried as well as large ones.
    const size_t capacity = size_t(data[0]) + 1;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<char> out(capacity, 'x');
    GetJsonField(out.data(), text.c_str(), "Quillmark", out.size());
    const size_t length = strnlen(out.data(), out.size());
    if (length == out.size() || length > std::strlen(text.c_str())) {
        std::abort();
    }
    std::vector<char> large(std::strlen(text.c_str()) + 1, 'x');
    GetJsonField(large.data(), text.c_str(), "Quillmark", large.size());
    // A value that fits in the small buffer is the same value the large one holds.
    if (length > 0 && std::strcmp(out.data(), large.data()) != 0) {
        std::abort();
    }
    return 0;
}
