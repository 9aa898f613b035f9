// Preloaded into a program under test, it stands for a file system without hard links and without a
// rename that refuses to replace (FAT, exFAT, many SMB mounts): link() and linkat() fail with EPERM,
// renameat2() with flags fails with EINVAL. With QUILLMARK_SHIM_LOG set, each refusal is noted there, so
// that a test can tell the program met them.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

void Note(const char *what)
{
    const char *log = std::getenv("QUILLMARK_SHIM_LOG");
    if (!log)
        return;
    if (std::FILE *file = std::fopen(log, "a")) {
        std::fprintf(file, "%s\n", what);
        std::fclose(file);
    }
}

} // namespace

extern "C" {

int link(const char *, const char *)
{
    Note("link");
    errno = EPERM;
    return -1;
}

int linkat(int, const char *, int, const char *, int)
{
    Note("linkat");
    errno = EPERM;
    return -1;
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    if (flags != 0) {
        Note("renameat2");
        errno = EINVAL;
        return -1;
    }
    return renameat(fromDir, from, toDir, to);
}
}
