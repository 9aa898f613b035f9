#pragma once
// Existence tests over local 8-bit paths.

bool PathExists(const char *path);
// A single trailing '/' is ignored; a trailing '\' is not.
bool DirectoryExists(const char *path);
