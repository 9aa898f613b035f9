#pragma once
// Processes by executable file name (no directory; compared byte for byte, case-sensitively).
// Linux: the name is the base name of the running file; a process whose file was replaced or deleted
// while it runs (an update) keeps the name it was started under. Processes that have exited but are not
// yet reaped are not counted.

// Number of running processes with that executable name; 0 when name is null or the list cannot be read.
int CountProcessesByName(const char *exeName);
// Ends the first (oldest) such process and returns 1; 0 when none matches or name is null.
// Linux: SIGTERM, then SIGKILL when it has not exited after about 3 seconds. Windows: TerminateProcess.
int TerminateProcessByName(const char *exeName);
