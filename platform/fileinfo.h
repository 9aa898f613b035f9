#pragma once
// What the platform's directory search says of one path, and the file replacement that keeps a good file
// intact when writing its successor fails.

#include <cstdio>

// True when an entry exists at path; *isDirectory (may be null) tells whether it is a folder.
// The empty path is never found.
bool QueryPathEntry(const char *path, bool *isDirectory);

// Pushes what was written to f down to the disk. False when that failed.
bool FlushFileToDisk(std::FILE *f);

// Moves the file source over target (replacing it) in one step. False when it could not be done; target is
// then unchanged.
bool ReplaceFileWith(const char *source, const char *target);

// A number that tells this process apart from the others running now (for unique temporary names).
unsigned long CurrentProcessNumber();
