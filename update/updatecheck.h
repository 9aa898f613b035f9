#pragma once
// One update check, with everything it touches reachable through UpdateEnvironment so that tests can point
// it at loopback servers and a folder of their own.

#include "update/filedigest.h"
#include "update/packagenames.h"

#include <QString>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <string>

class QObject;

struct UpdateServer
{
    std::string host;
    std::string versionPath;
    std::string downloadBase;
};

enum class UpdateOutcome
{
    Stopped,         // stopRequested said so (tests and benchmarks only)
    Current,         // the running file matches the release
    DownloadFailed,  // the balloon was requested
    PackageRejected, // package and staging removed, nothing else changed
    SwapFailed,      // the old executable stands where it stood, the package stays
    Updated,         // new executable in place, backup kept, package deleted
};

using BalloonFunction =
    std::function<void(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int ms)>;

struct UpdateEnvironment
{
    // Deciphered just before each use: false the primary, true the secondary.
    std::function<UpdateServer(bool secondary)> server;
    // Version request with an empty body; the HttpPost result.
    std::function<int(const std::string &host, const std::string &path, std::string &reply)> versionRequest;
    // Package download to a file; 0 on success.
    std::function<int(const char *url, const char *path)> download;
    std::function<int64_t()> now; // seconds since 1970
    std::function<void(unsigned milliseconds)> sleep;
    // Unset in the program, where the attempts go on for as long as it runs.
    std::function<bool()> stopRequested;
    // The balloon is shown by a queued call on balloonContext's thread.
    QObject *balloonContext = nullptr;
    BalloonFunction showBalloon;

    std::string exePath;
    std::string appDir; // ends in the separator, or empty
    std::string packagePath;
};

UpdateOutcome RunUpdateCheck(const UpdateEnvironment &env);

// The release value of a version reply (its "Quillmark" field). True only when it is an MD5: 32 hex
// digits, in either case.
bool ReleaseValueOf(const std::string &reply, std::string &release);

// base + "Quillmark.zip?t=" + the time's digits, least significant first.
std::string DownloadAddress(const std::string &downloadBase, int64_t now);
