#pragma once
// What the platform's directory search says of one path.

// True when an entry exists at path; *isDirectory (may be null) tells whether it is a folder.
// The empty path is never found.
bool QueryPathEntry(const char *path, bool *isDirectory);
