#pragma once
// Putting an unpacked release in place of the running program so that a runnable program stands at its
// path at every moment, and finishing or undoing a swap that a crash or a power cut cut short. Qt-free, so
// that the same code runs in the Windows build.

#include "platform/safefiles.h"
#include "update/packagenames.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct SwapPlan
{
    std::string appDir;           // the program's folder, ending in the separator (or empty)
    std::string exePath;          // the running program
    std::string backupPath;       // where a copy of it stays
    std::string stagingFolder;    // this update's own folder: staged files, parked files, the journal
    std::string stagedExecutable; // the new program, already checked
    // Staged file -> its place in the program's folder; the executable is not among them.
    std::vector<std::pair<std::string, std::string>> files;
    // Folders of the package in the program's folder, parents first.
    std::vector<std::string> folders;
    // Files that the package replaces are parked here until the swap is over, so a failure can put them
    // back; an earlier backup too.
    std::string displacedFolder;
    // The names of the above relative to appDir and stagingFolder, as the journal records them.
    std::string exeName, backupName, stagedExecutableName;
    std::vector<std::string> relativeFiles;
    std::vector<std::string> relativeFolders;
};

// The unpacked files of a checked package lie under stagingFolder/p, in the layout of the entries; the
// folder's d is empty. The executable is the top-level entry whose name is rules.executableName. False
// when the package holds no executable.
bool PlanSwap(const std::vector<CheckedEntry> &entries, const PackageNameRules &rules,
              const std::string &stagingFolder, const std::string &appDir, const std::string &exePath,
              SwapPlan &plan);

// The steps the swap takes on the file system, replaceable by tests. The defaults are the platform's.
struct SwapFileSystem
{
    // A rename that never replaces anything.
    std::function<bool(const std::string &source, const std::string &target)> move;
    // The one rename that puts the new program in place, replacing the old (POSIX only).
    std::function<bool(const std::string &source, const std::string &target)> replace;
    // A second name for the running program (a hard link, else a copy), its backup.
    std::function<bool(const std::string &source, const std::string &target)> keepCopy;
    std::function<EntryKind(const std::string &path)> entry;
    // A real folder of this user's: the only kind a package's files are put into.
    std::function<bool(const std::string &path)> ownFolder;
    std::function<bool(const std::string &path)> makeFolder;
    std::function<bool(const std::string &path)> removeEmptyFolder;
    std::function<bool(const std::string &path)> removeFile;
    std::function<bool(const std::string &path, FileAccess access)> setAccess;
    std::function<bool(const std::string &path)> isExecutable;
    std::function<bool(const std::string &path)> flushFolder;
    // A new file at path holding text, pushed to the disk with its folder.
    std::function<bool(const std::string &path, const std::string &text)> writeNew;
    // POSIX: the new program replaces the old by one rename, the backup being a second name of the old.
    // Windows: the running program can only be renamed away, to its backup name, just before.
    bool replacesRunningProgram = RunningProgramsCanBeReplaced();
};
SwapFileSystem PlatformFileSystem();

// Called between the steps: pause as the program has always paused there (tests: nothing), stepDone after
// every step that changed something (tests: to cut the swap off there).
struct SwapProgress
{
    std::function<void(unsigned milliseconds)> pause;
    std::function<void()> stepDone;
};

enum class SwapResult
{
    Done,           // the release is in place; the old program is at the backup path
    NothingChanged, // the earlier backup could not be parked, or the backup not made
    RolledBack,     // a step failed; everything is back as it was
    RollbackFailed, // a step failed and so did part of the way back: the journal stays for the next start
};

// The journal first (the plan, pushed to the disk), then: the earlier backup parked, the backup made, the
// package's folders made and its files put in place (a file replaced is parked, never deleted), everything
// pushed to the disk, and last the new program with the old one's execute permission, in one step. A
// failure undoes what was done; a crash leaves the journal for RecoverUnfinishedUpdates.
SwapResult RunSwap(const SwapPlan &plan, const SwapFileSystem &fs = PlatformFileSystem(),
                   const SwapProgress &progress = SwapProgress());

// Undoes a swap by looking at what is where (every step is one rename, so each is either done or not):
// placed files back to staging, parked ones back home, folders made removed, the old program and the
// earlier backup (when there was one before the swap) back. True when everything is back.
bool RollBackSwap(const SwapPlan &plan, bool earlierBackup, const SwapFileSystem &fs);

// The journal of a swap: the plan's names, so that the next start can finish it from wherever it stands.
// Stored at stagingFolder/journal. ParseSwapJournal refuses a journal cut short or naming a path outside
// its folders, and one from another program.
std::string SwapJournalText(const SwapPlan &plan, bool earlierBackup);
bool ParseSwapJournal(const std::string &text, const std::string &appDir, const std::string &stagingFolder,
                      SwapPlan &plan, bool &earlierBackup);

struct RecoveryCounts
{
    int completed = 0;  // the new program was in place: the rest cleared away
    int rolledBack = 0; // the old program was: everything put back
    int removed = 0;    // staging folders without a swap, left by an unpacking that was cut off
    int kept = 0;       // in use by a running update, or a way back that failed (tried again next time)
};

// At start, before an update can begin: every staging folder beside the program that no running update
// holds is dealt with. A swap its journal records is finished when the new program already stands in
// place, undone otherwise; then the folder goes (with the package, once an update is complete). Links
// and folders of other users at staging names are never entered or removed.
RecoveryCounts RecoverUnfinishedUpdates(const std::string &appDir,
                                        const SwapFileSystem &fs = PlatformFileSystem());
