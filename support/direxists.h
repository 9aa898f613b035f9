#pragma once
// Existence tests over local 8-bit paths. Both leave the path as it was and keep nothing open.

// True when anything (file or folder) is found at path; the empty path is never found.
bool PathExists(const char *path);
// True only when a folder is found at path. A single trailing '/' is ignored (not in "/" itself); a
// trailing '\' is not. Paths of 1024 bytes or more are not looked up: false.
bool DirectoryExists(const char *path);
