#include "platform/textfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

bool WriteTextFileReplacing(const char *path, const char *text, size_t size)
{
    // A hidden name beside the target: the rename must not cross file systems.
    const std::string target(path);
    const size_t slash = target.rfind('/');
    std::string temporary = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    temporary += '.';
    temporary += target.substr(slash == std::string::npos ? 0 : slash + 1);
    temporary += ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC); // O_EXCL: never an existing name, nor a link
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0; // mkstemp makes it private; a list for the user to read and share
    size_t done = 0;
    while (ok && done < size) {
        const ssize_t written = write(fd, text + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            ok = false;
        else
            done += static_cast<size_t>(written);
    }
    if (close(fd) != 0)
        ok = false;
    if (ok && std::rename(temporary.c_str(), path) != 0)
        ok = false;
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}
