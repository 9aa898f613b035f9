// The Windows client through real COM: whole print runs against the stand-in word processor, an
// out-of-process server registered as "Word.Application" in the test prefix. Its log shows every call as
// the server received it (member, kind, arguments with their variant types).

#include "print/axwordprocessor.h"
#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "tests/windows/standinlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <windows.h>

namespace {

using Files = QList<QPair<QString, QString>>; // relative path, first line

const QString Password = QStringLiteral("秘密");

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

struct RunResult
{
    QStringList labels;
    int printed = -1;
    int failed = -1;
    QString problem;
    qint64 ms = 0;
};

} // namespace

class WindowsAxClientTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void callsAsTheServerSeesThem();
    void documents_data();
    void documents();
    void abortEndsAHangingServer();
    void watchdogEndsAHangingServer();

private:
    void makeFiles(const Files &files);
    RunResult run(const std::function<void()> &whileRunning = nullptr);

    std::unique_ptr<QTemporaryDir> tmp_;
    QString docs_; // the tree printed, with a trailing "/"
    QString logs_; // the stand-in's folder
};

void WindowsAxClientTest::initTestCase()
{
    QVERIFY2(standin::StartRpcService(), "Wine's RPC service does not run: no local server can be reached");
    ThreadObject::SetViewerLauncher([](const QString &) {});
}

void WindowsAxClientTest::init()
{
    InstallNativeWordProcessor();
    tmp_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/打印测试-XXXXXX"));
    QVERIFY(tmp_->isValid());
    docs_ = tmp_->path() + QStringLiteral("/文档/");
    logs_ = tmp_->path() + QStringLiteral("/server");
    QVERIFY(QDir().mkpath(docs_));
    QVERIFY(QDir().mkpath(logs_));
    QVERIFY(standin::Register(logs_));
}

void WindowsAxClientTest::cleanup()
{
    // A failed case must not leave a server behind for the next one.
    for (const qint64 pid : standin::ServerPids(logs_))
        standin::EndProcess(pid);
}

void WindowsAxClientTest::cleanupTestCase()
{
    ThreadObject::SetViewerLauncher(nullptr);
    SetWordProcessorFactory(nullptr);
}

void WindowsAxClientTest::makeFiles(const Files &files)
{
    for (const auto &f : files) {
        const QString path = docs_ + f.first;
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(f.second.toUtf8() + "\r\n");
    }
}

RunResult WindowsAxClientTest::run(const std::function<void()> &whileRunning)
{
    PrintJobSettings.sourcePath = docs_;
    PrintJobSettings.password = Password;
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = docs_ + QStringLiteral("无法设置或修改密码的文件目录.txt");
    RunResult result;
    QThread thread;
    auto *worker = new ThreadObject; // deleted once its thread is over
    worker->moveToThread(&thread);
    connect(worker, &ThreadObject::ShowDisposingFile, this, [&](const QString &t) { result.labels << t; });
    connect(worker, &ThreadObject::RunFinished, this, [&](int printed, int failed, const QString &problem) {
        result.printed = printed;
        result.failed = failed;
        result.problem = problem;
    });
    thread.start();
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(worker, "ReplaceExcelText", Qt::QueuedConnection);
    if (whileRunning)
        whileRunning();
    const bool ended = QTest::qWaitFor([&] { return result.printed >= 0; }, 120000);
    result.ms = clock.elapsed();
    thread.quit();
    thread.wait();
    delete worker;
    if (!ended)
        qWarning("the run did not end");
    return result;
}

void WindowsAxClientTest::callsAsTheServerSeesThem()
{
    makeFiles({{QStringLiteral("一.doc"), QStringLiteral("第一份")},
               {QStringLiteral("子目录/二.docx"), QStringLiteral("standin:password=秘密")},
               {QStringLiteral("~$一.doc"), QStringLiteral("lock file")}});
    const RunResult result = run();
    QCOMPARE(result.printed, 2);
    const QString one = Native(docs_ + QStringLiteral("一.doc"));
    const QString two = Native(docs_ + QStringLiteral("子目录/二.docx"));
    const auto open = [](const QString &path) {
        return QStringLiteral("documents method|get Open [VT_BSTR:\"%1\", VT_BOOL:false, VT_BOOL:false, "
                              "VT_BOOL:false, VT_BSTR:\"%2\", VT_BSTR:\"%2\", VT_BOOL:true]")
            .arg(path, Password);
    };
    const QStringList calls = standin::Calls(logs_);
    QCOMPARE(
        calls,
        (QStringList{
            "created",
            // ActiveQt finds no "SetVisible" and puts the property Visible instead.
            "application unknown-name SetVisible", "application put Visible [#-3=VT_BSTR:\"false\"]",
            "application put DisplayAlerts [#-3=VT_BOOL:false]", "application get Documents []", open(one),
            "document method|get PrintOut [VT_BOOL:false]", "document method|get Close [VT_BOOL:false]",
            open(two), "document method|get PrintOut [VT_BOOL:false]",
            "document method|get Close [VT_BOOL:false]", "application method|get Quit []", "server quits"}));
    QCOMPARE(standin::Printed(logs_), (QStringList{one, two}));
}

void WindowsAxClientTest::documents_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("spoolMs");     // how long each job spools in the server
    QTest::addColumn<QStringList>("printed"); // in the server's print log, in order
    QTest::addColumn<QStringList>("listed");  // in the failure list
    QTest::addColumn<int>("servers");         // server processes started during the run

    const QString good = QStringLiteral("正文");
    // Printed in the background, a job that takes this long is lost when the document closes at once.
    QTest::newRow("slow jobs all reach the printer")
        << Files{{"a.doc", good}, {"b.docx", good}, {"c.docm", good}} << QStringLiteral("1500")
        << QStringList{"a.doc", "b.docx", "c.docm"} << QStringList{} << 1;
    QTest::newRow("wrong password, damaged, empty")
        << Files{{"a.doc", "standin:password=别的"},
                 {"b.doc", "standin:damaged"},
                 {"c.doc", ""},
                 {"d.doc", "standin:password=秘密"}}
        << QString() << QStringList{"d.doc"} << QStringList{"a.doc", "b.doc", "c.doc"} << 1;
    QTest::newRow("no printer: an exception in PrintOut")
        << Files{{"a.doc", good}, {"1/b.doc", "standin:printout-fails"}, {"1/2/c.doc", good}} << QString()
        << QStringList{"a.doc", "1/2/c.doc"} << QStringList{"1/b.doc"} << 1;
    // The next document goes to a fresh server.
    QTest::newRow("server dies in PrintOut")
        << Files{{"a.doc", good}, {"1/b.doc", "standin:die-print"}, {"1/2/c.doc", good}} << QString()
        << QStringList{"a.doc", "1/2/c.doc"} << QStringList{"1/b.doc"} << 2;
    QTest::newRow("server dies in Open") << Files{{"a.doc", "standin:die-open"}, {"1/b.doc", good}}
                                         << QString() << QStringList{"1/b.doc"} << QStringList{"a.doc"} << 2;
}

void WindowsAxClientTest::documents()
{
    QFETCH(Files, files);
    QFETCH(QString, spoolMs);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, listed);
    QFETCH(int, servers);
    makeFiles(files);
    if (!spoolMs.isEmpty()) {
        QFile control(logs_ + QStringLiteral("/control.txt"));
        QVERIFY(control.open(QIODevice::WriteOnly));
        control.write("spool-ms=" + spoolMs.toLatin1() + "\r\n");
    }
    const RunResult result = run();

    // Documents are tried in the order the folder lists them, which the file system decides.
    QStringList order;
    for (const QFileInfo &file : ThreadObject().ListFilesRecursively(docs_))
        order << Native(file.filePath());
    const auto inOrder = [&](const QStringList &names) {
        QStringList paths;
        for (const QString &name : names)
            paths << Native(docs_ + name);
        std::sort(paths.begin(), paths.end(),
                  [&](const QString &a, const QString &b) { return order.indexOf(a) < order.indexOf(b); });
        return paths;
    };
    const QStringList expectedPrinted = inOrder(printed), expectedListed = inOrder(listed);
    QCOMPARE(standin::Printed(logs_), expectedPrinted);
    QCOMPARE(result.printed, printed.size());
    QCOMPARE(result.failed, listed.size());
    QCOMPARE(result.labels.last(), QStringLiteral("成功打印%1个word文件!").arg(printed.size()));
    QFile list(PrintJobSettings.failureListPath);
    if (listed.isEmpty()) {
        QVERIFY(!list.exists());
    } else {
        QVERIFY(list.open(QIODevice::ReadOnly));
        // Code page 936, CR LF.
        QCOMPARE(list.readAll(), expectedListed.join(QStringLiteral("\r\n")).toLocal8Bit() + "\r\n");
    }
    const QList<qint64> pids = standin::ServerPids(logs_);
    QCOMPARE(pids.size(), servers);
    for (const qint64 pid : pids)
        QVERIFY2(!standin::ProcessRunning(pid), "a server outlived the run");
}

void WindowsAxClientTest::abortEndsAHangingServer()
{
    // A dialog nobody sees during Open: the program's end must still end the run and the server.
    makeFiles({{"a.doc", "正文"}, {"1/b.doc", "standin:hang-open"}, {"1/2/c.doc", "正文"}});
    QElapsedTimer sinceAbort;
    const RunResult result = run([&] {
        QVERIFY(QTest::qWaitFor(
            [&] { return standin::Calls(logs_).join('\n').contains("open never returns"); }, 30000));
        sinceAbort.start();
        ThreadObject::AbortRuns();
    });
    QVERIFY2(result.printed >= 0, "the run never ended");
    QVERIFY2(sinceAbort.elapsed() < 2000, qPrintable(QString::number(sinceAbort.elapsed())));
    QCOMPARE(result.printed, 1);
    QCOMPARE(result.labels.last(), QStringLiteral("成功打印1个word文件! 打印已中止。"));
    QCOMPARE(standin::Printed(logs_), QStringList{Native(docs_ + "a.doc")});
    const QList<qint64> pids = standin::ServerPids(logs_);
    QCOMPARE(pids.size(), 1);
    QVERIFY2(!standin::ProcessRunning(pids.first()), "the hanging server outlived the run");
    QVERIFY(!QFile::exists(PrintJobSettings.failureListPath));
}

void WindowsAxClientTest::watchdogEndsAHangingServer()
{
    // No abort: the watchdog finds the server idle in a call, ends it, and a fresh one prints the rest.
    AxWordProcessor::Limits limits;
    limits.stall = std::chrono::milliseconds(3000);
    SetWordProcessorFactory([limits] { return std::make_unique<AxWordProcessor>(limits); });
    makeFiles({{"a.doc", "standin:hang-open"}, {"1/b.doc", "正文"}});
    const RunResult result = run();
    QCOMPARE(result.printed, 1);
    QCOMPARE(standin::Printed(logs_), QStringList{Native(docs_ + "1/b.doc")});
    QFile list(PrintJobSettings.failureListPath);
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), Native(docs_ + "a.doc").toLocal8Bit() + "\r\n");
    QVERIFY2(result.ms >= 3000 && result.ms < 30000, qPrintable(QString::number(result.ms)));
    const QList<qint64> pids = standin::ServerPids(logs_);
    QCOMPARE(pids.size(), 2);
    for (const qint64 pid : pids)
        QVERIFY(!standin::ProcessRunning(pid));
}

QTEST_GUILESS_MAIN(WindowsAxClientTest)
#include "windows_axclient_test.moc"
