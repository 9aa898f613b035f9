#include "update/threadpost.h"

#include "platform/download.h"
#include "support/startpaths.h"
#include "update/endpointcipher.h"
#include "update/endpoints.h"
#include "update/httppost.h"
#include "update/updatecheck.h"

#include <QSystemTrayIcon>
#include <QThread>
#include <algorithm>
#include <ctime>

namespace {

std::atomic<ThreadPost::EnvironmentHook> environmentHook{nullptr};

} // namespace

bool UpdateServersConfigured()
{
    return UpdateEndpoints().configured || environmentHook.load() != nullptr;
}

void ThreadPost::SetEnvironmentHook(EnvironmentHook hook)
{
    environmentHook = hook;
}

namespace {

UpdateServer DecipheredServer(bool secondary)
{
    const UpdateEndpointTable &table = UpdateEndpoints();
    UpdateServer server;
    DecipherEndpoint(secondary ? table.secondaryHost : table.primaryHost, server.host);
    DecipherEndpoint(secondary ? table.secondaryVersionPath : table.primaryVersionPath, server.versionPath);
    DecipherEndpoint(secondary ? table.secondaryDownloadBase : table.primaryDownloadBase,
                     server.downloadBase);
    return server;
}

} // namespace

ThreadPost::ThreadPost(QObject *parent) : QObject(parent) {}

void ThreadPost::RequestStop()
{
    stop_ = true;
}

bool ThreadPost::SwapUnderWay() const
{
    return swapping_;
}

void ThreadPost::startPost()
{
    UpdateEnvironment env;
    env.server = DecipheredServer;
    env.versionRequest = [](const std::string &host, const std::string &path, std::string &reply) {
        return HttpPost(host.c_str(), path.c_str(), "", reply);
    };
    env.download = [this](const char *url, std::FILE *file, const DownloadWatch &watch) {
        return DownloadIntoFile(url, file, DefaultDownloadLimits(), &stop_, watch);
    };
    env.swapping = [this](bool on) { swapping_ = on; };
    env.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
    // Pauses end early once the program is ending.
    env.sleep = [this](unsigned ms) {
        constexpr unsigned kSliceMs = 10;
        for (unsigned slept = 0; slept < ms && !stop_; slept += kSliceMs)
            QThread::msleep(std::min(kSliceMs, ms - slept));
    };
    env.stopRequested = [this] { return stop_.load(); };
    env.balloonContext = this;
    env.showBalloon = [this](const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon,
                             int ms) {
        if (!stop_)
            emit ShowBalloon(title, text, static_cast<int>(icon), ms);
    };
    env.exePath = ExePath;
    env.appDir = AppDir;
    env.packagePath = UpdatePackagePath;
    if (EnvironmentHook hook = environmentHook.load())
        hook(env);
    if (RunUpdateCheck(env) == UpdateOutcome::Updated) {
        emit Signal_UpdateSuccess();
    }
}
