// The end of the program while the update check runs: the window stops and joins the update worker before
// it and its tray icon go, also in the middle of a slow download that is about to fail. Run under
// AddressSanitizer, a balloon requested from a worker that outlived the tray would show up as a use of
// freed memory.

#include "app/mainwindow.h"
#include "app/systemtray.h"
#include "support/startpaths.h"
#include "tests/unit/update_loopback_server.h"
#include "tests/unit/winedownloads.h"
#include "update/threadpost.h"
#include "update/updatecheck.h"

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <memory>
#include <string>

namespace {

// What the hooked check uses; set by each test before the window starts its worker.
std::string downloadBase;
std::string folder;
std::atomic<bool> versionAnswers{true};
std::atomic<int> versionRequests{0};

void PointAtTheTestServers(UpdateEnvironment &env)
{
    env.server = [](bool) {
        UpdateServer server;
        server.host = "127.0.0.1";
        server.versionPath = "/version";
        server.downloadBase = downloadBase;
        return server;
    };
    // The version reply is not what this test is about: a release that differs from the running file.
    env.versionRequest = [](const std::string &, const std::string &, std::string &reply) {
        ++versionRequests;
        if (!versionAnswers)
            return -101;
        reply = "{\"Quillmark\":\"0123456789abcdef0123456789abcdef\"}";
        return 0;
    };
    env.exePath = folder + "Quillmark";
    env.appDir = folder;
    env.packagePath = folder + "Quillmark.zip";
}

// A package that trickles in, one byte every 200 ms, and then breaks off short of its announced length.
LoopbackReply SlowFailingPackage(const std::string &)
{
    LoopbackReply reply;
    reply.pieces.push_back(
        "HTTP/1.0 200 OK\r\nContent-Type: application/zip\r\nContent-Length: 100000\r\n\r\n");
    for (int i = 0; i < 100; ++i)
        reply.pieces.push_back("P");
    reply.pauseMs = 200;
    return reply;
}

LoopbackReply Missing(const std::string &)
{
    return LoopbackHttpServer::Text("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
}

} // namespace

class AppShutdownTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;

    std::unique_ptr<MainWindow> startWindow(uint16_t port)
    {
        downloadBase = "http://127.0.0.1:" + std::to_string(port) + "/";
        folder = dir.path().toStdString() + "/";
        qstrncpy(SettingsFilePath, (folder + "Quillmark.kov").c_str(), sizeof SettingsFilePath);
        qstrncpy(StartArgument, "", sizeof StartArgument);
        UpdateWorkerStarted = false;
        versionRequests = 0;
        return std::unique_ptr<MainWindow>(new MainWindow);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        ThreadPost::SetEnvironmentHook(&PointAtTheTestServers);
        QVERIFY(UpdateServersConfigured());
    }

    // The end comes while the worker is in the middle of its check; it gives up at once (a download within
    // about a second, libcurl's progress interval) instead of being cut off with the window gone.
    void endDuringTheCheck_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("slow download that would fail") << "download";
        QTest::newRow("servers not answering") << "retrying";
    }
    void endDuringTheCheck()
    {
        QFETCH(QString, stage);
        const bool downloading = stage == QLatin1String("download");
        if (downloading && WineDownloads())
            QSKIP("Wine's download cannot be broken off before it ends");
        versionAnswers = downloading;
        LoopbackHttpServer server(&SlowFailingPackage);
        QVERIFY(server.listening());
        std::unique_ptr<MainWindow> window = startWindow(server.port());
        QPointer<QSystemTrayIcon> tray = TheSystemTray;
        QVERIFY(tray);

        if (downloading)
            QTRY_VERIFY_WITH_TIMEOUT(!server.requests().empty(), 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(versionRequests >= 2, 10000);

        QVERIFY2(window->FinishUpdateThread(MainWindow::kUpdateThreadEndMs), "the worker was joined");
        window.reset();
        QVERIFY(tray.isNull());
        QVERIFY(!TheSystemTray);
        // The broken-off download leaves nothing behind.
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Quillmark.zip"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Quillmark.zip.part"))));
        // Whatever the worker had queued for the window or the tray goes with them.
        QCoreApplication::processEvents();
    }

    // A download that fails at once asks for the balloon; the window then goes right away, as at the end of
    // the program, and the request must not reach the destroyed tray icon.
    void endRightAfterAFailedDownload()
    {
        versionAnswers = true;
        LoopbackHttpServer server(&Missing);
        QVERIFY(server.listening());
        std::unique_ptr<MainWindow> window = startWindow(server.port());
        QTRY_VERIFY_WITH_TIMEOUT(!server.requests().empty(), 10000);
        window.reset(); // the destructor stops and joins the worker itself
        QVERIFY(!TheSystemTray);
        QTest::qWait(100);
        QCoreApplication::processEvents();
    }

    // The worker asks for the balloon with a signal that arrives on the GUI thread, where the window has
    // connected it to the tray icon; it never holds the icon itself.
    void failedDownloadAsksForTheBalloonOnTheGuiThread()
    {
        if (WineDownloads())
            QSKIP("Wine's download stores a 404 reply as the file instead of failing");
        versionAnswers = true;
        LoopbackHttpServer server(&Missing);
        QVERIFY(server.listening());
        downloadBase = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
        folder = dir.path().toStdString() + "/";

        struct Balloon
        {
            QString title;
            QString text;
            int icon;
            int ms;
            QThread *thread;
        };
        QVector<Balloon> balloons;
        QThread thread;
        ThreadPost worker;
        worker.moveToThread(&thread);
        QObject receiver;
        connect(&worker, &ThreadPost::ShowBalloon, &receiver,
                [&](QString title, QString text, int icon, int ms) {
                    balloons.push_back({title, text, icon, ms, QThread::currentThread()});
                });
        connect(&thread, &QThread::started, &worker, &ThreadPost::startPost);
        thread.start();
        QTRY_COMPARE_WITH_TIMEOUT(balloons.size(), 1, 10000);
        thread.quit();
        QVERIFY(thread.wait(5000));
        QCOMPARE(balloons[0].title, QString());
        QCOMPARE(balloons[0].text, QStringLiteral("发现新版本,请进入岚舟软件下载更新!"));
        QCOMPARE(balloons[0].icon, int(QSystemTrayIcon::Information));
        QCOMPARE(balloons[0].ms, 1000);
        QCOMPARE(balloons[0].thread, QThread::currentThread());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("Quillmark.zip"))));
    }

    void cleanupTestCase() { ThreadPost::SetEnvironmentHook(nullptr); }
};

QTEST_MAIN(AppShutdownTest)
#include "app_shutdown_test.moc"
