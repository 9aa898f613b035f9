#pragma once
// Puts a downloaded release package in place of the running program, or leaves everything as it was.

#include <QString>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

enum class InstallResult
{
    Installed,  // new executable at exePath, the old one at its backup path, package deleted
    Rejected,   // package unsafe, too large, incomplete or not the release: package and staging deleted
    SwapFailed, // the old executable is back at exePath
    Stopped,    // the program is ending: what was unpacked and the package are deleted, nothing changed
};

// What unpacking a package may cost at most, checked from the zip's directory before anything is written
// and again while writing.
struct UnpackLimits
{
    uint64_t totalBytes = uint64_t(1) << 30;
    int entries = 10000;
};

struct InstallRequest
{
    std::string packagePath;
    std::string appDir; // ends in the separator, or empty
    std::string exePath;
    std::string releaseDigest; // lowercase hex MD5 the new executable must have
    std::function<void(unsigned milliseconds)> sleep;
    UnpackLimits limits = UnpackLimits();
    // When set, receives the number of bytes that unpacking wrote.
    uint64_t *unpackedBytes = nullptr;
    // Tests only: called once the package was checked, before a byte of it is unpacked.
    std::function<void()> checked = nullptr;
    // The package as it was downloaded, still open (it is closed here); unset: packagePath is opened.
    std::FILE *package = nullptr;
    // Asked between the entries unpacked (and within large ones): the program is ending. The swap itself,
    // once begun, is never stopped.
    std::function<bool()> stopRequested = nullptr;
    // Told true just before the swap begins and false once it is over.
    std::function<void(bool)> swapping = nullptr;
    // Tests only: called after every entry written and every step of the swap.
    std::function<void()> stepDone = nullptr;
};

// The staging folders are made fresh inside appDir under names that begin with this.
QString StagingFolderPrefix(const std::string &appDir);
InstallResult InstallPackage(const InstallRequest &request);
