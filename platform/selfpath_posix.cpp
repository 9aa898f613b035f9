#include "platform/selfpath.h"

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

char NativeSeparator()
{
    return '/';
}

int OwnExecutablePath(const char *argv0, char *out, size_t capacity)
{
    (void)argv0; // on Linux argv[0] is often a bare name or anything the parent chose
    if (out == nullptr || capacity == 0)
        return -1;
    out[0] = '\0';
    char target[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
        return -1;
    if (static_cast<size_t>(length) >= capacity)
        return -1;
    std::memcpy(out, target, static_cast<size_t>(length));
    out[length] = '\0';
    return 0;
}

const char *InstanceExecutableName()
{
    return "Quillmark";
}
