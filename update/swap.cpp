#include "update/swap.h"

#include "platform/fileinfo.h"
#include "platform/fileops.h"
#include "platform/selfpath.h"

#include <algorithm>
#include <set>

namespace {

std::string Native(const std::string &relative)
{
    std::string path = relative;
    std::replace(path.begin(), path.end(), '/', NativeSeparator());
    return path;
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

} // namespace

bool PlanSwap(const std::vector<CheckedEntry> &entries, const PackageNameRules &rules,
              const std::string &stagedRoot, const std::string &displacedFolder, const std::string &appDir,
              const std::string &exePath, SwapPlan &plan)
{
    plan = SwapPlan();
    plan.exePath = exePath;
    plan.backupPath = BackupPathFor(exePath);
    plan.displacedFolder = displacedFolder;
    const std::string sep(1, NativeSeparator());
    const std::string base = appDir.empty() ? "." + sep : appDir;
    std::set<std::string> folders;
    for (const CheckedEntry &entry : entries) {
        const bool topLevel = entry.path.find('/') == std::string::npos;
        if (!entry.isDirectory && topLevel &&
            SameName(entry.path, rules.executableName, rules.windowsNames)) {
            plan.stagedExecutable = stagedRoot + sep + entry.path;
            continue;
        }
        // Every folder on the way, parents first.
        const std::string folderPath = entry.isDirectory ? entry.path + "/" : entry.path;
        for (size_t cut = folderPath.find('/'); cut != std::string::npos;
             cut = folderPath.find('/', cut + 1)) {
            const std::string folder = base + Native(folderPath.substr(0, cut));
            if (folders.insert(folder).second) {
                plan.folders.push_back(folder);
            }
        }
        if (!entry.isDirectory) {
            plan.files.emplace_back(stagedRoot + sep + Native(entry.path), base + Native(entry.path));
        }
    }
    return !plan.stagedExecutable.empty();
}

SwapFileSystem PlatformFileSystem()
{
    SwapFileSystem fs;
    fs.move = [](const std::string &s, const std::string &t) { return MovePath(s.c_str(), t.c_str()); };
    fs.exists = [](const std::string &p, bool *isFolder) { return QueryPathEntry(p.c_str(), isFolder); };
    fs.makeFolder = [](const std::string &p) { return MakeFolder(p.c_str()); };
    fs.removeEmptyFolder = [](const std::string &p) { return RemoveEmptyFolder(p.c_str()); };
    fs.copyPermissions = [](const std::string &s, const std::string &t) {
        return CopyPermissionBits(s.c_str(), t.c_str());
    };
    return fs;
}

SwapResult RunSwap(const SwapPlan &plan, const SwapFileSystem &fs,
                   const std::function<void(unsigned milliseconds)> &pause)
{
    auto wait = [&pause](unsigned ms) {
        if (pause) {
            pause(ms);
        }
    };
    auto exists = [&fs](const std::string &path, bool *isFolder = nullptr) {
        return fs.exists(path, isFolder);
    };

    // The backup of an earlier update goes only now: parked rather than deleted, so that a failure can put it
    // back, and so that a backup still running (Windows cannot delete that) does not block the update.
    const std::string parkedBackup = plan.displacedFolder + NativeSeparator() + "backup";
    const bool backupParked = exists(plan.backupPath);
    if (backupParked && !fs.move(plan.backupPath, parkedBackup)) {
        return SwapResult::NothingChanged;
    }
    wait(20);
    if (!fs.move(plan.exePath, plan.backupPath)) {
        if (backupParked && !fs.move(parkedBackup, plan.backupPath)) {
            return SwapResult::RollbackFailed;
        }
        return SwapResult::NothingChanged;
    }
    wait(20);

    struct Placed
    {
        std::string staged;
        std::string target;
        std::string parked; // the file it replaced, or empty
    };
    std::vector<std::string> madeFolders;
    std::vector<Placed> placed;
    bool executablePlaced = false;
    bool unparked = true; // false when a file parked for the step that failed could not go back
    bool ok = true;

    for (const std::string &folder : plan.folders) {
        bool isFolder = false;
        if (exists(folder, &isFolder)) {
            ok = isFolder;
        } else if (fs.makeFolder(folder)) {
            madeFolders.push_back(folder);
        } else {
            ok = false;
        }
        if (!ok) {
            break;
        }
    }
    for (size_t i = 0; ok && i < plan.files.size(); ++i) {
        Placed step{plan.files[i].first, plan.files[i].second, std::string()};
        bool isFolder = false;
        if (exists(step.target, &isFolder)) {
            if (isFolder) {
                ok = false;
                break;
            }
            const std::string parked = plan.displacedFolder + NativeSeparator() + std::to_string(i);
            if (!fs.move(step.target, parked)) {
                ok = false;
                break;
            }
            step.parked = parked;
        }
        if (!fs.move(step.staged, step.target)) {
            unparked = step.parked.empty() || fs.move(step.parked, step.target);
            ok = false;
            break;
        }
        placed.push_back(step);
    }
    if (ok) {
        wait(20);
        executablePlaced = fs.move(plan.stagedExecutable, plan.exePath);
        // A package made without Unix modes would otherwise leave a program that cannot be started.
        ok = executablePlaced && fs.copyPermissions(plan.backupPath, plan.exePath) && exists(plan.exePath);
    }
    if (ok) {
        return SwapResult::Done;
    }

    // Back the way we came: the new program out, the package's files out and the replaced ones back, the
    // folders made removed, and the old program home.
    bool whole = unparked;
    if (executablePlaced) {
        whole = fs.move(plan.exePath, plan.stagedExecutable) && whole;
    }
    for (auto step = placed.rbegin(); step != placed.rend(); ++step) {
        whole = fs.move(step->target, step->staged) && whole;
        if (!step->parked.empty()) {
            whole = fs.move(step->parked, step->target) && whole;
        }
    }
    for (auto folder = madeFolders.rbegin(); folder != madeFolders.rend(); ++folder) {
        whole = fs.removeEmptyFolder(*folder) && whole;
    }
    const bool programHome = fs.move(plan.backupPath, plan.exePath);
    // While the old program still sits at the backup path, the earlier backup must not go there.
    if (backupParked) {
        whole = programHome && fs.move(parkedBackup, plan.backupPath) && whole;
    }
    whole = programHome && whole;
    return whole ? SwapResult::RolledBack : SwapResult::RollbackFailed;
}
