#pragma once
// Processes by executable file name (no directory; compared byte for byte, case-sensitively).
// Linux: the name is the base name of the running file; a process whose file was replaced or deleted
// while it runs (an update) keeps the name it was started under. Processes that have exited but are not
// yet reaped are not counted.

// Number of running processes with that executable name; 0 when name is null or the list cannot be read.
int CountProcessesByName(const char *exeName);
// How long an instance asked to end gets to quit by itself before it is killed. Longer than the program's
// own bounded clean-up at its end, so that an instance is never killed while it lets go of its workers.
constexpr unsigned kTerminateGraceMs = 10000;

// Ends the first (oldest) such process other than the caller and returns 1; 0 when none matches, name is
// null, or no matching process may be ended by the caller.
// Linux: a process that cannot be signalled (another user's) is passed over at once for the next one;
// SIGTERM, then SIGKILL when it has not exited after graceMs. Windows: TerminateProcess.
int TerminateProcessByName(const char *exeName, unsigned graceMs = kTerminateGraceMs);
