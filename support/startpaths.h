#pragma once
// Process-wide paths, written once by start-up before any thread exists and read-only afterwards.

#include <cstddef>

constexpr size_t kStartArgumentSize = 32;
constexpr size_t kStartPathSize = 1024;

extern char StartArgument[kStartArgumentSize];
extern char ExePath[kStartPathSize];
extern char AppDir[kStartPathSize];
extern char SettingsFilePath[kStartPathSize];
extern char UpdatePackagePath[kStartPathSize];

// firstArgument may be null. separator is the directory separator of the platform ('\\' or '/').
// Returns 0, or -1 when the path does not fit (the paths are then left empty, the argument too long for
// StartArgument is held as empty, since only its exact match with "-autorun" matters).
int InitStartPaths(const char *firstArgument, const char *exePath, char separator);

// Start-up's first step, from the process's own command line: the first argument, the program's own path
// (argv[0], or the running file where the platform knows it better) and the paths beside it. As above.
int InitStartPathsFromCommandLine(int argc, char *argv[]);
