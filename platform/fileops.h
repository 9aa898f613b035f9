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

enum class MoveResult
{
    Moved,
    TargetExists, // something is at the target: nothing was replaced, source is still there
    Failed        // source is still there (or, when the bytes were copied, only source is)
};
// Moves the file source to base/relative (relative: names joined by '/', none of them "..", ".", or
// empty), making the folders of relative that are missing. Below base no link is followed: a link, or
// anything but a folder, where a folder of relative should be fails it, and a link at the target itself is
// never written through. Without replace, nothing at the target is replaced (a link there, even one that
// leads nowhere, counts as something; a file that appears there meanwhile is never replaced; where the
// file system has neither RENAME_NOREPLACE nor hard links, the target is first claimed by a new empty
// file of its own, which source then replaces); with it, what is there is replaced in one step (a link is
// replaced, not followed). Across file systems the bytes go to a new file of a unique name beside the target
// first, which is then moved into place, and source is removed only then.
MoveResult MoveFileBelow(const char *source, const char *base, const char *relative, bool replace);

// What is at path itself; a link at path is not followed.
enum class EntryKind
{
    Missing,
    File,
    Folder,
    Link,
    Other
};
EntryKind QueryEntryNoFollow(const char *path);

// The bytes of the regular file at path, not through a link at path; false when it is missing, a link,
// not a regular file, longer than limit bytes, or cannot be read.
bool ReadRegularFile(const char *path, size_t limit, std::string &bytes);

// Opens the file at path for appending in binary mode, creating it (readable by its owner only) when it
// is missing; never through a link at path. nullptr when that cannot be done.
std::FILE *OpenFileForAppending(const char *path);
