#pragma once
// Which names a release package may hold, judged before anything of it is written. Qt-free.

#include "platform/namerules.h"
#include "support/companionfiles.h"

#include <string>
#include <vector>

// The staging folders of an update are made beside the program under names that begin with this.
constexpr const char kStagingFolderPrefix[] = "Quillmark_update";

// The last ".exe" replaced by "_old"; without ".exe", "_old" appended.
std::string BackupPathFor(const std::string &exePath);

struct PackageNameRules
{
    // The new executable's name: the one entry that may carry it, and only at the top level.
    std::string executableName;
    // Top-level names no entry may take or pass through: the settings file, the package, the backups and
    // the running program's own name.
    std::vector<std::string> reservedNames;
    // No top-level name may begin with this (the staging folders).
    std::string reservedPrefix;
    // Windows file-name rules: names compared without regard to case; trailing dots and spaces, device
    // names, short-name aliases and the characters Windows refuses are not allowed.
    bool windowsNames = PlatformUsesWindowsFileNames();
};

// The rules for a program at exePath (its folder is where the package lands).
PackageNameRules RulesForProgram(const std::string &exePath, const std::string &executableName,
                                 bool windowsNames = PlatformUsesWindowsFileNames());

struct CheckedEntry
{
    std::string path; // relative, its parts joined by '/'
    bool isDirectory = false;
};

// Checks every entry name of a package (bytes as stored; '/' or '\' between parts; a trailing separator
// marks a folder). True when all are allowed and no two land on the same path; checked then holds the
// normalised names in order. On refusal, why names the first entry refused.
bool CheckPackageNames(const std::vector<std::string> &names, const PackageNameRules &rules,
                       std::vector<CheckedEntry> &checked, std::string *why = nullptr);
