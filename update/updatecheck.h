#pragma once
// One update check, with everything it touches reachable through UpdateEnvironment so that tests can point
// it at loopback servers and a folder of their own.

#include "platform/download.h"
#include "update/filedigest.h"
#include "update/packagenames.h"

#include <QString>
#include <QSystemTrayIcon>
#include <cstdint>
#include <cstdio>
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
    Stopped,         // stopRequested said so: nothing changed
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
    // Package download into the open file, each piece shown to watch first (false from it stops the
    // download); 0 on success, kDownloadStoppedByWatch when watch stopped it.
    std::function<int(const char *url, std::FILE *file, const DownloadWatch &watch)> download;
    std::function<int64_t()> now; // seconds since 1970
    std::function<void(unsigned milliseconds)> sleep;
    // The program is ending: asked between the attempts, and between the entries unpacked.
    std::function<bool()> stopRequested;
    // Told true just before the swap begins and false once it is over (the swap is never stopped).
    std::function<void(bool)> swapping;
    // The balloon is shown by a queued call on balloonContext's thread.
    QObject *balloonContext = nullptr;
    BalloonFunction showBalloon;

    std::string exePath;
    std::string appDir; // ends in the separator, or empty
    std::string packagePath;
};

UpdateOutcome RunUpdateCheck(const UpdateEnvironment &env);

// The pause before a version request, after failedRounds rounds in which neither server gave a release:
// 511 ms at first, doubling with every failed round up to 5 minutes, so that an update server that is
// down or unreachable is not asked twice a second for the whole session.
unsigned VersionRequestPauseMs(int failedRounds);

// The release value of a version reply (its "Quillmark" field). True only when it is an MD5: 32 hex
// digits, in either case.
bool ReleaseValueOf(const std::string &reply, std::string &release);

// base + "Quillmark.zip?t=" + the time's digits, least significant first.
std::string DownloadAddress(const std::string &downloadBase, int64_t now);
