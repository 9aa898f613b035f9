#pragma once
// Putting an unpacked release in place of the running program, and taking it back when a step fails.
// Qt-free, so that the same code runs in the Windows build.

#include "update/packagenames.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct SwapPlan
{
    std::string exePath;          // the running program
    std::string backupPath;       // where it goes
    std::string stagedExecutable; // the new program, already checked
    // Staged file -> its place in the program's folder; the executable is not among them.
    std::vector<std::pair<std::string, std::string>> files;
    // Folders of the package in the program's folder, parents first.
    std::vector<std::string> folders;
    // Files that the package replaces are parked here until the swap is over, so a failure can put them
    // back. An empty folder of the updater's own.
    std::string displacedFolder;
};

// The plan for the entries of a checked package unpacked into stagedRoot (paths end in no separator;
// appDir ends in one, or is empty for the current folder). The executable is the top-level entry whose
// name is rules.executableName. False when the package holds no executable.
bool PlanSwap(const std::vector<CheckedEntry> &entries, const PackageNameRules &rules,
              const std::string &stagedRoot, const std::string &displacedFolder, const std::string &appDir,
              const std::string &exePath, SwapPlan &plan);

// The steps the swap takes on the file system, replaceable by tests. The defaults are the platform's.
struct SwapFileSystem
{
    std::function<bool(const std::string &source, const std::string &target)> move;
    std::function<bool(const std::string &path, bool *isFolder)> exists;
    std::function<bool(const std::string &path)> makeFolder;
    std::function<bool(const std::string &path)> removeEmptyFolder;
    std::function<bool(const std::string &source, const std::string &target)> copyPermissions;
};
SwapFileSystem PlatformFileSystem();

enum class SwapResult
{
    Done,           // the release is in place; the old program is at the backup path
    NothingChanged, // the running program (or an earlier backup) could not be moved aside
    RolledBack,     // a step failed; everything is back as it was
    RollbackFailed, // a step failed and so did part of the way back: the program is not known to be whole
};

// Earlier backup parked, program moved to the backup path, the package's folders and files put in place
// (a file replaced is parked, never deleted), the new program moved in last and given the old one's
// permission bits. pause is called between the steps, as the program has always paused there.
SwapResult RunSwap(const SwapPlan &plan, const SwapFileSystem &fs = PlatformFileSystem(),
                   const std::function<void(unsigned milliseconds)> &pause = nullptr);
