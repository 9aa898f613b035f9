// The Windows client through real COM: whole print runs against the stand-in word processor, an
// out-of-process server registered as "Word.Application" in the test prefix. Its log shows every call as
// the server received it (member, kind, arguments with their variant types).

#include "print/axwordprocessor.h"
#include "print/documentoutcome.h"
#include "print/failurelist.h"
#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "tests/windows/standinlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <windows.h>

namespace {

using Files = QList<QPair<QString, QString>>; // relative path, first line

const QString Password = QStringLiteral("秘密");

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

struct RunResult
{
    QStringList labels;
    QStringList outcomes; // per document, in the order tried
    QList<int> pages;     // what each printed or exported, as the report gives it
    int printed = -1;
    int failed = -1;
    QString problem;
};

const QString NotAnswering = QStringLiteral("文字处理软件没有响应，其余文档未能处理。");
const QString NoWordProcessor =
    QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。");

// Short enough for a test, long enough that a call that works is never taken for a hung one.
AxWordProcessor::Limits TestLimits()
{
    AxWordProcessor::Limits limits;
    limits.stall = std::chrono::milliseconds(2000);
    limits.cap = std::chrono::milliseconds(8000);
    limits.call = std::chrono::milliseconds(10000);
    limits.unwatchedDocument = std::chrono::milliseconds(4000);
    limits.busy = std::chrono::milliseconds(1500);
    return limits;
}

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
    void registrations_data();
    void registrations();
    void userInstanceLeftAlone_data();
    void userInstanceLeftAlone();
    void abortMidCall_data();
    void abortMidCall();
    void batchOptions_data();
    void batchOptions();

private:
    void makeFiles(const Files &files);
    void control(const QByteArray &text);
    RunResult run(const std::function<void()> &whileRunning = nullptr);
    QString path(const QString &relative) const { return Native(docs_ + relative); }
    // The failure list's bytes (code page 936, CR LF), "<none>" when there is none.
    QByteArray failureList() const;
    void serversEnded(int count) const; // the run started count servers, and none outlived it
    // The outcome of each of files (in the order tried), and what the server printed, the count and the
    // failure list as those outcomes say.
    void checkRecords(const Files &files, const QStringList &outcomes, const RunResult &result) const;

    std::unique_ptr<QTemporaryDir> tmp_;
    QString docs_; // the tree printed, with a trailing "/"
    QString logs_; // the stand-in's folder
    QList<qint64> extraPids_;
};

void WindowsAxClientTest::initTestCase()
{
    QVERIFY2(standin::StartRpcService(), "Wine's RPC service does not run: no local server can be reached");
    ThreadObject::SetViewerLauncher([](const QString &) {});
}

void WindowsAxClientTest::init()
{
    PrintJobSettings = PrintJobSettingsRecord();
    SetWordProcessorFactory([] { return std::make_unique<AxWordProcessor>(TestLimits()); });
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
    // The user's instance revokes its class when told to (a killed one would stay registered), and a failed
    // case must not leave a server behind for the next one.
    if (!extraPids_.isEmpty()) {
        QFile(logs_ + QStringLiteral("/stop-user")).open(QIODevice::WriteOnly);
        (void)QTest::qWaitFor([&] { return !standin::ProcessRunning(extraPids_.first()); }, 10000);
    }
    for (const qint64 pid : standin::ServerPids(logs_) + extraPids_)
        standin::EndProcess(pid);
    extraPids_.clear();
}

void WindowsAxClientTest::cleanupTestCase()
{
    ThreadObject::SetViewerLauncher(nullptr);
    SetWordProcessorFactory(nullptr);
}

void WindowsAxClientTest::makeFiles(const Files &files)
{
    for (const auto &f : files) {
        const QString file = docs_ + f.first;
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(f.second.toUtf8() + "\r\n");
    }
}

void WindowsAxClientTest::control(const QByteArray &text)
{
    QFile file(logs_ + QStringLiteral("/control.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text + "\r\n");
}

QByteArray WindowsAxClientTest::failureList() const
{
    QFile list(PrintJobSettings.failureListPath);
    return list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray("<none>");
}

void WindowsAxClientTest::serversEnded(int count) const
{
    const QList<qint64> pids = standin::ServerPids(logs_);
    QCOMPARE(pids.size(), count);
    for (const qint64 pid : pids)
        QVERIFY2(!standin::ProcessRunning(pid), "a server outlived the run");
}

void WindowsAxClientTest::checkRecords(const Files &files, const QStringList &outcomes,
                                       const RunResult &result) const
{
    QStringList printed, listed;
    for (int i = 0; i < files.size() && i < outcomes.size(); ++i) {
        if (outcomes.at(i) == QLatin1String("printed"))
            printed << path(files.at(i).first);
        else if (outcomes.at(i) != QLatin1String("not-tried"))
            listed << path(files.at(i).first);
    }
    QCOMPARE(result.outcomes, outcomes);
    QCOMPARE(standin::Printed(logs_), printed);
    QCOMPARE(result.printed, printed.size());
    QCOMPARE(result.failed, listed.size());
    QCOMPARE(failureList(),
             listed.isEmpty() ? QByteArray("<none>") : listed.join("\r\n").toLocal8Bit() + "\r\n");
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
    connect(worker, &ThreadObject::DocumentFinished, this, [&](const DocumentOutcome &o) {
        result.outcomes << o.outcome;
        result.pages << o.pages;
    });
    connect(worker, &ThreadObject::RunFinished, this, [&](int printed, int failed, const QString &problem) {
        result.printed = printed;
        result.failed = failed;
        result.problem = problem;
    });
    thread.start();
    QMetaObject::invokeMethod(worker, "ReplaceExcelText", Qt::QueuedConnection);
    if (whileRunning)
        whileRunning();
    const bool ended = QTest::qWaitFor([&] { return result.printed >= 0; }, 120000);
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
    const QString one = path(QStringLiteral("一.doc"));
    const QString two = path(QStringLiteral("子目录/二.docx"));
    const auto open = [](const QString &path) {
        return QStringLiteral("documents method|get Open [VT_BSTR:\"%1\", VT_BOOL:false, VT_BOOL:false, "
                              "VT_BOOL:false, VT_BSTR:\"%2\", VT_BSTR:\"%2\", VT_BOOL:true]")
            .arg(path, Password);
    };
    // The collection is counted when the server starts, before each document and before Quit: documents
    // the run did not open would be the user's.
    const QString count = QStringLiteral("documents get Count []");
    const QStringList calls = standin::Calls(logs_);
    QCOMPARE(
        calls,
        (QStringList{"created", "application get Documents []", count,
                     // ActiveQt finds no "SetVisible" and puts the property Visible instead.
                     "application unknown-name SetVisible", "application put Visible [#-3=VT_BSTR:\"false\"]",
                     "application put DisplayAlerts [#-3=VT_BOOL:false]", count, open(one),
                     "document method|get PrintOut [VT_BOOL:false]", "prints pages 1 of 1, 1 copy: " + one,
                     // The report's page count, from Word's own statistics.
                     "document method|get ComputeStatistics [VT_I4:\"2\"]",
                     "document method|get Close [VT_BOOL:false]", count, open(two),
                     "document method|get PrintOut [VT_BOOL:false]", "prints pages 1 of 1, 1 copy: " + two,
                     "document method|get ComputeStatistics [VT_I4:\"2\"]",
                     "document method|get Close [VT_BOOL:false]", count, "application method|get Quit []",
                     "server quits"}));
    QCOMPARE(standin::Printed(logs_), (QStringList{one, two}));
}

void WindowsAxClientTest::documents_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QByteArray>("controls");  // the stand-in's control.txt
    QTest::addColumn<QStringList>("outcomes"); // per document, in the order of files
    QTest::addColumn<int>("servers");          // server processes started during the run

    const QString good = QStringLiteral("正文");
    // Printed in the background, a job that takes this long is lost when the document closes at once.
    QTest::newRow("slow jobs all reach the printer")
        << Files{{"a.doc", good}, {"b.docx", good}, {"c.docm", good}} << QByteArray("spool-ms=1500")
        << QStringList{"printed", "printed", "printed"} << 1;
    // Why each did not open, from the server's error.
    QTest::newRow("wrong password, damaged, empty")
        << Files{{"a.doc", "standin:password=别的"},
                 {"b.doc", "standin:damaged"},
                 {"c.doc", ""},
                 {"d.doc", "standin:password=秘密"}}
        << QByteArray() << QStringList{"wrong-password", "damaged", "damaged", "printed"} << 1;
    // The next document goes to a fresh server.
    QTest::newRow("server dies in PrintOut")
        << Files{{"a.doc", good}, {"1/b.doc", "standin:die-print"}, {"1/2/c.doc", good}} << QByteArray()
        << QStringList{"printed", "printer-error", "printed"} << 2;
    QTest::newRow("server dies in Open") << Files{{"a.doc", "standin:die-open"}, {"1/b.doc", good}}
                                         << QByteArray() << QStringList{"damaged", "printed"} << 2;

    // What PrintOut gives: only a success counts. Word's thread is busy for a while and refuses calls;
    // they are tried again until it takes them.
    QTest::newRow("busy a while, then printed")
        << Files{{"a.doc", "standin:busy-after-open=700"}, {"1/b.doc", good}} << QByteArray("apartment=sta")
        << QStringList{"printed", "printed"} << 1;
    // Any other failure: not printed, and a server that is gone or cut off is replaced for the next one.
    const auto failing = [&good](const char *name, const char *what, int servers) {
        QTest::newRow(name) << Files{{"a.doc", QStringLiteral("standin:") + what}, {"1/b.doc", good}}
                            << QByteArray() << QStringList{"printer-error", "printed"} << servers;
    };
    failing("busy past the bound: RPC_E_CALL_REJECTED", "printout-hr=80010001", 1);
    failing("exception: no printer", "printout-fails", 1);
    failing("RPC_S_SERVER_UNAVAILABLE", "printout-hr=800706BA", 2);
    failing("RPC_E_DISCONNECTED", "printout-hr=80010108", 2);
    failing("DISP_E_TYPEMISMATCH", "printout-hr=80020005", 1);
    failing("DISP_E_BADPARAMCOUNT", "printout-hr=8002000E", 1);
    failing("DISP_E_MEMBERNOTFOUND", "printout-hr=80020003", 1);
}

void WindowsAxClientTest::documents()
{
    QFETCH(Files, files);
    QFETCH(QByteArray, controls);
    QFETCH(QStringList, outcomes);
    QFETCH(int, servers);
    makeFiles(files);
    if (!controls.isEmpty())
        control(controls);
    const RunResult result = run();
    // Each folder's files come before its subfolders, so the rows' files are in the order tried.
    checkRecords(files, outcomes, result);
    QCOMPARE(result.labels.last(), QStringLiteral("成功打印%1个word文件!").arg(outcomes.count("printed")));
    if (controls.contains("apartment=sta")) {
        const QStringList calls = standin::Calls(logs_);
        QVERIFY2(calls.contains(QStringLiteral("refused as busy")), "the server never refused a call");
        qInfo("The stand-in's calls in a run with busy refusals:\n    %s", qPrintable(calls.join("\n    ")));
    }
    serversEnded(servers);
}

void WindowsAxClientTest::registrations_data()
{
    QTest::addColumn<QString>("how"); // wordstandin.exe /regserver FOLDER how
    QTest::addColumn<QString>("first");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("servers");

    const QStringList both{"printed", "printed"};
    // Whatever way the server is registered, its process is found: a hung call ends it (its owner file
    // goes too) and a fresh one prints the rest. In process there is none: the call is given up at its
    // bound, and the run stops there.
    for (const QString how : {"quoted", "unquoted", "launcher", "inproc"}) {
        const bool inproc = how == QLatin1String("inproc");
        QTest::newRow(qPrintable(how + ", normal")) << how << "正文" << both << QString() << (inproc ? 0 : 1);
        QTest::newRow(qPrintable(how + ", Open hangs"))
            << how << "standin:hang-open" << QStringList{"timed-out", inproc ? "not-tried" : "printed"}
            << (inproc ? NotAnswering : QString()) << (inproc ? 0 : 2);
    }
    // Busy in a loop: caught by the cap, not by the stall.
    QTest::newRow("quoted, Open spins")
        << "quoted"
        << "standin:spin-open" << QStringList{"timed-out", "printed"} << QString() << 2;
}

void WindowsAxClientTest::registrations()
{
    QFETCH(QString, how);
    QFETCH(QString, first);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, problem);
    QFETCH(int, servers);
    QString program = standin::Program();
    if (how == QLatin1String("unquoted") || how == QLatin1String("launcher")) {
        // Unquoted, a path with spaces is cut at the first space that names no file.
        const QString folder = tmp_->path() + QStringLiteral("/Program Files/Stand In");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(program, folder + QStringLiteral("/wordstandin.exe")));
        program = folder + (how == QLatin1String("launcher") ? QStringLiteral("/standinlauncher.exe")
                                                             : QStringLiteral("/wordstandin.exe"));
        if (how == QLatin1String("launcher"))
            QVERIFY(QFile::copy(standin::Program(), program));
    }
    QVERIFY(standin::Register(logs_, how, program));
    const Files files{{"a.doc", first}, {"1/b.doc", QStringLiteral("正文")}};
    makeFiles(files);
    const RunResult result = run();
    checkRecords(files, outcomes, result);
    QCOMPARE(result.problem, problem);
    serversEnded(servers);
    // Word's owner files of the run's documents: none left beside them.
    QCOMPARE(QDir(docs_).entryList({"~$*"}, QDir::Files | QDir::Hidden | QDir::System), QStringList());
}

void WindowsAxClientTest::userInstanceLeftAlone_data()
{
    QTest::addColumn<bool>("alreadyRunning"); // the user's instance runs before the run, with a document
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("problem");

    QTest::newRow("a multi-use server already running with the user's document")
        << true << QStringList{"not-tried", "not-tried"} << NoWordProcessor;
    QTest::newRow("the user's document arrives in the run's instance")
        << false << QStringList{"printed", "printed"} << QString();
}

void WindowsAxClientTest::userInstanceLeftAlone()
{
    QFETCH(bool, alreadyRunning);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, problem);
    makeFiles({{"a.doc", alreadyRunning ? QStringLiteral("正文") : QStringLiteral("standin:user-opens")},
               {"1/b.doc", QStringLiteral("正文")}});
    if (alreadyRunning) {
        qint64 pid = 0;
        QVERIFY(QProcess::startDetached(standin::Program(),
                                        {"/user", Native(logs_), Native(tmp_->path() + "/用户.docx")},
                                        QString(), &pid));
        extraPids_ << pid;
        QVERIFY(QTest::qWaitFor([&] { return !standin::ServerPids(logs_).isEmpty(); }, 30000));
    }
    const RunResult result = run();
    QCOMPARE(result.outcomes, outcomes);
    QCOMPARE(result.problem, problem);
    const QList<qint64> pids = standin::ServerPids(logs_);
    QVERIFY(!pids.isEmpty());
    // The user's instance: still running, shown, never told to quit.
    QVERIFY2(standin::ProcessRunning(pids.first()), "the user's instance was ended");
    extraPids_ << pids.first();
    const QStringList calls = standin::Calls(logs_);
    QVERIFY(!calls.contains(QStringLiteral("application put Visible [#-3=VT_BSTR:\"false\"]")) ||
            !alreadyRunning);
    if (!alreadyRunning)
        QVERIFY(calls.contains(QStringLiteral("application put Visible [#-3=VT_BOOL:true]")));
    // Quit went to the fresh instance only.
    QCOMPARE(calls.count(QStringLiteral("application method|get Quit []")), alreadyRunning ? 0 : 1);
    QCOMPARE(pids.size(), alreadyRunning ? 1 : 2);
    if (!alreadyRunning)
        QVERIFY(!standin::ProcessRunning(pids.last()));
}

void WindowsAxClientTest::abortMidCall_data()
{
    QTest::addColumn<QString>("how");   // the server's registration
    QTest::addColumn<QString>("hangs"); // b.doc's first line
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("label");     // the run's last, after the count
    QTest::addColumn<QByteArray>("listed"); // the failure list
    QTest::addColumn<int>("servers");
    const QStringList cut{"printed", "not-tried", "not-tried"};
    const QString aborted = QStringLiteral(" 打印已中止。");
    // A dialog nobody sees during Open: the program's end must still end the run and the server.
    QTest::newRow("Open hangs, its process known: ended")
        << "quoted"
        << "standin:hang-open" << cut << aborted << QByteArray("<none>") << 1;
    // Nothing to end: the call is given up, and the run ends all the same.
    QTest::newRow("Open hangs in process: the call given up")
        << "inproc"
        << "standin:hang-open" << cut << aborted << QByteArray("<none>") << 0;
    // Cut off while PrintOut is under way: whether a page came out is not known.
    QTest::newRow("PrintOut hangs: unconfirmed")
        << "quoted"
        << "standin:hang-print" << QStringList{"printed", "unconfirmed", "not-tried"}
        << QStringLiteral(" 另有1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“[未确认]”）。") +
               aborted
        << (FailureListUnconfirmedMarker() + "{b}").toLocal8Bit() + "\r\n"
        << 1;
}

void WindowsAxClientTest::abortMidCall()
{
    QFETCH(QString, how);
    QFETCH(QString, hangs);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, label);
    QFETCH(QByteArray, listed);
    QFETCH(int, servers);
    QVERIFY(standin::Register(logs_, how));
    makeFiles({{"a.doc", "正文"}, {"1/b.doc", hangs}, {"1/2/c.doc", "正文"}});
    const QString never = hangs.endsWith("open") ? "open never returns" : "print never returns";
    const RunResult result = run([&] {
        QVERIFY(QTest::qWaitFor([&] { return standin::Calls(logs_).join('\n').contains(never); }, 30000));
        ThreadObject::AbortRuns();
    });
    QVERIFY2(result.printed >= 0, "the run never ended");
    QCOMPARE(result.outcomes, outcomes);
    QCOMPARE(result.printed, 1);
    QCOMPARE(result.labels.last(), QStringLiteral("成功打印1个word文件!") + label);
    QCOMPARE(standin::Printed(logs_), QStringList{path("a.doc")});
    QCOMPARE(failureList(), listed.replace("{b}", path("1/b.doc").toLocal8Bit()));
    serversEnded(servers);
}

void WindowsAxClientTest::batchOptions_data()
{
    QTest::addColumn<QString>("first"); // a.doc's first line; it has 3 pages, 子目录/b.docx one
    QTest::addColumn<bool>("pdf");      // exported instead of printed
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("collate");
    QTest::addColumn<QString>("pages");
    // What the server was asked and did ({a}, {b}: the documents; PDF: the run's private folder).
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QList<int>>("reported");  // the report's pages
    QTest::addColumn<QStringList>("pdfPages"); // the pages of each document's PDF; empty: no PDF
    QTest::addColumn<QString>("problem");

    const QString three = QStringLiteral("standin:pages=3");
    const QString printOut = QStringLiteral("document method|get PrintOut [VT_BOOL:false, %1]");
    const QString exportPdf = QStringLiteral(
        "document method|get ExportAsFixedFormat [VT_BSTR:\"PDF\\%1.pdf\", VT_I4:\"17\", VT_BOOL:false, "
        "%2KeepIRM=VT_BOOL:false]");
    const QStringList both{"printed", "printed"}, none{"not-tried", "not-tried"};

    // (Two copies of pages 1-2, a whole PDF and --duplex refused: windows_print_e2e.py, through
    // quillmark-print.exe.)
    QTest::newRow("three collated copies")
        << three << false << 3 << true << ""
        << QStringList{printOut.arg("Copies=VT_I4:\"3\", Collate=VT_BOOL:true"),
                       "prints pages 1,2,3 of 3, 3 copies, collated: {a}",
                       printOut.arg("Copies=VT_I4:\"3\", Collate=VT_BOOL:true"),
                       "prints pages 1 of 1, 3 copies, collated: {b}"}
        << both << QList<int>{9, 3} << QStringList{"", ""} << QString();
    // The one-page document has none of the pages: it is not sent at all.
    QTest::newRow("pages 2-3, past the end of one")
        << three << false << 1 << false << "2-3"
        << QStringList{printOut.arg("Range=VT_I4:\"4\", Pages=VT_BSTR:\"2-3\""),
                       "prints pages 2,3 of 3, 1 copy: {a}"}
        << QStringList{"printed", "no-pages"} << QList<int>{2, 0} << QStringList{"", ""} << QString();

    // Word takes no span past the end: it is cut at the last page.
    QTest::newRow("pdf of pages 2-5")
        << three << true << 1 << false << "2-5"
        << QStringList{exportPdf.arg(1).arg("Range=VT_I4:\"3\", From=VT_I4:\"2\", To=VT_I4:\"3\", "),
                       "exports pages 2,3 of 3 as PDF: PDF\\1.pdf"}
        << QStringList{"exported", "no-pages"} << QList<int>{2, 0} << QStringList{"2,3", ""} << QString();
    // The half-made file stays in the private folder, which goes with the run.
    QTest::newRow("pdf export fails")
        << "standin:export-fails" << true << 1 << false << ""
        << QStringList{exportPdf.arg(1).arg(""), exportPdf.arg(2).arg(""),
                       "exports pages 1 of 1 as PDF: PDF\\2.pdf"}
        << QStringList{"export-failed", "exported"} << QList<int>{-1, 1} << QStringList{"", "1"} << QString();
    QTest::newRow("pdf of two spans: Word exports one")
        << three << true << 1 << false << "1,3" << QStringList{} << none << QList<int>{-1, -1}
        << QStringList{"", ""} << QStringLiteral("所用的文字处理软件不能导出 PDF，未能导出。");
}

void WindowsAxClientTest::batchOptions()
{
    QFETCH(QString, first);
    QFETCH(bool, pdf);
    QFETCH(int, copies);
    QFETCH(bool, collate);
    QFETCH(QString, pages);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, outcomes);
    QFETCH(QList<int>, reported);
    QFETCH(QStringList, pdfPages);
    QFETCH(QString, problem);
    makeFiles({{"a.doc", first + "\r\nstandin:pages=3"},
               {QStringLiteral("子目录/b.docx"), QStringLiteral("正文")}});
    const QString out = tmp_->path() + QStringLiteral("/PDF 输出/");
    WordProcessor::PrintOptions &options = PrintJobSettings.printOptions;
    options.copies = copies;
    options.collate = collate;
    options.pages = pages;
    if (pdf) {
        PrintJobSettings.mode = PrintJobSettingsRecord::Mode::ExportPdf;
        PrintJobSettings.pdfFolder = out;
        QVERIFY(QDir().mkpath(out));
    }
    const RunResult result = run();
    QCOMPARE(result.problem, problem);
    QCOMPARE(result.outcomes, outcomes);
    QCOMPARE(result.pages, reported);

    // The private folder's name is the run's own.
    static const QRegularExpression privateFolder(QStringLiteral("[^\" ]*quillmark-pdf-[^\\\\]*"));
    QStringList seen;
    for (QString call : standin::Calls(logs_)) {
        if (call.startsWith("document method|get PrintOut") ||
            call.startsWith("document method|get Export") || call.startsWith("prints ") ||
            call.startsWith("exports "))
            seen << call.replace(privateFolder, QStringLiteral("PDF"));
    }
    calls.replaceInStrings("{a}", path("a.doc"))
        .replaceInStrings("{b}", path(QStringLiteral("子目录/b.docx")));
    QCOMPARE(seen, calls);

    // Each PDF at its document's place, with the pages asked for, and nothing else in the folder.
    QStringList expectedFiles, files;
    const QStringList names{"a.pdf", QStringLiteral("子目录/b.pdf")};
    for (int i = 0; i < names.size(); ++i) {
        if (pdfPages.at(i).isEmpty())
            continue;
        expectedFiles << names.at(i);
        const QByteArray bytes = ReadFile(out + names.at(i));
        QVERIFY(bytes.startsWith("%PDF-"));
        QStringList inside;
        auto it = QRegularExpression("stand-in page (\\d+) of").globalMatch(QString::fromLatin1(bytes));
        while (it.hasNext())
            inside << it.next().captured(1);
        QCOMPARE(inside.join(','), pdfPages.at(i));
    }
    QDirIterator walk(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext())
        files << QDir(out).relativeFilePath(walk.next());
    files.sort();
    QCOMPARE(files, expectedFiles);
}

QTEST_GUILESS_MAIN(WindowsAxClientTest)
#include "windows_axclient_test.moc"
