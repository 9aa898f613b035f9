#include "update/swap.h"

#include "platform/fileinfo.h"
#include "platform/fileops.h"
#include "platform/selfpath.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

std::string Native(const std::string &relative)
{
    std::string path = relative;
    std::replace(path.begin(), path.end(), '/', NativeSeparator());
    return path;
}

std::string Sep()
{
    return std::string(1, NativeSeparator());
}

bool SameName(const std::string &a, const std::string &b, bool windowsNames)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (windowsNames) {
            x = (x >= 'a' && x <= 'z') ? static_cast<char>(x - 32) : x;
            y = (y >= 'a' && y <= 'z') ? static_cast<char>(y - 32) : y;
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// path without the folder it lies in, when it lies in it.
std::string Below(const std::string &folder, const std::string &path)
{
    return !folder.empty() && path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
}

// The copy of the running program that stays as its backup, where no hard link can be made: a new file,
// pushed to the disk.
bool CopyFileNew(const std::string &source, const std::string &target)
{
    std::FILE *in = std::fopen(source.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    std::FILE *out = CreateExclusiveFile(
        target.c_str(), IsExecutableFile(source.c_str()) ? FileAccess::Executable : FileAccess::Readable,
        false);
    bool copied = out != nullptr;
    char block[65536];
    for (size_t n; copied && (n = std::fread(block, 1, sizeof block, in)) > 0;) {
        copied = std::fwrite(block, 1, n, out) == n;
    }
    copied = copied && !std::ferror(in) && FlushFileToDisk(out);
    std::fclose(in);
    if (out != nullptr && std::fclose(out) != 0) {
        copied = false;
    }
    if (!copied && out != nullptr) {
        RemoveFile(target.c_str());
    }
    return copied;
}

} // namespace

bool PlanSwap(const std::vector<CheckedEntry> &entries, const PackageNameRules &rules,
              const std::string &stagingFolder, const std::string &appDir, const std::string &exePath,
              SwapPlan &plan)
{
    plan = SwapPlan();
    plan.appDir = appDir;
    plan.exePath = exePath;
    plan.backupPath = BackupPathFor(exePath);
    plan.stagingFolder = stagingFolder;
    plan.displacedFolder = stagingFolder + Sep() + "d";
    plan.exeName = Below(appDir, exePath);
    plan.backupName = Below(appDir, plan.backupPath);
    const std::string stagedRoot = stagingFolder + Sep() + "p";
    const std::string base = appDir.empty() ? "." + Sep() : appDir;
    std::set<std::string> folders;
    for (const CheckedEntry &entry : entries) {
        const bool topLevel = entry.path.find('/') == std::string::npos;
        if (!entry.isDirectory && topLevel &&
            SameName(entry.path, rules.executableName, rules.windowsNames)) {
            plan.stagedExecutableName = "p" + Sep() + entry.path;
            plan.stagedExecutable = stagedRoot + Sep() + entry.path;
            continue;
        }
        // Every folder on the way, parents first.
        const std::string folderPath = entry.isDirectory ? entry.path + "/" : entry.path;
        for (size_t cut = folderPath.find('/'); cut != std::string::npos;
             cut = folderPath.find('/', cut + 1)) {
            const std::string folder = Native(folderPath.substr(0, cut));
            if (folders.insert(folder).second) {
                plan.relativeFolders.push_back(folder);
                plan.folders.push_back(base + folder);
            }
        }
        if (!entry.isDirectory) {
            plan.relativeFiles.push_back(Native(entry.path));
            plan.files.emplace_back(stagedRoot + Sep() + Native(entry.path), base + Native(entry.path));
        }
    }
    return !plan.stagedExecutable.empty();
}

SwapFileSystem PlatformFileSystem()
{
    SwapFileSystem fs;
    fs.move = [](const std::string &s, const std::string &t) { return RenameNew(s.c_str(), t.c_str()); };
    fs.replace = [](const std::string &s, const std::string &t) {
        return RenameReplacing(s.c_str(), t.c_str());
    };
    fs.keepCopy = [](const std::string &s, const std::string &t) {
        return LinkFile(s.c_str(), t.c_str()) || CopyFileNew(s, t);
    };
    fs.entry = [](const std::string &p) { return QueryEntryNoFollow(p.c_str()); };
    fs.ownFolder = [](const std::string &p) { return IsOwnFolder(p.c_str()); };
    fs.makeFolder = [](const std::string &p) { return MakeSharedFolder(p.c_str()); };
    fs.removeEmptyFolder = [](const std::string &p) { return RemoveEmptyFolder(p.c_str()); };
    fs.removeFile = [](const std::string &p) { return RemoveFile(p.c_str()); };
    fs.setAccess = [](const std::string &p, FileAccess a) { return SetFileAccess(p.c_str(), a); };
    fs.isExecutable = [](const std::string &p) { return IsExecutableFile(p.c_str()); };
    fs.flushFolder = [](const std::string &p) { return FlushFolder(p.c_str()); };
    fs.writeNew = [](const std::string &p, const std::string &text) {
        std::FILE *f = CreateExclusiveFile(p.c_str(), FileAccess::OwnerOnly);
        if (f == nullptr) {
            return false;
        }
        bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && FlushFileToDisk(f);
        written = std::fclose(f) == 0 && written;
        const size_t cut = p.find_last_of(NativeSeparator());
        return written && (cut == std::string::npos || FlushFolder(p.substr(0, cut).c_str()));
    };
    return fs;
}

SwapResult RunSwap(const SwapPlan &plan, const SwapFileSystem &fs, const SwapProgress &progress)
{
    const auto pause = [&progress](unsigned ms) {
        if (progress.pause) {
            progress.pause(ms);
        }
    };
    const auto stepDone = [&progress] {
        if (progress.stepDone) {
            progress.stepDone();
        }
    };
    const std::string journal = plan.stagingFolder + Sep() + "journal";
    const std::string parkedBackup = plan.displacedFolder + Sep() + "backup";
    const bool earlierBackup = fs.entry(plan.backupPath) != EntryKind::Missing;
    // The way back removes only the folders that the swap makes.
    SwapPlan undoPlan = plan;
    undoPlan.folders.clear();
    undoPlan.relativeFolders.clear();
    for (size_t i = 0; i < plan.folders.size(); ++i) {
        if (fs.entry(plan.folders[i]) == EntryKind::Missing) {
            undoPlan.folders.push_back(plan.folders[i]);
            undoPlan.relativeFolders.push_back(plan.relativeFolders[i]);
        }
    }
    // Where the swap stands is read from the file system, by a plan that is on the disk before the first
    // step: whatever cuts it off, the next start can finish it or undo it.
    if (!fs.writeNew(journal, SwapJournalText(undoPlan, earlierBackup))) {
        return SwapResult::NothingChanged;
    }
    stepDone();
    const auto undo = [&](bool changed) {
        if (!RollBackSwap(undoPlan, earlierBackup, fs)) {
            return SwapResult::RollbackFailed;
        }
        fs.removeFile(journal);
        return changed ? SwapResult::RolledBack : SwapResult::NothingChanged;
    };

    // The backup of an earlier update goes only now: parked rather than deleted, so that a failure can put
    // it back, and so that a backup still running (Windows cannot delete that) does not block the update.
    if (earlierBackup) {
        if (!fs.move(plan.backupPath, parkedBackup)) {
            return undo(false);
        }
        stepDone();
    }
    pause(20);
    // The backup is a second name of the running program: the program's own name never goes away.
    if (fs.replacesRunningProgram) {
        if (!fs.keepCopy(plan.exePath, plan.backupPath)) {
            return undo(earlierBackup);
        }
        stepDone();
    }
    pause(20);

    // Files go only into real folders of this user's: a link in the program's folder is never followed.
    for (const std::string &folder : plan.folders) {
        const EntryKind kind = fs.entry(folder);
        if (kind == EntryKind::Missing) {
            if (!fs.makeFolder(folder)) {
                return undo(true);
            }
            stepDone();
        } else if (kind != EntryKind::Folder || !fs.ownFolder(folder)) {
            return undo(true);
        }
    }
    for (size_t i = 0; i < plan.files.size(); ++i) {
        const std::string &staged = plan.files[i].first;
        const std::string &target = plan.files[i].second;
        const EntryKind kind = fs.entry(target);
        if (kind == EntryKind::Folder) {
            return undo(true);
        }
        if (kind != EntryKind::Missing) {
            if (!fs.move(target, plan.displacedFolder + Sep() + std::to_string(i))) {
                return undo(true);
            }
            stepDone();
        }
        if (!fs.move(staged, target)) {
            return undo(true);
        }
        stepDone();
    }

    // Everything placed is on the disk before the program changes: after a power cut the new program is
    // never found beside old files, or the old beside new ones.
    std::set<std::string> touched = {plan.appDir.empty() ? "." : plan.appDir, plan.displacedFolder};
    for (const std::string &folder : plan.folders) {
        touched.insert(folder);
    }
    for (const std::string &folder : touched) {
        fs.flushFolder(folder);
    }
    pause(20);
    // A package made without Unix modes would otherwise leave a program that cannot be started.
    const FileAccess access = fs.isExecutable(plan.exePath) ? FileAccess::Executable : FileAccess::Readable;
    if (!fs.setAccess(plan.stagedExecutable, access)) {
        return undo(true);
    }
    if (fs.replacesRunningProgram) {
        if (!fs.replace(plan.stagedExecutable, plan.exePath)) {
            return undo(true);
        }
    } else {
        // Windows: the running program's file can be renamed, not replaced. Between these two renames the
        // program's name is free for a moment; the journal lets the next start put the old one back.
        if (!fs.move(plan.exePath, plan.backupPath)) {
            return undo(true);
        }
        stepDone();
        if (!fs.move(plan.stagedExecutable, plan.exePath)) {
            return undo(true);
        }
    }
    fs.flushFolder(plan.appDir.empty() ? "." : plan.appDir);
    stepDone();
    fs.removeFile(journal);
    return SwapResult::Done;
}

bool RollBackSwap(const SwapPlan &plan, bool earlierBackup, const SwapFileSystem &fs)
{
    bool whole = true;
    // The old program home first (Windows: it may stand at its backup name).
    if (fs.entry(plan.exePath) == EntryKind::Missing && fs.entry(plan.stagedExecutable) == EntryKind::File &&
        fs.entry(plan.backupPath) == EntryKind::File) {
        whole = fs.move(plan.backupPath, plan.exePath);
    }
    for (size_t i = plan.files.size(); i-- > 0;) {
        const std::string &staged = plan.files[i].first;
        const std::string &target = plan.files[i].second;
        const std::string parked = plan.displacedFolder + Sep() + std::to_string(i);
        if (fs.entry(staged) == EntryKind::Missing && fs.entry(target) == EntryKind::File) {
            whole = fs.move(target, staged) && whole;
        }
        if (fs.entry(parked) != EntryKind::Missing) {
            whole = fs.entry(target) == EntryKind::Missing && fs.move(parked, target) && whole;
        }
    }
    // Only folders the swap made are removed, and only when empty: a folder the journal names that
    // was there before, or holds files of someone else's, stays.
    for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder) {
        if (fs.entry(*folder) == EntryKind::Folder && fs.ownFolder(*folder)) {
            fs.removeEmptyFolder(*folder);
        }
    }
    // The backup made by the swap goes; the earlier one, parked, comes back. Nothing of the kind is
    // touched unless the program stands at its path.
    const std::string parkedBackup = plan.displacedFolder + Sep() + "backup";
    const bool programHome = fs.entry(plan.exePath) == EntryKind::File;
    const bool parked = fs.entry(parkedBackup) != EntryKind::Missing;
    if (programHome && fs.entry(plan.backupPath) != EntryKind::Missing && (parked || !earlierBackup)) {
        whole = fs.removeFile(plan.backupPath) && whole;
    }
    if (parked) {
        whole = programHome && fs.entry(plan.backupPath) == EntryKind::Missing &&
                fs.move(parkedBackup, plan.backupPath) && whole;
    }
    return whole && programHome;
}
