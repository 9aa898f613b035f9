#pragma once
// The few file-system steps of the updater's swap, on local 8-bit paths. Each reports success as true.

#include <cstdio>
#include <string>

// Moves source to target; never replaces an existing target (on POSIX the caller makes sure there is none).
bool MovePath(const char *source, const char *target);
bool MakeFolder(const char *path);
// Removes a folder only when it is empty.
bool RemoveEmptyFolder(const char *path);
// Gives target the permission bits of source (nothing to do on Windows).
bool CopyPermissionBits(const char *source, const char *target);
// True only for a folder that is not a symbolic link or other redirection.
bool IsPlainFolder(const char *path);
// Creates a folder that did not exist before, named prefix followed by a unique suffix, and hands back its
// path in created. False when none could be made.
bool MakeFreshFolder(const std::string &prefix, std::string &created);
// A file that did not exist before, opened for writing in binary mode; nothing already at path (a link
// included) is ever opened. With ownerOnly it is readable by its owner alone from the moment it exists
// (POSIX mode 0600, whatever the umask). nullptr when none could be made.
std::FILE *CreateNewFile(const char *path, bool ownerOnly = false);
// Removes a folder with everything in it; links inside are removed, never followed. False when anything
// stays.
bool RemoveFolderTree(const char *path);
