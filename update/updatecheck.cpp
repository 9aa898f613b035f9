#include "update/updatecheck.h"

#include "support/companionfiles.h"
#include "support/textutil.h"
#include "update/packageinstall.h"

#include <QMetaObject>
#include <QObject>
#include <cctype>
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
    for (;;) {
        if (StopRequested(env)) {
            return UpdateOutcome::Stopped;
        }
        env.sleep(kRetryPauseMs);
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

    const std::string url = DownloadAddress(chosen.downloadBase, env.now());
    if (env.download(url.c_str(), env.packagePath.c_str()) != 0) {
        RequestBalloon(env);
        return UpdateOutcome::DownloadFailed;
    }

    InstallRequest request{env.packagePath, env.appDir, env.exePath, release, env.sleep};
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
