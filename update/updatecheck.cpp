#include "update/updatecheck.h"

#include "platform/fileinfo.h"
#include "platform/safefiles.h"
#include "support/companionfiles.h"
#include "support/textutil.h"
#include "update/packageinstall.h"
#include "update/releasekey.h"
#include "update/releaseprefix.h"

#include <QMetaObject>
#include <QObject>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr unsigned kFirstPauseMs = 511;
constexpr unsigned kLongestPauseMs = 5 * 60 * 1000;

bool StopRequested(const UpdateEnvironment &env)
{
    return env.stopRequested && env.stopRequested();
}

void RequestBalloon(const UpdateEnvironment &env)
{
    if (env.balloonContext == nullptr || !env.showBalloon) {
        return;
    }
    BalloonFunction show = env.showBalloon;
    // The tray icon belongs to the GUI thread: never touch it from here.
    QMetaObject::invokeMethod(
        env.balloonContext,
        [show] {
            show(QString(), QString::fromUtf8("发现新版本,请进入岚舟软件下载更新!"),
                 QSystemTrayIcon::Information, 1000);
        },
        Qt::QueuedConnection);
}

} // namespace

bool ReleaseValueOf(const std::string &reply, std::string &release)
{
    std::vector<char> value(reply.size() + 1, '\0');
    GetJsonField(value.data(), reply.c_str(), "Quillmark", value.size());
    release = value.data();
    if (release.size() != 32) {
        return false;
    }
    for (const char c : release) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

unsigned VersionRequestPauseMs(int failedRounds)
{
    unsigned pause = kFirstPauseMs;
    for (int round = 0; round < failedRounds && pause < kLongestPauseMs; ++round) {
        pause *= 2;
    }
    return pause < kLongestPauseMs ? pause : kLongestPauseMs;
}

std::string DownloadAddress(const std::string &downloadBase, int64_t now)
{
    char digits[16];
    IntToReversedDigits(static_cast<int32_t>(now), digits);
    return downloadBase + kPackageFileName + "?t=" + digits;
}

UpdateOutcome RunUpdateCheck(const UpdateEnvironment &env)
{
    std::string reply;
    std::string release;
    UpdateServer chosen;
    // A reply counts only when it names a release: a server or proxy that answers with anything else
    // (an error page, no digest, a broken one) fails like a server that does not answer, and never costs
    // a download.
    const auto ask = [&](bool secondary) {
        chosen = env.server(secondary);
        reply.clear();
        return env.versionRequest(chosen.host, chosen.versionPath, reply) == 0 &&
               ReleaseValueOf(reply, release);
    };
    for (int failedRounds = 0;; ++failedRounds) {
        if (StopRequested(env)) {
            return UpdateOutcome::Stopped;
        }
        env.sleep(VersionRequestPauseMs(failedRounds));
        if (StopRequested(env)) {
            return UpdateOutcome::Stopped;
        }
        if (ask(false) || ask(true)) {
            break;
        }
    }

    char digest[33] = "";
    FileMd5Hex(env.exePath.c_str(), digest);
    if (release == digest) {
        return UpdateOutcome::Current;
    }

    // The package is made new at its name (whatever was there is removed, never written through),
    // readable by this user alone, and stays open from its first byte downloaded to its last unpacked:
    // no one else can change it on the way.
    const std::string url = DownloadAddress(chosen.downloadBase, env.now());
    std::FILE *package = CreateExclusiveFile(env.packagePath.c_str(), FileAccess::OwnerOnly);
    // A program with a key looks at the front of a signed package while it arrives: one for another
    // platform or channel, or an older release, is refused without fetching the rest.
    std::unique_ptr<ReleasePrefixCheck> front;
    DownloadWatch watch;
    if (BuiltInReleaseKey().present) {
        front.reset(new ReleasePrefixCheck(BuiltInReleaseKey().key, BuiltInExpectation()));
        watch = [&front](const char *data, size_t n) { return front->Feed(data, n); };
    }
    const int downloaded = package == nullptr ? kDownloadFailed : env.download(url.c_str(), package, watch);
    if (downloaded != 0 || !FlushFileToDisk(package) || !OpenFileIsPrivate(package, false)) {
        if (package != nullptr) {
            std::fclose(package);
            RemoveFile(env.packagePath.c_str());
        }
        if (downloaded == 0 || (front && front->Refused())) {
            return UpdateOutcome::PackageRejected;
        }
        RequestBalloon(env);
        return UpdateOutcome::DownloadFailed;
    }

    InstallRequest request{env.packagePath, env.appDir, env.exePath, release, env.sleep};
    request.package = package;
    request.stopRequested = env.stopRequested;
    request.swapping = env.swapping;
    switch (InstallPackage(request)) {
    case InstallResult::Installed:
        return UpdateOutcome::Updated;
    case InstallResult::Rejected:
        return UpdateOutcome::PackageRejected;
    case InstallResult::Stopped:
        return UpdateOutcome::Stopped;
    case InstallResult::SwapFailed:
        break;
    }
    return UpdateOutcome::SwapFailed;
}
