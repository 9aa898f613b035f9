#include "platform/selfpath.h"

#include <cstring>

char NativeSeparator()
{
    return '\\';
}

int OwnExecutablePath(const char *argv0, char *out, size_t capacity)
{
    if (out == nullptr || capacity == 0)
        return -1;
    out[0] = '\0';
    if (argv0 == nullptr)
        return -1;
    const size_t length = std::strlen(argv0);
    if (length >= capacity)
        return -1;
    std::memcpy(out, argv0, length + 1);
    return 0;
}

const char *InstanceExecutableName()
{
    return "Quillmark.exe";
}
