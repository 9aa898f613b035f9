// The journal of a swap, and what the next start does with the staging folders an update left behind.

#include "platform/fileops.h"
#include "platform/selfpath.h"
#include "support/companionfiles.h"
#include "update/swap.h"

#include <cstdio>
#include <sstream>

namespace {

const char kJournalHeader[] = "Quillmark swap journal 1";
const char kJournalName[] = "journal";
// A journal names every file of a package: 10,000 entries of a few hundred bytes at most.
constexpr size_t kJournalLimit = 8u << 20;

std::string Sep()
{
    return std::string(1, NativeSeparator());
}

// Names are kept byte for byte; only what would break a line or a field is written as %XX.
std::string Escaped(const std::string &name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || c == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

bool Unescaped(const std::string &text, std::string &name)
{
    name.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            name += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        int value = 0;
        for (int k = 1; k <= 2; ++k) {
            const char h = text[i + k];
            value = value * 16 + (h >= '0' && h <= '9'   ? h - '0'
                                  : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                         : -1000);
        }
        if (value < 0) {
            return false;
        }
        name += static_cast<char>(value);
        i += 2;
    }
    return true;
}

// A name below a folder of ours: relative, no empty, "." or ".." part, no drive or stream colon.
bool IsInnerName(const std::string &name, bool plainFileName)
{
    if (name.empty() || name.find('\0') != std::string::npos || name.find(':') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("/\\", start);
        const std::string part =
            name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        if (plainFileName) {
            return false;
        }
        start = end + 1;
    }
}

bool ReadSmallFile(const std::string &path, std::string &text)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    text.clear();
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0 && text.size() <= kJournalLimit) {
        text.append(block, n);
    }
    const bool read = !std::ferror(f) && text.size() <= kJournalLimit;
    std::fclose(f);
    return read;
}

} // namespace

std::string SwapJournalText(const SwapPlan &plan, bool earlierBackup)
{
    std::string text = std::string(kJournalHeader) + "\n";
    text += "program " + Escaped(plan.exeName) + "\n";
    text += "backup " + Escaped(plan.backupName) + "\n";
    text += "new " + Escaped(plan.stagedExecutableName) + "\n";
    text += std::string("earlier ") + (earlierBackup ? "1" : "0") + "\n";
    for (const std::string &folder : plan.relativeFolders) {
        text += "folder " + Escaped(folder) + "\n";
    }
    for (const std::string &file : plan.relativeFiles) {
        text += "file " + Escaped(file) + "\n";
    }
    return text + "end\n";
}

bool ParseSwapJournal(const std::string &text, const std::string &appDir, const std::string &stagingFolder,
                      SwapPlan &plan, bool &earlierBackup)
{
    plan = SwapPlan();
    plan.appDir = appDir;
    plan.stagingFolder = stagingFolder;
    plan.displacedFolder = stagingFolder + Sep() + "d";
    const std::string base = appDir.empty() ? "." + Sep() : appDir;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kJournalHeader) {
        return false;
    }
    int earlier = -1;
    bool ended = false;
    while (!ended && std::getline(lines, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        std::string name;
        if (key == "end" && space == std::string::npos) {
            ended = true;
            continue;
        }
        if (space == std::string::npos || !Unescaped(line.substr(space + 1), name)) {
            return false;
        }
        if (key == "earlier" && (name == "0" || name == "1")) {
            earlier = name == "1" ? 1 : 0;
        } else if (key == "program" && IsInnerName(name, true)) {
            plan.exeName = name;
            plan.exePath = base + name;
        } else if (key == "backup" && IsInnerName(name, true)) {
            plan.backupName = name;
            plan.backupPath = base + name;
        } else if (key == "new" && IsInnerName(name, false) && name.size() > 2 && name[0] == 'p' &&
                   (name[1] == '/' || name[1] == '\\')) {
            plan.stagedExecutableName = name;
            plan.stagedExecutable = stagingFolder + Sep() + name;
        } else if (key == "folder" && IsInnerName(name, false)) {
            plan.relativeFolders.push_back(name);
            plan.folders.push_back(base + name);
        } else if (key == "file" && IsInnerName(name, false)) {
            plan.relativeFiles.push_back(name);
            plan.files.emplace_back(stagingFolder + Sep() + "p" + Sep() + name, base + name);
        } else {
            return false;
        }
    }
    earlierBackup = earlier == 1;
    // A journal cut short by a crash while it was written belongs to a swap that never began.
    return ended && earlier >= 0 && !plan.exeName.empty() && !plan.backupName.empty() &&
           !plan.stagedExecutableName.empty() && plan.exeName != plan.backupName;
}

RecoveryCounts RecoverUnfinishedUpdates(const std::string &appDir, const SwapFileSystem &fs)
{
    RecoveryCounts counts;
    const std::string base = appDir.empty() ? "." + Sep() : appDir;
    const std::string prefix = std::string(kStagingFolderPrefix) + ".";
    for (const std::string &name : FolderNames(base.c_str())) {
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string folder = base + name;
        if (fs.entry(folder) != EntryKind::Folder || !fs.ownFolder(folder)) {
            continue;
        }
        // An update of a program still running (a second copy of it) holds its folder.
        const intptr_t hold = HoldFolder(folder.c_str());
        if (hold == -1) {
            ++counts.kept;
            continue;
        }
        const std::string journal = folder + Sep() + kJournalName;
        std::string text;
        SwapPlan plan;
        bool earlierBackup = false;
        if (ReadSmallFile(journal, text) && ParseSwapJournal(text, appDir, folder, plan, earlierBackup)) {
            // The new program already in place means every file of it was placed before: the update is
            // over. Otherwise everything goes back.
            if (fs.entry(plan.stagedExecutable) == EntryKind::Missing) {
                ++counts.completed;
            } else if (RollBackSwap(plan, earlierBackup, fs)) {
                ++counts.rolledBack;
            } else {
                ReleaseFolder(hold);
                ++counts.kept;
                continue;
            }
            fs.removeFile(base + kPackageFileName);
        } else {
            ++counts.removed;
        }
        // The journal goes first: once it is gone, what is left is only the staging folder's litter.
        fs.removeFile(journal);
        fs.flushFolder(folder);
        ReleaseFolder(hold);
        RemoveFolderTree(folder.c_str());
    }
    return counts;
}
