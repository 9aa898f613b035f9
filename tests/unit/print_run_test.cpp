// The print run against the fake word processor: label texts, calls made, failure list, viewer, abort.

#include "platform/filename.h"
#include "print/failurelist.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "tests/fakes/fakewordprocessor.h"
#include "tests/unit/filesizelimit.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(WordProcessor::Breakdown)

namespace {

const QString Enabled = QStringLiteral("<Set_pBtn_Enable>");
const QString FailureListName = QStringLiteral("无法设置或修改密码的文件目录.txt");

QString Pause(int ms)
{
    return QStringLiteral("延时:%1毫秒!").arg(ms);
}
QString Count(int n)
{
    return QStringLiteral("成功打印%1个word文件!").arg(n);
}
QStringList ServerStart()
{
    return {"create", "setVisible(false)", "setDisplayAlerts(false)", "queryDocuments"};
}
// Removes what the temporary folder's own clean-up cannot: trees beyond the system's path length, and names
// that are not UTF-8.
struct RemoveDeepTree
{
    QString path;
    ~RemoveDeepTree() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
};

QString NotWritten(const QString &listPath)
{
    return QStringLiteral(" 无法写入打印失败的文件列表（%1），列表未能显示。")
        .arg(QDir::toNativeSeparators(listPath));
}
// The window's part: the list is shown where the signal arrives.
void ConnectViewer(ThreadObject *worker, QObject *context)
{
    QObject::connect(worker, &ThreadObject::ShowFailureList, context,
                     [](const QString &path) { ThreadObject::LaunchViewer(path); });
}
QString OpenCall(const QString &path, const QString &password = QString())
{
    return QStringLiteral("open(%1,false,false,false,%2,%2,true)").arg(path, password);
}
// The printer is looked at again before each document.
QStringList Tried(const QString &path, const QString &password = QString())
{
    return {QStringLiteral("printerProblem"), OpenCall(path, password)};
}
QStringList Printed(const QString &path, const QString &password = QString())
{
    return Tried(path, password) +
           QStringList{QStringLiteral("printOut(%1)").arg(path), QStringLiteral("close(%1,false)").arg(path)};
}

} // namespace

class PrintRunTest : public QObject
{
    Q_OBJECT
public slots:
    void openFileUrl(const QUrl &url) { openedUrls_ << url; } // stands in for the desktop's viewer

private slots:
    void init();
    void cleanup();

    void secondOfThreeNeedsPassword_data();
    void secondOfThreeNeedsPassword();
    void skippedEntries_data();
    void skippedEntries();
    void passwordOfferedToEveryDocument();
    void failureListExactBytes();
    void unprintedDocumentNotCounted();
    void noWordProcessor_data();
    void noWordProcessor();
    void noDocumentCollection();
    void printerProblem();
    void printerProblemOnlyCheckedWhenThereIsADocument();
    void failureListCannotBeWritten();
    void settingsRewrittenAfterButtonComesBack();
    void defaultViewerGetsTheListAsLocalFile();
    void abortCutsPauseShort();
    void abortDuringOpen();
    void abortWhileOfficeStarts();
    void structuredProgress_data();
    void structuredProgress();
    void structuredProgressReportsAnAbort();
    void rawNamesListedWithTheirBytes_data();
    void rawNamesListedWithTheirBytes();
    void unreadableFolderListed();
    void failureListLinkNotFollowed();
    void failureListWriteErrorGivesNoViewer();
    void viewerShownBeforeTheButtonComesBack();
    void jobsFollowedWhileTheNextDocumentPrints();
    void countWaitsForTheJobs_data();
    void countWaitsForTheJobs();
    void pauseFollowsAPrintedJob_data();
    void pauseFollowsAPrintedJob();
    void printerStopsMidRun_data();
    void printerStopsMidRun();
    void abortWhileJobsAreFollowed_data();
    void abortWhileJobsAreFollowed();
    void unconfirmedJobs_data();
    void unconfirmedJobs();
    void abortDuringFolderScan();
    void officeBreaksDown_data();
    void officeBreaksDown();

private:
    QString file(const QString &relative); // creates it below the temporary root
    void startRun(int delayMs, const QString &password = QString());
    QStringList runHere(int delayMs = 0, const QString &password = QString());
    QByteArray failureList() const;

    std::unique_ptr<QTemporaryDir> tmp_;
    QString root_;
    std::shared_ptr<FakeOffice> office_;
    QStringList viewed_;
    QList<QUrl> openedUrls_;
    QStringList events_; // label texts and Enabled, in the order the window would see them
    QThread *thread_ = nullptr;
    ThreadObject *worker_ = nullptr;
};

void PrintRunTest::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    root_ = tmp_->path() + QStringLiteral("/docs/");
    QVERIFY(QDir().mkpath(root_));
    office_ = InstallFakeWordProcessor();
    viewed_.clear();
    openedUrls_.clear();
    events_.clear();
    ThreadObject::SetViewerLauncher([this](const QString &path) { viewed_ << path; });
}

void PrintRunTest::cleanup()
{
    if (thread_) {
        ThreadObject::AbortRuns(); // a failed check must not leave a run pausing for minutes
        thread_->quit();
        thread_->wait();
        delete worker_;
        delete thread_;
        worker_ = nullptr;
        thread_ = nullptr;
    }
    ThreadObject::SetViewerLauncher(nullptr);
    UninstallFakeWordProcessor();
    if (office_)
        QCOMPARE(office_->instancesAlive(), 0);
    office_.reset();
    tmp_.reset();
}

QString PrintRunTest::file(const QString &relative)
{
    const QString path = root_ + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return QDir::toNativeSeparators(path);
}

void PrintRunTest::startRun(int delayMs, const QString &password)
{
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password = password;
    PrintJobSettings.delayMs = delayMs;
    PrintJobSettings.failureListPath = root_ + FailureListName;
    thread_ = new QThread;
    worker_ = new ThreadObject;
    worker_->moveToThread(thread_);
    connect(worker_, &ThreadObject::ShowDisposingFile, this,
            [this](const QString &text) { events_ << text; });
    connect(worker_, &ThreadObject::Set_pBtn_Enable, this, [this] { events_ << Enabled; });
    ConnectViewer(worker_, this);
    thread_->start();
    QMetaObject::invokeMethod(worker_, "ReplaceExcelText", Qt::QueuedConnection);
}

// Runs on the test's own thread; the signals arrive directly.
QStringList PrintRunTest::runHere(int delayMs, const QString &password)
{
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password = password;
    PrintJobSettings.delayMs = delayMs;
    PrintJobSettings.failureListPath = root_ + FailureListName;
    ThreadObject worker;
    QStringList events;
    connect(&worker, &ThreadObject::ShowDisposingFile, [&events](const QString &text) { events << text; });
    connect(&worker, &ThreadObject::Set_pBtn_Enable, [&events] { events << Enabled; });
    ConnectViewer(&worker, this);
    worker.ReplaceExcelText();
    return events;
}

QByteArray PrintRunTest::failureList() const
{
    QFile f(root_ + FailureListName);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<none>");
    return f.readAll();
}

void PrintRunTest::secondOfThreeNeedsPassword_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("no delay") << 0;
    QTest::newRow("short delay") << 7;
}

void PrintRunTest::secondOfThreeNeedsPassword()
{
    QFETCH(int, delay);
    const QString p1 = file("1.doc"), p2 = file("2.docx"), p3 = file("3.docm");
    office_->setRequiredPassword(p2, "secret");

    const QStringList events = runHere(delay);

    QCOMPARE(events, (QStringList{p1, Pause(delay), p2, p3, Pause(delay), Count(2), Enabled}));
    QCOMPARE(office_->calls(), ServerStart() + Printed(p1) + Tried(p2) + Printed(p3) + QStringList{"quit"});
    QCOMPARE(failureList(), (p2 + "\n").toUtf8());
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
}

void PrintRunTest::skippedEntries_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("empty tree") << QStringList{} << QStringList{};
    QTest::newRow("no documents") << QStringList{"a.txt", "sub/b.pdf"} << QStringList{};
    QTest::newRow("extension case") << QStringList{"report.DOC", "a.Docx", "b.dot", "c.doc.bak", "d.docm"}
                                    << QStringList{"d.docm"};
    QTest::newRow("owner-file marker")
        << QStringList{"~$tmp/a.doc", "x/~$port.docx", "x/ok.docx"} << QStringList{"x/ok.docx"};
}

void PrintRunTest::skippedEntries()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, printed);
    for (const QString &entry : entries)
        file(entry);
    QStringList expectedEvents, expectedPrinted;
    for (const QString &entry : printed) {
        expectedEvents << QDir::toNativeSeparators(root_ + entry) << Pause(0);
        expectedPrinted << QDir::toNativeSeparators(root_ + entry);
    }
    expectedEvents << Count(printed.size()) << Enabled;

    QCOMPARE(runHere(), expectedEvents);
    QCOMPARE(office_->printedPaths(), expectedPrinted);
    // The server is started and quit even when there is nothing to print.
    QCOMPARE(office_->calls().mid(0, 4), ServerStart());
    QCOMPARE(office_->calls().last(), QStringLiteral("quit"));
    QCOMPARE(failureList(), QByteArray("<none>"));
    QVERIFY(viewed_.isEmpty());
}

void PrintRunTest::passwordOfferedToEveryDocument()
{
    const QString a = file("a.doc"), b = file("b.docx");
    office_->setRequiredPassword(b, "pw");
    QCOMPARE(runHere(0, "pw"), (QStringList{a, Pause(0), b, Pause(0), Count(2), Enabled}));
    QCOMPARE(office_->calls(), ServerStart() + Printed(a, "pw") + Printed(b, "pw") + QStringList{"quit"});
    QCOMPARE(failureList(), QByteArray("<none>"));
}

void PrintRunTest::failureListExactBytes()
{
    const QString bad1 = file("文档/二.doc"), good = file("文档/一.docx"), bad2 = file("z b.doc");
    office_->addFailingPath(bad1);
    office_->addFailingPath(bad2);
    runHere();
    // One line per document in the order tried (the folder's own files first), local 8-bit text (UTF-8
    // here), LF, nothing else.
    QCOMPARE(failureList(), (bad2 + "\n" + bad1 + "\n").toUtf8());
    QCOMPARE(office_->printedPaths(), QStringList{good});
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
}

void PrintRunTest::unprintedDocumentNotCounted()
{
    // A job that is known not to have printed is neither counted nor followed by a pause, and is listed.
    const QString a = file("a.doc"), b = file("b.doc");
    office_->addPrintFailingPath(a);
    QCOMPARE(runHere(), (QStringList{a, b, Pause(0), Count(1), Enabled}));
    QCOMPARE(office_->calls(), ServerStart() + Printed(a) + Printed(b) + QStringList{"quit"});
    QCOMPARE(failureList(), (a + "\n").toUtf8());
    QCOMPARE(viewed_.size(), 1);
}

void PrintRunTest::noWordProcessor_data()
{
    QTest::addColumn<bool>("installed");
    QTest::newRow("create fails") << true;
    QTest::newRow("no client at all") << false;
}

void PrintRunTest::noWordProcessor()
{
    QFETCH(bool, installed);
    file("a.doc");
    office_->setCreateFails(true);
    if (!installed)
        UninstallFakeWordProcessor();
    QCOMPARE(runHere(),
             (QStringList{Count(0) + " 未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。",
                          Enabled}));
    QCOMPARE(office_->calls(), (installed ? QStringList{"create"} : QStringList{}));
    QCOMPARE(failureList(), QByteArray("<none>"));
    QVERIFY(viewed_.isEmpty());
}

void PrintRunTest::noDocumentCollection()
{
    file("a.doc");
    office_->setDocumentsFail(true);
    QCOMPARE(runHere(), (QStringList{Count(0) + " 文字处理软件无法打开文档，未能打印。", Enabled}));
    QCOMPARE(office_->calls(), ServerStart() + QStringList{"quit"});
    QCOMPARE(failureList(), QByteArray("<none>"));
}

void PrintRunTest::printerProblem()
{
    file("a.doc");
    file("b.doc");
    const QString problem = QStringLiteral("没有默认打印机。");
    office_->setPrinterProblem(problem);
    QCOMPARE(runHere(), (QStringList{Count(0) + " " + problem, Enabled}));
    QCOMPARE(office_->calls(), (ServerStart() + QStringList{"printerProblem", "quit"}));
    // Documents that were never tried are not reported as unopenable.
    QCOMPARE(failureList(), QByteArray("<none>"));
    QVERIFY(viewed_.isEmpty());
}

void PrintRunTest::printerProblemOnlyCheckedWhenThereIsADocument()
{
    file("a.txt");
    office_->setPrinterProblem(QStringLiteral("没有默认打印机。"));
    QCOMPARE(runHere(), (QStringList{Count(0), Enabled}));
    QCOMPARE(office_->calls(), ServerStart() + QStringList{"quit"});
}

void PrintRunTest::failureListCannotBeWritten()
{
    const QString a = file("a.doc");
    office_->addFailingPath(a);
    PrintJobSettings.failureListPath = root_ + "missing/" + FailureListName;
    ThreadObject worker;
    QStringList events;
    connect(&worker, &ThreadObject::ShowDisposingFile, [&events](const QString &text) { events << text; });
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password.clear();
    PrintJobSettings.delayMs = 0;
    ConnectViewer(&worker, this);
    worker.ReplaceExcelText();
    // The label says so: the user would otherwise look for a list that is not there.
    QCOMPARE(events, (QStringList{a, Count(0) + NotWritten(PrintJobSettings.failureListPath)}));
    QVERIFY(!QFileInfo::exists(PrintJobSettings.failureListPath));
    QVERIFY(viewed_.isEmpty()); // no viewer on a file that is not there
}

void PrintRunTest::settingsRewrittenAfterButtonComesBack()
{
    // The window may take a new click (and rewrite the settings) as soon as the button is enabled again;
    // the finishing run still writes its own failure list.
    const QString a = file("a.doc");
    office_->addFailingPath(a);
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password.clear();
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = root_ + FailureListName;
    const QString elsewhere = tmp_->path() + QStringLiteral("/other.txt");
    ThreadObject worker;
    connect(&worker, &ThreadObject::Set_pBtn_Enable,
            [&elsewhere] { PrintJobSettings.failureListPath = elsewhere; });
    ConnectViewer(&worker, this);
    worker.ReplaceExcelText();
    QCOMPARE(failureList(), (a + "\n").toUtf8());
    QVERIFY(!QFileInfo::exists(elsewhere));
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
}

void PrintRunTest::defaultViewerGetsTheListAsLocalFile()
{
    root_ = tmp_->path() + QStringLiteral("/带 空格 的目录/");
    const QString a = file("a.doc");
    office_->addFailingPath(a);
    ThreadObject::SetViewerLauncher(nullptr);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openFileUrl");
    runHere();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(openedUrls_, QList<QUrl>{QUrl::fromLocalFile(root_ + FailureListName)});
    QCOMPARE(failureList(), (a + "\n").toUtf8());
}

void PrintRunTest::abortCutsPauseShort()
{
    const QString a = file("a.doc"), b = file("b.doc");
    office_->addFailingPath(b);
    startRun(120000);
    QTRY_COMPARE(events_, (QStringList{a, Pause(120000)}));
    ThreadObject::AbortRuns();
    // Without the abort the run would pause for two minutes; the wait ends long before that.
    QTRY_COMPARE_WITH_TIMEOUT(events_.size(), 4, 30000);
    QCOMPARE(events_.mid(2), (QStringList{Count(1) + " 打印已中止。", Enabled}));
    QCOMPARE(office_->calls(), (ServerStart() + Printed(a) + QStringList{"abort", "quit"}));
    QCOMPARE(failureList(), QByteArray("<none>")); // b was never tried

    // The abort belonged to that run only: the next one prints normally.
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
    worker_ = nullptr;
    thread_ = nullptr;
    QCOMPARE(runHere(), (QStringList{a, Pause(0), b, Count(1), Enabled}));
    QCOMPARE(failureList(), (b + "\n").toUtf8());
}

void PrintRunTest::abortDuringOpen()
{
    const QString a = file("a.doc");
    file("b.doc");
    office_->setOpenDelayMs(120000);
    startRun(0);
    QTRY_VERIFY(!office_->calls().isEmpty() && office_->calls().last() == OpenCall(a));
    ThreadObject::AbortRuns();
    QTRY_COMPARE_WITH_TIMEOUT(events_.size(), 3, 30000);
    QCOMPARE(events_, (QStringList{a, Count(0) + " 打印已中止。", Enabled}));
    QCOMPARE(office_->calls(), (ServerStart() + Tried(a) + QStringList{"abort", "quit"}));
    // The document cut off by the abort did not fail to open: no failure list, no viewer.
    QCOMPARE(failureList(), QByteArray("<none>"));
    QVERIFY(viewed_.isEmpty());
}

void PrintRunTest::abortWhileOfficeStarts()
{
    file("a.doc");
    office_->setCreateDelayMs(120000);
    startRun(0);
    QTRY_COMPARE(office_->calls(), QStringList{"create"});
    ThreadObject::AbortRuns();
    QTRY_COMPARE_WITH_TIMEOUT(events_, (QStringList{Count(0) + " 打印已中止。", Enabled}), 30000);
    // An office that never came up is not called again.
    QCOMPARE(office_->calls(), (QStringList{"create", "abort"}));
}

// The signals for callers without a window: numbering over documents only, counts and the reason.
void PrintRunTest::structuredProgress_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("failing");      // never open
    QTest::addColumn<QStringList>("printFailing"); // open, but the job is lost
    QTest::addColumn<QString>("printerProblem");
    QTest::addColumn<QStringList>("started"); // "number/total relative path"
    QTest::addColumn<QString>("finished");    // "printed failed problem"

    QTest::newRow("mixed tree") << QStringList{"a.doc",      "notes.txt",  "~$a.doc",
                                               "sub/b.docx", "sub/c.docm", "z.DOC"}
                                << QStringList{"sub/b.docx"} << QStringList{"sub/c.docm"} << QString()
                                << QStringList{"1/3 a.doc", "2/3 sub/b.docx", "3/3 sub/c.docm"}
                                << QString("1 2 ");
    QTest::newRow("no documents") << QStringList{"a.txt"} << QStringList{} << QStringList{} << QString()
                                  << QStringList{} << QString("0 0 ");
    QTest::newRow("printer problem") << QStringList{"a.doc", "b.doc"} << QStringList{} << QStringList{}
                                     << QString("没有默认打印机。") << QStringList{}
                                     << QString("0 0 没有默认打印机。");
}

void PrintRunTest::structuredProgress()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, failing);
    QFETCH(QStringList, printFailing);
    QFETCH(QString, printerProblem);
    QFETCH(QStringList, started);
    QFETCH(QString, finished);
    for (const QString &entry : entries)
        file(entry);
    for (const QString &entry : failing)
        office_->addFailingPath(QDir::toNativeSeparators(root_ + entry));
    for (const QString &entry : printFailing)
        office_->addPrintFailingPath(QDir::toNativeSeparators(root_ + entry));
    if (!printerProblem.isEmpty())
        office_->setPrinterProblem(printerProblem);

    PrintJobSettings = {root_, QString(), 0, root_ + FailureListName};
    ThreadObject worker;
    QStringList seenStarted, seenFinished;
    connect(&worker, &ThreadObject::DocumentStarted, [&](int number, int total, const QString &path) {
        seenStarted
            << QStringLiteral("%1/%2 %3").arg(number).arg(total).arg(QDir(root_).relativeFilePath(path));
    });
    connect(&worker, &ThreadObject::RunFinished, [&](int printed, int failed, const QString &problem) {
        seenFinished << QStringLiteral("%1 %2 %3").arg(printed).arg(failed).arg(problem);
    });
    worker.ReplaceExcelText();
    QCOMPARE(seenStarted, started);
    QCOMPARE(seenFinished, QStringList{finished});
}

void PrintRunTest::structuredProgressReportsAnAbort()
{
    const QString p1 = file("1.doc");
    file("2.doc");
    startRun(60000);
    QStringList finished;
    connect(worker_, &ThreadObject::RunFinished, this, [&](int printed, int failed, const QString &problem) {
        finished << QStringLiteral("%1 %2 %3").arg(printed).arg(failed).arg(problem);
    });
    QTRY_COMPARE(events_.size(), 2); // the first document and its pause
    ThreadObject::AbortRuns();
    QTRY_COMPARE(finished, QStringList{"1 0 打印已中止。"});
}

void PrintRunTest::rawNamesListedWithTheirBytes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("line"); // the name as the list writes it
    QTest::newRow("stray 0xFF") << QByteArray("bad\xff.doc") << QByteArray("bad\xff.doc");
    QTest::newRow("GBK") << QByteArray("\xce\xc4\xb5\xb5.doc") << QByteArray("\xce\xc4\xb5\xb5.doc");
    QTest::newRow("folder not in UTF-8") << QByteArray("sub\xfe/a.doc") << QByteArray("sub\xfe/a.doc");
    // One path per line holds: a line break in a name is shown by its sign (U+2424, U+240D).
    QTest::newRow("newline") << QByteArray("two\nlines.doc") << QByteArray("two\xe2\x90\xa4lines.doc");
    QTest::newRow("carriage return") << QByteArray("cr\r.doc") << QByteArray("cr\xe2\x90\x8d.doc");
}

void PrintRunTest::rawNamesListedWithTheirBytes()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, line);
    const QByteArray root = EncodeFileName(root_);
    const int slash = name.lastIndexOf('/');
    if (slash >= 0)
        QVERIFY(mkdir((root + name.left(slash)).constData(), 0700) == 0);
    const int fd = open((root + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    QVERIFY(fd >= 0);
    close(fd);
    const RemoveDeepTree removal{root_}; // the temporary folder's own clean-up does not reach such names
    const QString path = DecodeFileName(root + name);
    office_->addFailingPath(path);
    const QString good = file("0.doc"); // first in name order

    // The label shows the name in the window's characters; the office gets the same path back.
    QCOMPARE(runHere(), (QStringList{good, Pause(0), path, Count(1), Enabled}));
    QVERIFY(office_->calls().contains(OpenCall(path)));
    QCOMPARE(failureList(), root + line + "\n");
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
}

void PrintRunTest::unreadableFolderListed()
{
    // Below the deepest path the system opens nothing can be listed; the list names the folder where the
    // scan stopped, ending in a separator, ahead of the documents that were tried.
    const QString a = file("a.doc"), b = file("b.doc");
    office_->addFailingPath(b);
    const RemoveDeepTree removal{root_};
    int dirFd = open(EncodeFileName(root_).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(dirFd >= 0);
    const QByteArray level(250, 'd');
    for (int depth = 0; depth < 20; ++depth) {
        QVERIFY(mkdirat(dirFd, level.constData(), 0700) == 0);
        const int next = openat(dirFd, level.constData(), O_RDONLY | O_DIRECTORY);
        close(dirFd);
        QVERIFY(next >= 0);
        dirFd = next;
    }
    close(dirFd);

    QCOMPARE(runHere(), (QStringList{a, Pause(0), b, Count(1), Enabled}));
    const QList<QByteArray> lines = failureList().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith(EncodeFileName(root_) + level + '/' + level),
             lines[0].left(300).constData());
    QVERIFY(lines[0].endsWith(level + '/'));
    QCOMPARE(lines[1], b.toUtf8());
    QCOMPARE(lines[2], QByteArray());
    QCOMPARE(viewed_.size(), 1);

    // A run that a printer problem stops before any document lists nothing, the folder included.
    QVERIFY(QFile::remove(root_ + FailureListName));
    office_->setPrinterProblem(QStringLiteral("没有默认打印机。"));
    QCOMPARE(runHere(), (QStringList{Count(0) + QStringLiteral(" 没有默认打印机。"), Enabled}));
    QCOMPARE(failureList(), QByteArray("<none>"));
}

void PrintRunTest::failureListLinkNotFollowed()
{
    // A link planted at the list's name while the run goes on: the run replaces the link, and the file it
    // pointed to keeps its bytes.
    const QString a = file("a.doc");
    office_->addFailingPath(a);
    const QString precious = tmp_->path() + QStringLiteral("/precious.txt");
    {
        QFile f(precious);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    QVERIFY(QFile::link(precious, root_ + FailureListName));
    QCOMPARE(runHere(), (QStringList{a, Count(0), Enabled}));
    QVERIFY(!QFileInfo(root_ + FailureListName).isSymLink());
    QCOMPARE(failureList(), (a + "\n").toUtf8());
    QFile f(precious);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
}

void PrintRunTest::failureListWriteErrorGivesNoViewer()
{
    // The list cannot be written whole (here a file-size limit cuts the write): no half list, no viewer,
    // and the label tells.
    const QString a = file(QString(200, QLatin1Char('a')) + ".doc");
    const QString b = file(QString(200, QLatin1Char('b')) + ".doc");
    office_->addFailingPath(a);
    office_->addFailingPath(b);
    QStringList events;
    {
        FileSizeLimit limit(300);
        QVERIFY(limit.active());
        events = runHere();
    }

    QCOMPARE(events, (QStringList{a, b, Count(0) + NotWritten(root_ + FailureListName), Enabled}));
    QCOMPARE(failureList(), QByteArray("<none>"));
    QVERIFY(viewed_.isEmpty());
    QCOMPARE(QDir(root_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

void PrintRunTest::viewerShownBeforeTheButtonComesBack()
{
    // A click after the button is back deletes the list: the viewer must have been asked for before that.
    const QString a = file("a.doc");
    office_->addFailingPath(a);
    ThreadObject::SetViewerLauncher([this](const QString &) { events_ << QStringLiteral("<viewer>"); });
    startRun(0);
    QTRY_COMPARE(events_, (QStringList{a, Count(0), "<viewer>", Enabled}));
}

void PrintRunTest::jobsFollowedWhileTheNextDocumentPrints()
{
    const QString a = file("a.doc"), b = file("b.doc"), c = file("c.doc");
    office_->setFollowsJobs(true);
    office_->setJobsHeld(true);
    startRun(0);
    // Every document is printed while the first job is still in the queue...
    QTRY_VERIFY(office_->calls().contains(QStringLiteral("close(%1,false)").arg(c)));
    QCOMPARE(office_->printedPaths(), QStringList());
    // ...but none counts, and the run does not end, before its job is done.
    QTest::qWait(50);
    QCOMPARE(events_, (QStringList{a, Pause(0), b, Pause(0), c, Pause(0)}));
    office_->setJobsHeld(false);
    QTRY_COMPARE(events_.size(), 8);
    QCOMPARE(events_.mid(6), (QStringList{Count(3), Enabled}));
    QCOMPARE(office_->printedPaths(), (QStringList{a, b, c}));
    QCOMPARE(office_->calls(), ServerStart() + Printed(a) + Printed(b) + Printed(c) + QStringList{"quit"});
}

void PrintRunTest::countWaitsForTheJobs_data()
{
    QTest::addColumn<QStringList>("jobFails");  // queued, then not printed
    QTest::addColumn<QStringList>("openFails"); // never opened
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("listed"); // the failure list, in the order tried
    QTest::newRow("all print") << QStringList{} << QStringList{} << 3 << QStringList{};
    QTest::newRow("first job fails after the last did not open")
        << QStringList{"1.doc"} << QStringList{"3.doc"} << 1 << QStringList{"1.doc", "3.doc"};
    QTest::newRow("last job fails") << QStringList{"3.doc"} << QStringList{"1.doc"} << 1
                                    << QStringList{"1.doc", "3.doc"};
    QTest::newRow("every job fails") << QStringList{"1.doc", "2.doc", "3.doc"} << QStringList{} << 0
                                     << QStringList{"1.doc", "2.doc", "3.doc"};
}

// The results of jobs come in after later documents were tried: only completed jobs count, and the
// failure list keeps the order in which the documents were tried.
void PrintRunTest::countWaitsForTheJobs()
{
    QFETCH(QStringList, jobFails);
    QFETCH(QStringList, openFails);
    QFETCH(int, count);
    QFETCH(QStringList, listed);
    const QStringList names{"1.doc", "2.doc", "3.doc"};
    for (const QString &name : names)
        file(name);
    auto native = [this](const QString &name) { return QDir::toNativeSeparators(root_ + name); };
    for (const QString &name : jobFails)
        office_->addJobFailingPath(native(name));
    for (const QString &name : openFails)
        office_->addFailingPath(native(name));
    office_->setFollowsJobs(true);
    office_->setJobsHeld(true);
    startRun(0);
    QTRY_VERIFY(office_->calls().contains(OpenCall(native("3.doc"))));
    QTest::qWait(50);
    QVERIFY(!events_.contains(Enabled));
    office_->setJobsHeld(false);
    QTRY_VERIFY(events_.contains(Enabled));
    QCOMPARE(events_.mid(events_.size() - 2), (QStringList{Count(count), Enabled}));
    QByteArray expected;
    for (const QString &name : listed)
        expected += (native(name) + "\n").toUtf8();
    QTRY_COMPARE(failureList(), listed.isEmpty() ? QByteArray("<none>") : expected);
}

void PrintRunTest::pauseFollowsAPrintedJob_data()
{
    QTest::addColumn<bool>("firstJobFails");
    QTest::newRow("job printed") << false;
    QTest::newRow("job failed") << true;
}

// With a pause the documents are spaced out: the pause comes once the job is done, and only when it
// printed.
void PrintRunTest::pauseFollowsAPrintedJob()
{
    QFETCH(bool, firstJobFails);
    const QString a = file("a.doc"), b = file("b.doc");
    if (firstJobFails)
        office_->addJobFailingPath(a);
    office_->setFollowsJobs(true);
    office_->setJobsHeld(true);
    startRun(5);
    QTRY_VERIFY(office_->calls().contains(QStringLiteral("close(%1,false)").arg(a)));
    QTest::qWait(100);
    QCOMPARE(events_, QStringList{a});
    QVERIFY(!office_->calls().contains(OpenCall(b))); // b waits for a's job
    office_->setJobsHeld(false);
    QTRY_VERIFY(events_.contains(Enabled));
    if (firstJobFails)
        QCOMPARE(events_, (QStringList{a, b, Pause(5), Count(1), Enabled}));
    else
        QCOMPARE(events_, (QStringList{a, Pause(5), b, Pause(5), Count(2), Enabled}));
}

void PrintRunTest::printerStopsMidRun_data()
{
    QTest::addColumn<bool>("jobsWaiting"); // the jobs were still in the queue when it stopped
    QTest::newRow("jobs already printed") << false;
    QTest::newRow("jobs waiting in the queue") << true;
}

// The printer stops after the second document: the run ends at once with the reason; the documents not
// tried are not listed, the jobs cancelled in the stopped queue are.
void PrintRunTest::printerStopsMidRun()
{
    QFETCH(bool, jobsWaiting);
    const QString a = file("a.doc"), b = file("b.doc"), c = file("c.doc");
    file("d.doc");
    const QString problem = QStringLiteral("默认打印机“capture”已停止,无法打印!");
    office_->setFollowsJobs(true);
    office_->setJobsHeld(jobsWaiting);
    office_->setPrinterStopsAfter(b, problem);
    startRun(0);
    QTRY_VERIFY(events_.contains(Enabled));
    QCOMPARE(events_.last(), Enabled);
    QCOMPARE(events_.at(events_.size() - 2), Count(jobsWaiting ? 0 : 2) + " " + problem);
    QVERIFY(!events_.contains(c));
    QVERIFY(!office_->calls().contains(OpenCall(c)));
    QTRY_COMPARE(failureList(), jobsWaiting ? (a + "\n" + b + "\n").toUtf8() : QByteArray("<none>"));
}

void PrintRunTest::abortWhileJobsAreFollowed_data()
{
    QTest::addColumn<bool>("inPrintCall"); // else: both jobs queued and followed
    QTest::newRow("jobs followed") << false;
    QTest::newRow("during the print call") << true;
}

// The program ends while jobs are still followed, or while a document is being sent: the run ends without
// waiting, counts none of them, and lists each as unconfirmed, as the report has them; the queue keeps them.
void PrintRunTest::abortWhileJobsAreFollowed()
{
    QFETCH(bool, inPrintCall);
    const QString a = file("a.doc"), b = file("b.doc");
    office_->setFollowsJobs(true);
    office_->setJobsHeld(true);
    if (inPrintCall)
        office_->setPrintDelayMs(120000);
    startRun(0);
    QTRY_VERIFY(office_->calls().contains(inPrintCall ? QStringLiteral("printOut(%1)").arg(a)
                                                      : QStringLiteral("close(%1,false)").arg(b)));
    ThreadObject::AbortRuns();
    QTRY_VERIFY_WITH_TIMEOUT(events_.contains(Enabled), 30000);
    const int cut = inPrintCall ? 1 : 2;
    QCOMPARE(events_.mid(events_.size() - 2),
             (QStringList{Count(0) + QStringLiteral(
                                         " 另有%1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“["
                                         "未确认]”）。 打印已中止。")
                                         .arg(cut),
                          Enabled}));
    QVERIFY(office_->calls().contains(QStringLiteral("abort")));
    QCOMPARE(office_->calls().last(), QStringLiteral("quit"));
    const QString marker = FailureListUnconfirmedMarker();
    QCOMPARE(failureList(),
             (inPrintCall ? marker + a + "\n" : marker + a + "\n" + marker + b + "\n").toUtf8());
}

void PrintRunTest::unconfirmedJobs_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<QStringList>("unconfirmed"); // queued, but the job cannot be followed to its end
    QTest::addColumn<QStringList>("jobFails");
    QTest::addColumn<QStringList>("openFails");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("listed"); // "?" in front: marked unconfirmed
    QTest::newRow("one of four") << 0 << QStringList{"2.doc"} << QStringList{} << QStringList{} << 3
                                 << QStringList{"?2.doc"};
    QTest::newRow("among failures, in the order tried")
        << 0 << QStringList{"1.doc", "3.doc"} << QStringList{"2.doc"} << QStringList{"4.doc"} << 0
        << QStringList{"?1.doc", "2.doc", "?3.doc", "4.doc"};
    QTest::newRow("with a pause") << 5 << QStringList{"1.doc"} << QStringList{} << QStringList{} << 3
                                  << QStringList{"?1.doc"};
}

// A document whose job could not be followed to its end is neither counted nor a failure: the label
// says how many, the failure list names each with a marker, and the window's callers hear of each.
void PrintRunTest::unconfirmedJobs()
{
    QFETCH(int, delay);
    QFETCH(QStringList, unconfirmed);
    QFETCH(QStringList, jobFails);
    QFETCH(QStringList, openFails);
    QFETCH(int, count);
    QFETCH(QStringList, listed);
    const QStringList names{"1.doc", "2.doc", "3.doc", "4.doc"};
    for (const QString &name : names)
        file(name);
    auto native = [this](const QString &name) { return QDir::toNativeSeparators(root_ + name); };
    for (const QString &name : unconfirmed)
        office_->addJobUnconfirmedPath(native(name));
    for (const QString &name : jobFails)
        office_->addJobFailingPath(native(name));
    for (const QString &name : openFails)
        office_->addFailingPath(native(name));
    office_->setFollowsJobs(true);

    PrintJobSettings = {root_, QString(), delay, root_ + FailureListName};
    ThreadObject worker;
    QStringList events, reported, finished;
    connect(&worker, &ThreadObject::ShowDisposingFile, [&](const QString &text) { events << text; });
    connect(&worker, &ThreadObject::DocumentUnconfirmed, [&](int number, const QString &path) {
        reported << QStringLiteral("%1 %2").arg(number).arg(path);
    });
    connect(&worker, &ThreadObject::RunFinished, [&](int printed, int failed, const QString &problem) {
        finished << QStringLiteral("%1 %2 %3").arg(printed).arg(failed).arg(problem);
    });
    ConnectViewer(&worker, this);
    worker.ReplaceExcelText();

    QString note =
        QStringLiteral(" 另有%1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“[未确认]”）。");
    QCOMPARE(events.last(), Count(count) + note.arg(unconfirmed.size()));
    QCOMPARE(finished,
             QStringList{QStringLiteral("%1 %2 ").arg(count).arg(jobFails.size() + openFails.size())});
    QStringList expectedReported;
    for (const QString &name : unconfirmed)
        expectedReported << QStringLiteral("%1 %2").arg(names.indexOf(name) + 1).arg(native(name));
    QCOMPARE(reported, expectedReported);
    QByteArray expected;
    for (const QString &line : listed)
        expected += (line.startsWith('?') ? QStringLiteral("[未确认] ") + native(line.mid(1)) : native(line))
                        .toUtf8() +
                    "\n";
    QCOMPARE(failureList(), expected);
    QCOMPARE(viewed_, QStringList{root_ + FailureListName});
    // A pause follows only the documents seen printed.
    if (delay > 0)
        QCOMPARE(events.count(Pause(delay)), count);
}

// The program ends while the folder tree is still being read (a huge or slow share): the scan stops at the
// next folder, and the run ends without starting the office.
void PrintRunTest::abortDuringFolderScan()
{
    for (int i = 0; i < 40; ++i)
        file(QStringLiteral("d%1/a.doc").arg(i, 2, 10, QLatin1Char('0')));
    std::atomic<int> folders{0};
    ThreadObject::SetFolderScanHook([&folders](const QString &) {
        ++folders;
        QThread::msleep(100);
    });
    startRun(0);
    QTRY_VERIFY(folders >= 3);
    ThreadObject::AbortRuns();
    QTRY_VERIFY_WITH_TIMEOUT(events_.contains(Enabled), 10000);
    ThreadObject::SetFolderScanHook(nullptr);
    QVERIFY2(folders < 20, qPrintable(QString::number(folders)));
    QCOMPARE(events_, (QStringList{Count(0) + " 打印已中止。", Enabled}));
    QCOMPARE(office_->calls(), QStringList());
    QCOMPARE(failureList(), QByteArray("<none>"));
}

void PrintRunTest::officeBreaksDown_data()
{
    using Breakdown = WordProcessor::Breakdown;
    const QString gone = QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。");
    const QString silent = QStringLiteral("文字处理软件没有响应，其余文档未能处理。");
    QTest::addColumn<Breakdown>("kind");
    QTest::addColumn<bool>("atPrint");
    QTest::addColumn<QString>("outcomeOfB");
    QTest::addColumn<QString>("finalText");
    QTest::addColumn<QString>("listed"); // the failure list's line for b
    // (No fresh office at open: print_system_test, with the real office swapped out mid-run.)
    QTest::newRow("no fresh office at print")
        << Breakdown::Unavailable << true << "printer-error" << Count(1) + " " + gone << "%1";
    QTest::newRow("no answer at open")
        << Breakdown::NotAnswering << false << "timed-out" << Count(1) + " " + silent << "%1";
    QTest::newRow("no answer at print")
        << Breakdown::NotAnswering << true << "unconfirmed"
        << Count(1) + " 另有1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“[未确认]”）。 " +
               silent
        << "[未确认] %1";
}

// A word processor that breaks down over b ends the run there: c is never tried, let alone called damaged.
void PrintRunTest::officeBreaksDown()
{
    QFETCH(WordProcessor::Breakdown, kind);
    QFETCH(bool, atPrint);
    QFETCH(QString, outcomeOfB);
    QFETCH(QString, finalText);
    QFETCH(QString, listed);
    const QString a = file("a.doc"), b = file("b.doc"), c = file("c.doc");
    office_->setBreakdownAt(b, kind, atPrint);
    QHash<QString, QString> outcomes;
    PrintJobSettings.sourcePath = root_;
    PrintJobSettings.password.clear();
    PrintJobSettings.delayMs = 0;
    PrintJobSettings.failureListPath = root_ + FailureListName;
    ThreadObject worker;
    QStringList events;
    connect(&worker, &ThreadObject::ShowDisposingFile, [&events](const QString &text) { events << text; });
    connect(&worker, &ThreadObject::DocumentFinished,
            [&outcomes](const DocumentOutcome &result) { outcomes.insert(result.path, result.outcome); });
    worker.ReplaceExcelText();
    QCOMPARE(events, (QStringList{a, Pause(0), b, finalText}));
    QCOMPARE(outcomes.value(b), outcomeOfB);
    QCOMPARE(outcomes.value(c), QStringLiteral("not-tried"));
    QVERIFY(!office_->calls().contains(OpenCall(c)));
    QCOMPARE(office_->calls().last(), QStringLiteral("quit"));
    QCOMPARE(failureList(), (listed.arg(b) + "\n").toUtf8());
}

QTEST_GUILESS_MAIN(PrintRunTest)
#include "print_run_test.moc"
