#pragma once
// What the platform's directory search says of one path, and the file replacement that keeps a good file
// intact when writing its successor fails.

#include <cstddef>
#include <cstdio>

// True when an entry exists at path; *isDirectory (may be null) tells whether it is a folder.
// The empty path is never found.
bool QueryPathEntry(const char *path, bool *isDirectory);

// Pushes what was written to f down to the disk. False when that failed.
bool FlushFileToDisk(std::FILE *f);

// Moves the file source over target (replacing it) in one step. False when it could not be done; target is
// then unchanged.
bool ReplaceFileWith(const char *source, const char *target);

// The file that path finally names once symbolic links are followed (also a link whose target does not
// exist yet), into resolved; the path itself when it is no link. False when it does not fit or the links
// loop. Windows: the path itself.
bool ResolveFileLinks(const char *path, char *resolved, size_t capacity);

// Cuts or extends the open file to length bytes (buffered output must be flushed first).
bool TruncateOpenFile(std::FILE *f, unsigned long long length);

// A number that tells this process apart from the others running now (for unique temporary names).
unsigned long CurrentProcessNumber();
