#pragma once
// Processes by executable file name (no directory; compared byte for byte, case-sensitively).

// Number of running processes with that executable name; 0 when name is null or the list cannot be read.
int CountProcessesByName(const char *exeName);
// Ends the first (oldest) such process and returns 1; 0 when none matches.
int TerminateProcessByName(const char *exeName);
