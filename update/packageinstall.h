#pragma once
// Puts a downloaded release package in place of the running program, or leaves everything as it was.

#include <QString>
#include <functional>
#include <string>

enum class InstallResult
{
    Installed,  // new executable at exePath, the old one at its backup path, package deleted
    Rejected,   // package unsafe, incomplete or not the release: package and staging deleted
    SwapFailed, // the old executable is back at exePath; the package stays
};

struct InstallRequest
{
    std::string packagePath;
    std::string appDir; // ends in the separator, or empty
    std::string exePath;
    std::string releaseDigest; // lowercase hex MD5 the new executable must have
    std::function<void(unsigned milliseconds)> sleep;
};

// The folder inside appDir that a package is unpacked into before anything of the program is touched.
QString StagingFolder(const std::string &appDir);
// False when the package cannot be read or one of its entries could write outside the target folder
// (absolute name, "..", a drive or stream colon) or is a symbolic link.
bool PackageEntriesSafe(const QString &packagePath);
InstallResult InstallPackage(const InstallRequest &request);
