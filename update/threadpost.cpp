#include "update/threadpost.h"

#include "platform/download.h"
#include "support/startpaths.h"
#include "update/endpointcipher.h"
#include "update/endpoints.h"
#include "update/httppost.h"
#include "update/updatecheck.h"

#include <QSystemTrayIcon>
#include <QThread>
#include <ctime>

QSystemTrayIcon *TheSystemTray = nullptr;
bool UpdateWorkerStarted = false;

bool UpdateServersConfigured()
{
    return UpdateEndpoints().configured;
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

void ThreadPost::startPost()
{
    UpdateEnvironment env;
    env.server = DecipheredServer;
    env.versionRequest = [](const std::string &host, const std::string &path, std::string &reply) {
        return HttpPost(host.c_str(), path.c_str(), "", reply);
    };
    env.download = DownloadToFile;
    env.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
    env.sleep = [](unsigned ms) { QThread::msleep(ms); };
    env.balloonContext = TheSystemTray;
    env.showBalloon = [](const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon,
                         int ms) {
        if (TheSystemTray != nullptr) {
            TheSystemTray->showMessage(title, text, icon, ms);
        }
    };
    env.exePath = ExePath;
    env.appDir = AppDir;
    env.packagePath = UpdatePackagePath;
    if (RunUpdateCheck(env) == UpdateOutcome::Updated) {
        emit Signal_UpdateSuccess();
    }
}
