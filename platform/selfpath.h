#pragma once
#include <cstddef>

// The directory separator that AppDir ends in.
char NativeSeparator();
// The running program's own path: argv[0] on Windows, the real path of the running file elsewhere.
// 0 done; -1 when it cannot be found or does not fit in capacity.
int OwnExecutablePath(const char *argv0, char *out, size_t capacity);
// The executable file name the instance guard looks for ("Quillmark.exe" / "Quillmark").
const char *InstanceExecutableName();
