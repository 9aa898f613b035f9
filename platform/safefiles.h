#pragma once
// File steps that neither a power cut nor another local user can turn against the program: new files made
// exclusively (never through anything that was there), contents and names pushed to the disk, modes set
// rather than left to the umask, and checks that what the program holds is its own. Local 8-bit paths.

#include "platform/fileops.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Who may do what with a new file. POSIX: the mode exactly, whatever the umask (where the file system keeps
// modes; elsewhere, never more than asked). Windows: OwnerOnly is an
// access list for the owner alone; the others take the folder's inherited access list, as the installer
// left it.
enum class FileAccess
{
    OwnerOnly,  // 0600
    Readable,   // 0644
    Executable, // 0755
    AsUsual,    // what any new file gets: 0666 less the umask
};

// Makes a new file at path that nothing else has open, opened for reading and writing:
// O_CREAT|O_EXCL|O_NOFOLLOW; on Windows CREATE_NEW, and while it is open no one else may write, rename or
// delete it. With removeFirst, what is at path goes first (a file or a link, never what a link points
// at); without, anything there refuses. nullptr when none could be made (something there, a folder, or
// another user's file in a sticky folder): what was there is never written through.
std::FILE *CreateExclusiveFile(const char *path, FileAccess access, bool removeFirst = true);

// Sets the mode of an existing file or folder (a link is never followed). Windows: nothing to do.
bool SetFileAccess(const char *path, FileAccess access);
// Whether the file's owner may run it (a link is followed). Windows: always.
bool IsExecutableFile(const char *path);

// True only when the open file is a plain file with this one name, owned by this user, that no other
// user may write (POSIX: nor read, when expectOwnerOnly). What was downloaded into it is then what is
// checked.
bool OpenFileIsPrivate(std::FILE *f, bool expectOwnerOnly);
// True when others than the owner may read the file at path (POSIX mode bits; Windows: not judged).
bool FileReadableByOthers(const char *path);

// Pushes a folder's entries (new, renamed or removed names) to the disk. Windows: renames are written
// through as they happen, nothing to do.
bool FlushFolder(const char *path);
// Renames source to target in one step, replacing a file at target (POSIX; on Windows only where the file
// there may be deleted), written through to the disk on Windows.
bool RenameReplacing(const char *source, const char *target);
// Renames source to target; fails when anything is at target.
bool RenameNew(const char *source, const char *target);
// A second name target for the file source (a hard link). False where the file system has none.
bool LinkFile(const char *source, const char *target);
// Removes a file or a link (never what it points at); read-only files too on Windows.
bool RemoveFile(const char *path);

// A real folder (not a link, not a junction) that this user owns (Windows: not judged by owner).
bool IsOwnFolder(const char *path);
// Makes a folder with mode 0755, whatever the umask (Windows: the inherited access list).
bool MakeSharedFolder(const char *path);
// The names in a folder, without "." and "..". Empty when it cannot be read.
std::vector<std::string> FolderNames(const char *path);

// Whether a file that a running program was started from may be replaced by a rename over it (POSIX),
// or only renamed away first (Windows).
bool RunningProgramsCanBeReplaced();

// Marks a folder as in use by this process, so that HoldFolder fails for anyone else until it is
// released or the process ends (a crash included): POSIX flock, Windows a handle that shares no delete
// access. -1 when another holds it or it is no real folder.
intptr_t HoldFolder(const char *path);
void ReleaseFolder(intptr_t hold);
