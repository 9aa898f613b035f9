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
    ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
        return -1;
    target[length] = '\0';
    // The file was replaced since the start (an update): its place is still the program's place.
    const char deleted[] = " (deleted)";
    const size_t markerLength = sizeof deleted - 1;
    struct stat running, named;
    if (static_cast<size_t>(length) > markerLength &&
        std::strcmp(target + length - markerLength, deleted) == 0 &&
        !(stat(target, &named) == 0 && stat("/proc/self/exe", &running) == 0 &&
          named.st_dev == running.st_dev && named.st_ino == running.st_ino))
        target[length - markerLength] = '\0';
    length = static_cast<ssize_t>(std::strlen(target));
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
