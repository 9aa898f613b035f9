#include "update/updatecheck.h"

#include "support/textutil.h"
#include "update/packageinstall.h"

#include <QMetaObject>
#include <QObject>
#include <cstdio>
#include <vector>

namespace {

constexpr unsigned kRetryPauseMs = 511;

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

std::string DownloadAddress(const std::string &downloadBase, int64_t now)
{
    char digits[16];
    IntToReversedDigits(static_cast<int32_t>(now), digits);
    return downloadBase + "Quillmark.zip" + "?t=" + digits;
}

UpdateOutcome RunUpdateCheck(const UpdateEnvironment &env)
{
    std::string reply;
    UpdateServer chosen;
    for (;;) {
        if (StopRequested(env)) {
            return UpdateOutcome::Stopped;
        }
        env.sleep(kRetryPauseMs);
        if (StopRequested(env)) {
            return UpdateOutcome::Stopped;
        }
        chosen = env.server(false);
        reply.clear();
        if (env.versionRequest(chosen.host, chosen.versionPath, reply) == 0) {
            break;
        }
        chosen = env.server(true);
        reply.clear();
        if (env.versionRequest(chosen.host, chosen.versionPath, reply) == 0) {
            break;
        }
    }

    std::vector<char> release(reply.size() + 1, '\0');
    GetJsonField(release.data(), reply.c_str(), "Quillmark", release.size());
    char digest[33] = "";
    FileMd5Hex(env.exePath.c_str(), digest);
    if (std::string(digest) == release.data()) {
        return UpdateOutcome::Current;
    }

    const std::string url = DownloadAddress(chosen.downloadBase, env.now());
    if (env.download(url.c_str(), env.packagePath.c_str()) != 0) {
        RequestBalloon(env);
        return UpdateOutcome::DownloadFailed;
    }

    InstallRequest request{env.packagePath, env.appDir, env.exePath, release.data(), env.sleep};
    switch (InstallPackage(request)) {
    case InstallResult::Installed:
        return UpdateOutcome::Updated;
    case InstallResult::Rejected:
        return UpdateOutcome::PackageRejected;
    case InstallResult::SwapFailed:
        break;
    }
    return UpdateOutcome::SwapFailed;
}
