#include "update/packagenames.h"

#include "support/textutil.h"

#include <algorithm>
#include <set>

namespace {

std::string Folded(std::string text, bool windowsNames)
{
    if (windowsNames) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    }
    return text;
}

std::string FileNameOf(const std::string &path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsDeviceName(const std::string &part)
{
    // "CON", "nul.txt", "COM1 .log": Windows opens the device whatever follows the base name.
    std::string base = Folded(part.substr(0, part.find('.')), true);
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const std::set<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    if (devices.count(base) != 0) {
        return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '0' && base[3] <= '9') {
        return true;
    }
    // COM¹, COM², COM³, LPT¹... in UTF-8 (superscript digits are devices too).
    return base.size() == 5 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           static_cast<unsigned char>(base[3]) == 0xc2 &&
           (static_cast<unsigned char>(base[4]) == 0xb9 || static_cast<unsigned char>(base[4]) == 0xb2 ||
            static_cast<unsigned char>(base[4]) == 0xb3);
}

bool WindowsPartAllowed(const std::string &part)
{
    if (part.back() == '.' || part.back() == ' ' || IsDeviceName(part)) {
        return false;
    }
    for (size_t i = 0; i < part.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(part[i]);
        if (c < 0x20 || std::string("<>\"|?*").find(static_cast<char>(c)) != std::string::npos) {
            return false;
        }
        // "QUILLM~1.KOV" may name an existing long name through its 8.3 alias.
        if (c == '~' && i + 1 < part.size() && part[i + 1] >= '0' && part[i + 1] <= '9') {
            return false;
        }
    }
    return true;
}

// Why the name is refused, or an empty text.
std::string Refusal(const std::string &name, const PackageNameRules &rules, CheckedEntry &entry)
{
    if (name.empty()) {
        return "empty name";
    }
    if (name.find('\0') != std::string::npos) {
        return "NUL byte in the name";
    }
    if (name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos) {
        return "absolute name, drive or stream";
    }
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("/\\", start);
        parts.push_back(name.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    entry.isDirectory = parts.back().empty() && parts.size() > 1;
    if (entry.isDirectory) {
        parts.pop_back();
    }
    const std::string executable = Folded(rules.executableName, rules.windowsNames);
    const std::string prefix = Folded(rules.reservedPrefix, rules.windowsNames);
    entry.path.clear();
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string &part = parts[i];
        if (part.empty() || part == "." || part == "..") {
            return "empty, \".\" or \"..\" part";
        }
        if (rules.windowsNames && !WindowsPartAllowed(part)) {
            return "not a plain Windows file name";
        }
        const std::string folded = Folded(part, rules.windowsNames);
        const bool isTheExecutable = parts.size() == 1 && !entry.isDirectory;
        if (folded == executable && !isTheExecutable) {
            return "the executable's name below the top level or as a folder";
        }
        if (i == 0) {
            for (const std::string &reserved : rules.reservedNames) {
                if (folded == Folded(reserved, rules.windowsNames)) {
                    return "a name the updater keeps for itself";
                }
            }
            if (!prefix.empty() && folded.compare(0, prefix.size(), prefix) == 0) {
                return "the staging folder's name";
            }
        }
        entry.path += (i == 0 ? "" : "/") + part;
    }
    return std::string();
}

} // namespace

std::string BackupPathFor(const std::string &exePath)
{
    std::vector<char> text(exePath.size() + 8, '\0');
    std::copy(exePath.begin(), exePath.end(), text.begin());
    if (ReplaceLast(text.data(), ".exe", "_old", text.size()) != 1) {
        // Without ".exe" the replacement would name the program itself.
        return exePath + "_old";
    }
    return text.data();
}

PackageNameRules RulesForProgram(const std::string &exePath, const std::string &executableName,
                                 bool windowsNames)
{
    PackageNameRules rules;
    rules.executableName = executableName;
    rules.windowsNames = windowsNames;
    rules.reservedPrefix = kStagingFolderPrefix;
    const std::string running = FileNameOf(exePath);
    rules.reservedNames = {kSettingsFileName, kPackageFileName, std::string(kPackageFileName) + ".part",
                           FileNameOf(BackupPathFor(executableName)), FileNameOf(BackupPathFor(exePath))};
    if (Folded(running, windowsNames) != Folded(executableName, windowsNames)) {
        // A renamed program: the new executable goes to its name, so no other entry may.
        rules.reservedNames.push_back(running);
    }
    return rules;
}

bool CheckPackageNames(const std::vector<std::string> &names, const PackageNameRules &rules,
                       std::vector<CheckedEntry> &checked, std::string *why)
{
    checked.clear();
    std::set<std::string> seen;
    for (const std::string &name : names) {
        CheckedEntry entry;
        std::string refusal = Refusal(name, rules, entry);
        if (refusal.empty() && !seen.insert(Folded(entry.path, rules.windowsNames)).second) {
            refusal = "a second entry for the same path";
        }
        if (!refusal.empty()) {
            if (why != nullptr) {
                *why = std::string(name.c_str()) + ": " + refusal;
            }
            checked.clear();
            return false;
        }
        checked.push_back(entry);
    }
    return true;
}
