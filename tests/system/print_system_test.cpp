// The real print run: LibreOffice over UNO printing into a private CUPS server whose queue keeps every job
// as a PDF, read back with pdftotext.

#include "platform/filename.h"
#include "print/libreoffice/cupsqueue.h"
#include "print/libreoffice/libreofficewordprocessor.h"
#include "print/nativewordprocessor.h"
#include "print/printjobsettings.h"
#include "print/threadobject.h"
#include "tests/system/print_docmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cups/cups.h>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

const QString FailureListName = QStringLiteral("无法设置或修改密码的文件目录.txt");
const QString Password = QStringLiteral("Quill-2026pw"); // Word 97 encryption takes at most 15 characters
const QString EncryptedPassword = QStringLiteral("Password1234_");

QString Count(int n)
{
    return QStringLiteral("成功打印%1个word文件!").arg(n);
}

QString Unconfirmed(int n)
{
    return QStringLiteral(" 另有%1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“[未确认]”）。")
        .arg(n);
}

QString Marker(const QString &id)
{
    return QStringLiteral("QMARK-%1").arg(id);
}

// soffice.bin processes whose parent is this test: the offices the client started.
QList<int> OfficeChildren()
{
    QList<int> pids;
    const QString self = QString::number(getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(stat.readAll());
        const int open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < 0)
            continue;
        const QString comm = text.mid(open + 1, close - open - 1);
        const QStringList rest = text.mid(close + 2).split(' ');
        // A killed office stays a zombie only until the client reaps it; a zombie is not left running.
        if (comm == QLatin1String("soffice.bin") && rest.size() > 1 && rest[1] == self && rest[0] != "Z")
            pids << pid;
    }
    return pids;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool CopyFile(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).path());
    QFile::remove(to);
    return QFile::copy(from, to);
}

// A private CUPS scheduler with one default queue that keeps each job as a PDF.
class PrintServer
{
public:
    ~PrintServer() { stop(); }

    bool start(QString *error)
    {
        if (!tmp_.isValid()) {
            *error = "no temporary folder";
            return false;
        }
        // The scheduler's helpers run as the user lp: they must be able to reach the server's folder.
        QFile::setPermissions(tmp_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther);
        dir_ = tmp_.filePath("server");
        out_ = tmp_.filePath("out");
        QProcess script;
        script.start(Script(), {"start", dir_, out_});
        if (!script.waitForFinished(30000) || script.exitCode() != 0) {
            *error = "printserver.sh start failed: " + QString::fromLocal8Bit(script.readAllStandardError());
            return false;
        }
        const QString line = QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
        if (!line.startsWith("CUPS_SERVER=")) {
            *error = "unexpected output: " + line;
            return false;
        }
        socket_ = line.mid(int(strlen("CUPS_SERVER=")));
        running_ = true;
        use();
        return true;
    }

    // Points this process (and every office it starts from now on) at this server.
    void use() const { qputenv("CUPS_SERVER", socket_.toLocal8Bit()); }

    void stop()
    {
        if (!running_)
            return;
        running_ = false;
        QProcess::execute(Script(), {"stop", dir_});
    }

    bool command(const QString &what) const { return QProcess::execute(Script(), {what, dir_}) == 0; }

    // Stops the scheduler and starts it again on the same folder after `pause`, as a package update does:
    // the queue and its jobs are kept.
    bool restartAfter(std::chrono::milliseconds pause)
    {
        if (QProcess::execute(Script(), {"stop", dir_}) != 0)
            return false;
        std::this_thread::sleep_for(pause);
        QProcess script;
        script.start(Script(), {"start", dir_, out_});
        return script.waitForFinished(30000) && script.exitCode() == 0;
    }
    QString socket() const { return socket_; }
    bool waitIdle() const { return QProcess::execute(Script(), {"wait", dir_, "60"}) == 0; }

    QString outDir() const { return out_; }
    QString dir() const { return dir_; }
    QStringList captured() const { return QDir(out_).entryList({"job-*.pdf"}, QDir::Files, QDir::Name); }

    // The text of one captured job, pages separated by form feeds.
    QString text(const QString &job) const
    {
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-enc", "UTF-8", QDir(out_).filePath(job), "-"});
        pdftotext.waitForFinished(30000);
        return QString::fromUtf8(pdftotext.readAllStandardOutput());
    }

    // The text of one page of a captured job.
    QString pageText(const QString &job, int page) const
    {
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-enc", "UTF-8", "-f", QString::number(page), "-l",
                                      QString::number(page), QDir(out_).filePath(job), "-"});
        pdftotext.waitForFinished(60000);
        return QString::fromUtf8(pdftotext.readAllStandardOutput());
    }

    int pages(const QString &job) const
    {
        QProcess pdfinfo;
        pdfinfo.start("pdfinfo", {QDir(out_).filePath(job)});
        pdfinfo.waitForFinished(60000);
        const QString info = QString::fromUtf8(pdfinfo.readAllStandardOutput());
        const QRegularExpressionMatch m = QRegularExpression("Pages:\\s+(\\d+)").match(info);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

    // Jobs the scheduler has not finished with.
    QStringList pendingJobs() const
    {
        QProcess lpstat;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CUPS_SERVER", socket_);
        lpstat.setProcessEnvironment(env);
        lpstat.start("lpstat", {"-o"});
        lpstat.waitForFinished(30000);
        return QString::fromLocal8Bit(lpstat.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    static QString Script() { return QStringLiteral(QUILLMARK_SOURCE_DIR "/scripts/printserver.sh"); }

private:
    QTemporaryDir tmp_;
    QString dir_, out_, socket_;
    bool running_ = false;
};

struct RunResult
{
    QStringList labels;        // every label text, in order
    QVector<qint64> labelTime; // when each was emitted, in ms since the run started
    bool enabled = false;      // Set_pBtn_Enable arrived
    QByteArray failureList;    // empty when there is none
    bool failureListExists = false;
    QStringList viewed;
    QStringList newJobs; // captured PDFs of this run
    QStringList texts;   // their texts
};

} // namespace

class PrintSystemTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void clientOpens_data();
    void clientOpens();
    void treePrintedInOrder();
    void passwords_data();
    void passwords();
    void officeKilledDuringRun_data();
    void officeKilledDuringRun();
    void officeHangs_data();
    void officeHangs();
    void printerUnavailable_data();
    void printerUnavailable();
    void jobAbortedByPrinter();
    void queueStopsDuringRun();
    void abortMidRun_data();
    void abortMidRun();
    void officeMissing();
    void officeDiesWithProgram();
    void rawByteNamesPrinted();
    void longDocumentPrintsWhole();
    void quitWhileAJobIsHeld();
    void rawByteNames_data();
    void rawByteNames();
    void incompleteJobIsCancelled_data();
    void incompleteJobIsCancelled();
    void passwordTriesKeepTheOffice_data();
    void passwordTriesKeepTheOffice();
    void colleaguePrintsBetweenDocuments_data();
    void colleaguePrintsBetweenDocuments();
    void schedulerOutage_data();
    void schedulerOutage();
    void heldPastTheLimit();
    void jobsForgottenAtOnce();
    void watchdogCutOffAfterTheJobShows();
    void abortDuringFolderScan();
    void oddNamesMatchTheirOwnJob_data();
    void oddNamesMatchTheirOwnJob();
    void officeRenewedOnMemory();
    void slowPrinterSetsThePace_data();
    void slowPrinterSetsThePace();
    void nonAsciiNamesUnderCLocale_data();
    void nonAsciiNamesUnderCLocale();
    void replacementOfficeCannotStart();
    void keptProfileNeverShared();
    void longJobHistory();

private:
    QString tpl(const QString &name) const { return templates_.filePath(name); }
    QString doc(const QString &id, const QString &ext) const { return tpl(id + "." + ext); }
    RunResult run(const QString &folder, int delayMs, const QString &password,
                  const std::function<void(const QString &)> &onLabel = nullptr);
    QString encrypted(const QString &name) const;

    QTemporaryDir private_;
    QTemporaryDir templates_;
    PrintServer server_;
    QMutex viewedMutex_;
    QStringList viewed_;
};

void PrintSystemTest::initTestCase()
{
    if (!QFileInfo(LibreOfficeWordProcessor::DefaultProgramDir() + "/soffice.bin").isExecutable())
        QSKIP("LibreOffice is not installed");
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    // Temporary files and the kept office profile in folders of this test: what an office leaves behind
    // shows there, and the user's own cache is not touched.
    QVERIFY(private_.isValid());
    QVERIFY(QDir().mkpath(private_.filePath("tmp")) && QDir().mkpath(private_.filePath("cache")));
    // Print servers made in it must stay reachable by the scheduler's helpers and by another user.
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                      QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(private_.path(), open) &&
            QFile::setPermissions(private_.filePath("tmp"), open));
    qputenv("TMPDIR", QFile::encodeName(private_.filePath("tmp")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(private_.filePath("cache")));
    QString error;
    QVERIFY2(server_.start(&error), qPrintable(error));

    // One-page documents, each with its own marker, and one of two pages.
    const QStringList ids{"A", "B", "C", "D", "E", "F", "G", "H", "P"};
    for (const QString &id : ids)
        QVERIFY(WriteFile(tpl(id + ".txt"), (Marker(id) + " 中文内容 " + id + "\n").toUtf8()));
    QByteArray twoPages;
    for (int line = 1; line <= 90; ++line)
        twoPages += "第" + QByteArray::number(line) + "行 " + (line == 1 ? "QMARK-TWO-FIRST" : "") +
                    (line == 90 ? "QMARK-TWO-LAST" : "") + "\n";
    QVERIFY(WriteFile(tpl("TWO.txt"), twoPages));
    QVERIFY2(docmaker::Convert(templates_.path(), "docx", &error), qPrintable(error));
    QVERIFY2(docmaker::Convert(templates_.path(), "doc", &error), qPrintable(error));
    QVERIFY2(docmaker::Convert(templates_.path(), "docm:MS Word 2007 XML VBA", &error), qPrintable(error));
    QVERIFY2(docmaker::SavePasswordProtected({{doc("P", "docx"), tpl("P-pw.doc"), Password}}, &error),
             qPrintable(error));
    for (const QString &id : ids)
        QVERIFY2(QFileInfo(doc(id, "docx")).size() > 0 && QFileInfo(doc(id, "doc")).size() > 0,
                 qPrintable(id));
    // The protected file must really be encrypted: its text is not in it in the clear.
    QFile protectedDoc(tpl("P-pw.doc"));
    QVERIFY(protectedDoc.open(QIODevice::ReadOnly));
    const QByteArray protectedBytes = protectedDoc.readAll();
    QVERIFY(!protectedBytes.contains("QMARK-P"));
    QVERIFY(!protectedBytes.contains(QString("QMARK-P").toUtf8().toHex()));

    InstallNativeWordProcessor();
    ThreadObject::SetViewerLauncher([this](const QString &path) {
        QMutexLocker lock(&viewedMutex_);
        viewed_ << path;
    });
}

void PrintSystemTest::cleanupTestCase()
{
    ThreadObject::SetViewerLauncher(nullptr);
    server_.stop();
}

void PrintSystemTest::init()
{
    server_.use();
    qunsetenv("QUILLMARK_OFFICE_PROGRAM");
}

void PrintSystemTest::cleanup()
{
    QVERIFY2(OfficeChildren().isEmpty(), "an office process of this test is still running");
    // Nor a profile or a pipe of one: their names carry this process's id.
    const QString pid = QString::number(getpid());
    QCOMPARE(
        QDir(QDir::tempPath()).entryList({"quillmark-office-" + pid + "-*"}, QDir::AllEntries | QDir::System),
        QStringList());
    QCOMPARE(QDir("/tmp").entryList({QStringLiteral("OSL_PIPE_%1_quillmark_%2_*").arg(getuid()).arg(pid)},
                                    QDir::AllEntries | QDir::System),
             QStringList());
    // A killed office's temporary files (a spooled copy of a document among them) go with its profile.
    QCOMPARE(QDir(QDir::tempPath()).entryList({"lu*.tmp"}, QDir::AllEntries | QDir::Hidden), QStringList());
}

QString PrintSystemTest::encrypted(const QString &name) const
{
    return QStringLiteral(QUILLMARK_SOURCE_DIR "/../shared/testdata/office-encrypted/") + name;
}

RunResult PrintSystemTest::run(const QString &folder, int delayMs, const QString &password,
                               const std::function<void(const QString &)> &onLabel)
{
    RunResult result;
    const QStringList before = server_.captured();
    {
        QMutexLocker lock(&viewedMutex_);
        viewed_.clear();
    }
    PrintJobSettings.sourcePath = folder;
    PrintJobSettings.password = password;
    PrintJobSettings.delayMs = delayMs;
    PrintJobSettings.failureListPath = folder + FailureListName;
    QFile::remove(PrintJobSettings.failureListPath);

    QThread thread;
    ThreadObject worker;
    worker.moveToThread(&thread);
    QMutex mutex;
    QElapsedTimer clock;
    clock.start();
    // Direct: recorded at the moment the run emits, on its own thread.
    connect(
        &worker, &ThreadObject::ShowDisposingFile, &worker,
        [&](const QString &text) {
            {
                QMutexLocker lock(&mutex);
                result.labels << text;
                result.labelTime << clock.elapsed();
            }
            if (onLabel)
                onLabel(text);
        },
        Qt::DirectConnection);
    // The window's part: here on the run's thread, since no window takes part.
    connect(
        &worker, &ThreadObject::ShowFailureList, &worker,
        [](const QString &path) { ThreadObject::LaunchViewer(path); }, Qt::DirectConnection);
    QSignalSpy enabled(&worker, &ThreadObject::Set_pBtn_Enable);
    thread.start();
    QMetaObject::invokeMethod(&worker, "ReplaceExcelText", Qt::QueuedConnection);
    enabled.wait(300000);
    result.enabled = enabled.count() == 1;
    // The failure list is written after the button signal: let the slot end first.
    thread.quit();
    thread.wait();

    server_.waitIdle();
    for (const QString &job : server_.captured()) {
        if (!before.contains(job)) {
            result.newJobs << job;
            result.texts << server_.text(job);
        }
    }
    QFile list(PrintJobSettings.failureListPath);
    result.failureListExists = list.exists();
    if (list.open(QIODevice::ReadOnly))
        result.failureList = list.readAll();
    QMutexLocker lock(&viewedMutex_);
    result.viewed = viewed_;
    return result;
}

// The client on its own, as the print run calls it: what opens, what does not, and what gets printed.
void PrintSystemTest::clientOpens_data()
{
    QTest::addColumn<QString>("source"); // template name, or "!bytes" written as they are
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("marker"); // expected in the printed text; empty: not checked

    QTest::newRow("docx") << "A.docx"
                          << "a.docx"
                          << "" << true << "QMARK-A";
    QTest::newRow("doc") << "B.doc"
                         << "b.doc"
                         << "" << true << "QMARK-B";
    QTest::newRow("docx with a password offered") << "C.docx"
                                                  << "c.docx" << Password << true << "QMARK-C";
    QTest::newRow("doc saved as .docx") << "D.doc"
                                        << "d.docx"
                                        << "" << true << "QMARK-D";
    QTest::newRow("docx saved as .doc") << "E.docx"
                                        << "e.doc"
                                        << "" << true << "QMARK-E";
    QTest::newRow("Chinese name with spaces") << "F.docx"
                                              << "中文 名字 文档.docx"
                                              << "" << true << "QMARK-F";
    QTest::newRow("empty docx") << "!"
                                << "empty.docx"
                                << "" << false << "";
    QTest::newRow("empty doc") << "!"
                               << "empty.doc"
                               << "" << false << "";
    QTest::newRow("text as docx") << "!plain text, not a document\n"
                                  << "text.docx"
                                  << "" << false << "";
    QTest::newRow("text as doc") << "!plain text, not a document\n"
                                 << "text.doc"
                                 << "" << false << "";
    QTest::newRow("zip header only") << QString("!PK\x03\x04garbage") << "zip.docx"
                                     << "" << false << "";
    QTest::newRow("missing file") << ""
                                  << "missing.docx"
                                  << "" << false << "";
    QTest::newRow("protected, right password") << "P-pw.doc"
                                               << "p.doc" << Password << true << "QMARK-P";
    QTest::newRow("protected, wrong password") << "P-pw.doc"
                                               << "p.doc"
                                               << "wrong" << false << "";
    QTest::newRow("protected, no password") << "P-pw.doc"
                                            << "p.doc"
                                            << "" << false << "";
}

void PrintSystemTest::clientOpens()
{
    QFETCH(QString, source);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, opens);
    QFETCH(QString, marker);

    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (source.startsWith('!'))
        QVERIFY(WriteFile(path, source.mid(1).toLatin1()));
    else if (!source.isEmpty())
        QVERIFY(CopyFile(tpl(source), path));
    const QByteArray original = QFile::exists(path) ? [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }()
                                                  : QByteArray();

    const QStringList before = server_.captured();
    {
        LibreOfficeWordProcessor office;
        QVERIFY(office.create());
        QVERIFY(office.queryDocuments());
        QCOMPARE(office.printerProblem(), QString());
        const WordProcessor::Document document =
            office.open(path, false, false, false, password, password, true);
        QCOMPARE(document != WordProcessor::NoDocument, opens);
        if (opens) {
            QVERIFY(office.printOut(document));
            office.close(document, false);
        }
        office.quit();
    }
    QVERIFY(server_.waitIdle());
    QStringList jobs = server_.captured();
    for (const QString &job : before)
        jobs.removeAll(job);
    QCOMPARE(jobs.size(), opens ? 1 : 0);
    if (!marker.isEmpty())
        QVERIFY2(server_.text(jobs[0]).contains(marker), qPrintable(server_.text(jobs[0])));
    // Read-only: the user's file is left as it was, and no lock file is left beside it.
    if (!original.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), original);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             source.isEmpty() ? QStringList() : QStringList{name});
}

void PrintSystemTest::treePrintedInOrder()
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/打印 目录/";
    struct Entry
    {
        QString path;
        QString source; // template, or "!bytes"
    };
    const QVector<Entry> entries{
        {"2 乙 报告.doc", "B.doc"},
        {"1 甲 文档.docx", "A.docx"},
        {".0 隐藏.docx", "C.docx"},              // hidden file: printed
        {"~$1 甲 文档.docx", "A.docx"},          // Word's lock file: skipped
        {"3 UPPER.DOCX", "G.docx"},              // extension not in lower case: skipped
        {"3 notes.txt", "!not a document"},      // not a document: skipped
        {"4 空.docx", "!"},                      // empty: not printed, listed
        {"5 坏.docx", "!PK\x03\x04 broken zip"}, // damaged: not printed, listed
        {"1 子 目录/1 两页.docx", "TWO.docx"},
        {"1 子 目录/2 深 层/d.doc", "D.doc"},
        {"2 第二/e.docx", "E.docx"},
        {"2 第二/f.docm", "F.docm"},
        {".隐藏目录/h.docx", "H.docx"}, // hidden folder: skipped
        {"~$锁/f.docx", "F.docx"},      // "~$" in a folder name: skipped
    };
    for (const Entry &e : entries) {
        if (e.source.startsWith('!'))
            QVERIFY(WriteFile(root + e.path, e.source.mid(1).toLatin1()));
        else
            QVERIFY(CopyFile(tpl(e.source), root + e.path));
    }

    const int delay = 400;
    const RunResult r = run(root, delay, QString());

    const QString pause = QStringLiteral("延时:%1毫秒!").arg(delay);
    const QStringList expectedLabels{root + ".0 隐藏.docx",
                                     pause,
                                     root + "1 甲 文档.docx",
                                     pause,
                                     root + "2 乙 报告.doc",
                                     pause,
                                     root + "4 空.docx",
                                     root + "5 坏.docx",
                                     root + "1 子 目录/1 两页.docx",
                                     pause,
                                     root + "1 子 目录/2 深 层/d.doc",
                                     pause,
                                     root + "2 第二/e.docx",
                                     pause,
                                     root + "2 第二/f.docm",
                                     pause,
                                     Count(7)};
    QCOMPARE(r.labels, expectedLabels);
    QVERIFY(r.enabled);

    // Printed in that order, each job the whole document.
    QCOMPARE(r.newJobs.size(), 7);
    const QStringList markers{"QMARK-C", "QMARK-A", "QMARK-B", "QMARK-TWO-FIRST",
                              "QMARK-D", "QMARK-E", "QMARK-F"};
    for (int i = 0; i < markers.size(); ++i)
        QVERIFY2(r.texts[i].contains(markers[i]), qPrintable(QString::number(i) + ": " + r.texts[i]));
    const QStringList pages = r.texts[3].split('\f', Qt::SkipEmptyParts);
    QCOMPARE(pages.size(), 2);
    QVERIFY(pages[0].contains("QMARK-TWO-FIRST") && !pages[0].contains("QMARK-TWO-LAST"));
    QVERIFY(pages[1].contains("QMARK-TWO-LAST"));
    for (const QString &text : r.texts)
        QVERIFY2(text.split('\f', Qt::SkipEmptyParts).size() == 1 || text.contains("QMARK-TWO"),
                 qPrintable(text));

    // The failure list: one native path per line, in the order tried, LF line ends, UTF-8.
    const QByteArray expectedList = (root + "4 空.docx\n" + root + "5 坏.docx\n").toUtf8();
    QCOMPARE(r.failureList, expectedList);
    QCOMPARE(r.viewed, QStringList{root + FailureListName});

    // The pause after each printed document lasts at least the delay.
    QVector<qint64> pauses;
    for (int i = 0; i < r.labels.size(); ++i)
        if (r.labels[i] == pause)
            pauses << r.labelTime[i];
    QCOMPARE(pauses.size(), 7);
    for (int i = 1; i < pauses.size(); ++i)
        QVERIFY2(pauses[i] - pauses[i - 1] >= delay, qPrintable(QString::number(pauses[i] - pauses[i - 1])));
}

void PrintSystemTest::passwords_data()
{
    QTest::addColumn<QString>("file"); // template name, or "enc:" + a file of the encrypted test data
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("printed");

    QTest::newRow("own .doc, right password") << "P-pw.doc" << Password << true;
    QTest::newRow("own .doc, wrong password") << "P-pw.doc"
                                              << "Quill-2026PW" << false;
    QTest::newRow("own .doc, no password") << "P-pw.doc"
                                           << "" << false;
    QTest::newRow("Agile .docx, right") << "enc:example_password.docx" << EncryptedPassword << true;
    QTest::newRow("Agile .docx, wrong") << "enc:example_password.docx"
                                        << "password1234_" << false;
    QTest::newRow("Agile .docx, none") << "enc:example_password.docx"
                                       << "" << false;
    QTest::newRow("Standard .docx, right")
        << "enc:ecma376standard_password.docx" << EncryptedPassword << true;
    QTest::newRow("Standard .docx, wrong") << "enc:ecma376standard_password.docx"
                                           << "x" << false;
    QTest::newRow("RC4 .doc, right") << "enc:rc4cryptoapi_password.doc" << EncryptedPassword << true;
    QTest::newRow("RC4 .doc, wrong") << "enc:rc4cryptoapi_password.doc"
                                     << "Password1234" << false;
}

// The same password is offered to every document: a document without one still prints beside it.
void PrintSystemTest::passwords()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(bool, printed);

    QString source = tpl(file);
    if (file.startsWith("enc:")) {
        source = encrypted(file.mid(4));
        if (!QFileInfo::exists(source))
            QSKIP("the encrypted test documents are not here");
    }
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    const QString target = root + "1 protected." + QFileInfo(source).suffix();
    QVERIFY(CopyFile(source, target));
    QVERIFY(CopyFile(doc("A", "docx"), root + "2 plain.docx"));

    const RunResult r = run(root, 0, password);
    QCOMPARE(r.labels.last(), Count(printed ? 2 : 1));
    QCOMPARE(r.newJobs.size(), printed ? 2 : 1);
    QVERIFY(r.texts.last().contains("QMARK-A"));
    if (printed) {
        QVERIFY2(!r.texts.first().trimmed().isEmpty(), "the protected document printed blank");
        if (file == "P-pw.doc")
            QVERIFY(r.texts.first().contains("QMARK-P"));
        QVERIFY(!r.failureListExists);
        QVERIFY(r.viewed.isEmpty());
    } else {
        QCOMPARE(r.failureList, (target + "\n").toUtf8());
        QCOMPARE(r.viewed, QStringList{root + FailureListName});
    }
}

void PrintSystemTest::officeKilledDuringRun_data()
{
    // After the label of the third document: at once (between documents), and later, when the kill lands
    // in the load, the print or the close, depending on the machine.
    QTest::addColumn<int>("afterMs");
    for (int ms : {0, 20, 60, 150})
        QTest::addRow("%d ms", ms) << ms;
}

// The office dies in the middle of a run (SIGKILL): a fresh office takes over.
void PrintSystemTest::officeKilledDuringRun()
{
    QFETCH(int, afterMs);
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    const QStringList ids{"A", "B", "C", "D", "E", "F"};
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY(CopyFile(doc(ids[i], i % 2 ? "doc" : "docx"),
                         root + QString::number(i) + "." + (i % 2 ? "doc" : "docx")));

    QList<int> killed;
    std::thread killer;
    const QString third = root + "2.docx";
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label != third)
            return;
        // Just after the run starts on the third document: while it loads.
        killer = std::thread([&killed, afterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            for (int pid : OfficeChildren()) {
                killed << pid;
                kill(pid, SIGKILL);
            }
        });
    });
    if (killer.joinable())
        killer.join();
    QCOMPARE(killed.size(), 1);
    QVERIFY(r.enabled);

    // Nothing is lost: a load or a print that the office's death cut short is made again on a fresh office,
    // unless its job had already reached the queue. Every document is printed once, in order.
    QCOMPARE(r.failureList, QByteArray());
    QCOMPARE(r.labels.last(), Count(ids.size()));
    QCOMPARE(r.texts.size(), ids.size());
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY2(r.texts[i].contains(Marker(ids[i])),
                 qPrintable(ids[i] + " missing; printed: " + r.texts.join('|')));
    QVERIFY(!OfficeChildren().contains(killed.first()));
}

// The office stops answering (SIGSTOP): it is killed at a deadline and the run goes on with a fresh office.
void PrintSystemTest::officeHangs_data()
{
    QTest::addColumn<int>("afterMs");
    QTest::newRow("between documents") << 0;
    QTest::newRow("in the middle of one") << 25;
}

void PrintSystemTest::officeHangs()
{
    QFETCH(int, afterMs);
    // The watchdog's limit scaled down: a stopped office makes no progress at all.
    qputenv("QUILLMARK_OFFICE_STALL_SECONDS", "3");
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "0.docx"));
    QVERIFY(CopyFile(doc("B", "docx"), root + "1.docx"));
    QVERIFY(CopyFile(doc("C", "doc"), root + "2.doc"));

    QList<int> stopped;
    std::thread stopper;
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label != root + "1.docx")
            return;
        auto stop = [&stopped] {
            for (int pid : OfficeChildren()) {
                stopped << pid;
                kill(pid, SIGSTOP);
            }
        };
        if (afterMs == 0) {
            stop(); // before the run goes on
            return;
        }
        stopper = std::thread([stop, afterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            stop();
        });
    });
    if (stopper.joinable())
        stopper.join();
    qunsetenv("QUILLMARK_OFFICE_STALL_SECONDS");
    QCOMPARE(stopped.size(), 1);
    QVERIFY(r.enabled);
    // The office stops as the run turns to the second document: the check before its load notices (the
    // office does not answer) and replaces the office, or the load itself is cut off and the document
    // listed. Either way the others print on a fresh office.
    const bool listed = !r.failureList.isEmpty();
    if (listed)
        QCOMPARE(r.failureList, (root + "1.docx\n").toUtf8());
    QCOMPARE(r.labels.last(), Count(listed ? 2 : 3));
    QCOMPARE(r.newJobs.size(), listed ? 2 : 3);
    QVERIFY(r.texts.first().contains("QMARK-A"));
    QVERIFY(r.texts.last().contains("QMARK-C"));
    QVERIFY(!OfficeChildren().contains(stopped.first()));
}

void PrintSystemTest::printerUnavailable_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("stopped") << "disable" << QStringLiteral("默认打印机“capture”已停止,无法打印!");
    QTest::newRow("rejecting") << "reject" << QStringLiteral("默认打印机“capture”不接受打印任务,无法打印!");
    QTest::newRow("no default") << "remove" << QStringLiteral("没有默认打印机,无法打印!");
    QTest::newRow("no print server") << "stop" << QStringLiteral("无法连接打印服务,无法打印!");
}

// Nothing is printed, nothing is listed as failed, and the label says why.
void PrintSystemTest::printerUnavailable()
{
    QFETCH(QString, command);
    QFETCH(QString, message);

    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command(command));

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    QVERIFY(CopyFile(doc("B", "doc"), root + "b.doc"));
    const RunResult r = run(root, 0, QString());
    QCOMPARE(r.labels, QStringList{Count(0) + " " + message});
    QVERIFY(r.enabled);
    QVERIFY(!r.failureListExists);

    // Nothing waits in the queue to come out once the printer is back.
    if (command == "disable")
        QVERIFY(other.command("enable"));
    if (command == "reject")
        QVERIFY(other.command("accept"));
    if (command != "stop")
        QVERIFY(other.waitIdle());
    QCOMPARE(other.captured(), QStringList());
    other.stop();
    server_.use();
}

// The printer takes the jobs but fails them (its backend cannot write): they are not counted as printed.
void PrintSystemTest::jobAbortedByPrinter()
{
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(QDir(other.outDir()).removeRecursively());

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    QVERIFY(CopyFile(doc("B", "doc"), root + "b.doc"));
    const RunResult r = run(root, 0, QString());
    QCOMPARE(r.labels.last(), Count(0));
    QCOMPARE(r.failureList, (root + "a.docx\n" + root + "b.doc\n").toUtf8());
    QCOMPARE(r.viewed, QStringList{root + FailureListName});
    other.stop();
    server_.use();
}

// The printer is stopped after the run has started: that is noticed at once, the run stops and says why,
// the job left waiting is cancelled and its document listed (so that it cannot come out later when
// nobody expects it), and the documents not tried are not listed.
void PrintSystemTest::queueStopsDuringRun()
{
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    QVERIFY(CopyFile(doc("B", "docx"), root + "b.docx"));
    QVERIFY(CopyFile(doc("C", "docx"), root + "c.docx"));
    QVERIFY(CopyFile(doc("D", "docx"), root + "d.docx"));
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label == root + "b.docx")
            other.command("disable");
    });
    QCOMPARE(r.labels.last(), Count(1) + " " + QStringLiteral("默认打印机“capture”已停止,无法打印!"));
    QCOMPARE(r.failureList, (root + "b.docx\n").toUtf8());
    QVERIFY(!r.labels.contains(root + "d.docx"));
    // A run that waited for b's job instead would have listed it as unconfirmed after ten minutes.

    QVERIFY(other.command("enable"));
    QVERIFY(other.waitIdle());
    const QStringList jobs = other.captured();
    QCOMPARE(jobs.size(), 1);
    QVERIFY(other.text(jobs.first()).contains("QMARK-A"));
    other.stop();
    server_.use();
}

void PrintSystemTest::abortMidRun_data()
{
    QTest::addColumn<bool>("duringPause"); // else right after a document's label, while it loads
    QTest::newRow("during the pause") << true;
    QTest::newRow("while a document loads") << false;
}

// The program ends mid-run: the run ends soon, says so, and leaves no office behind.
void PrintSystemTest::abortMidRun()
{
    QFETCH(bool, duringPause);
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    for (int i = 0; i < 4; ++i)
        QVERIFY(CopyFile(doc("A", "docx"), root + QString::number(i) + ".docx"));

    const QString trigger = duringPause ? QStringLiteral("延时:60000毫秒!") : root + "1.docx";
    bool aborted = false;
    // A long pause to be cut short; a short one before the document that is cut off while it loads.
    const RunResult r = run(root, duringPause ? 60000 : 300, QString(), [&](const QString &label) {
        if (label == trigger && !aborted) {
            aborted = true;
            ThreadObject::AbortRuns();
        }
    });
    QVERIFY(aborted);
    QVERIFY(r.enabled);
    QVERIFY2(r.labels.last().startsWith(Count(1)), qPrintable(r.labels.last()));
    QVERIFY(r.labels.last().contains(QStringLiteral("打印已中止")));
    QCOMPARE(r.newJobs.size(), 1);
    QVERIFY(r.viewed.isEmpty());
    QVERIFY(OfficeChildren().isEmpty());
}

// Without LibreOffice the client says so at once, and the run ends with a count of 0.
void PrintSystemTest::officeMissing()
{
    qputenv("QUILLMARK_OFFICE_PROGRAM", "/nonexistent/libreoffice/program");
    {
        LibreOfficeWordProcessor office;
        QVERIFY(!office.create());
        QVERIFY(!office.queryDocuments());
        QCOMPARE(office.open(doc("A", "docx"), false, false, false, "", "", true), WordProcessor::NoDocument);
        office.quit();
    }

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    const RunResult r = run(root, 0, QString());
    QVERIFY(r.enabled);
    QVERIFY2(r.labels.last().startsWith(Count(0)), qPrintable(r.labels.last()));
    QVERIFY(r.labels.last().size() > Count(0).size()); // and says why
    QVERIFY(r.newJobs.isEmpty());
    qunsetenv("QUILLMARK_OFFICE_PROGRAM");
}

namespace {
const char HoldOfficeVariable[] = "QUILLMARK_PRINT_TEST_HOLD_OFFICE";

// The child of officeDiesWithProgram: starts an office, tells its process id, and waits to be killed.
int HoldOffice()
{
    LibreOfficeWordProcessor office;
    if (!office.create())
        return 1;
    std::printf("%d\n", office.officePid());
    std::fflush(stdout);
    for (;;)
        pause();
}

// State of a process: its /proc stat letter, or 0 when it is gone.
char ProcessState(int pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() ? text[close + 2] : 0;
}
} // namespace

// The program is killed outright while its office runs: the office goes with it.
void PrintSystemTest::officeDiesWithProgram()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(HoldOfficeVariable, "1");
    // Without a cache folder its office takes a fresh profile in the temporary folder, where what the
    // killed program leaves is looked for.
    env.remove("XDG_CACHE_HOME");
    env.insert("HOME", "");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForReadyRead(60000));
    const int office = child.readLine().trimmed().toInt();
    QVERIFY(office > 0);
    // Should the office outlive the check, it is not left running.
    struct Cleanup
    {
        int pid;
        ~Cleanup()
        {
            if (ProcessState(pid) != 0 && ProcessState(pid) != 'Z')
                kill(pid, SIGKILL);
        }
    } cleanup{office};
    QVERIFY(ProcessState(office) != 0 && ProcessState(office) != 'Z');
    const QString pid = QString::number(child.processId());
    kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(ProcessState(office) == 0 || ProcessState(office) == 'Z', 10000);

    // What the killed program could not remove, the next start of an office does.
    const QStringList profiles{"quillmark-office-" + pid + "-*"};
    const QStringList pipes{QStringLiteral("OSL_PIPE_%1_quillmark_%2_*").arg(getuid()).arg(pid)};
    QCOMPARE(QDir(QDir::tempPath()).entryList(profiles, QDir::AllEntries | QDir::System).size(), 1);
    QCOMPARE(QDir("/tmp").entryList(pipes, QDir::AllEntries | QDir::System).size(), 1);
    {
        LibreOfficeWordProcessor next;
        QVERIFY(next.create());
        next.quit();
    }
    QCOMPARE(QDir(QDir::tempPath()).entryList(profiles, QDir::AllEntries | QDir::System), QStringList());
    QCOMPARE(QDir("/tmp").entryList(pipes, QDir::AllEntries | QDir::System), QStringList());
}

// Names as a Linux file system may hold them: a stray byte, GBK from a zip made on a Chinese Windows, a
// line break. Each is printed through a URL of its own bytes; one that does not open is listed with them.
void PrintSystemTest::rawByteNamesPrinted()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    struct Removal // the temporary folder's own clean-up does not reach names that are not UTF-8
    {
        QString path;
        ~Removal() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
    } removal{tmp.path()};
    const QByteArray root = QFile::encodeName(tmp.path()) + "/names/";
    QVERIFY(QDir().mkpath(QFile::decodeName(root)));
    struct Entry
    {
        QByteArray name;
        QString source; // template, or "!bytes"
    };
    const QVector<Entry> entries{
        {"bad\xff.docx", "A.docx"},
        {"two\nlines.doc", "B.doc"},
        {"\xce\xc4\xb5\xb5 GBK.docx", "C.docx"},                    // 文档 in GBK
        {QByteArray("\xd6\xd0").repeated(100) + ".docx", "D.docx"}, // 中 ×100
        {"\xff\xe5\x9d\x8f broken.docx", "!PK\x03\x04 broken zip"}, // 0xFF, then 坏 in UTF-8
    };
    for (const Entry &e : entries) {
        QByteArray content;
        if (e.source.startsWith('!')) {
            content = e.source.mid(1).toLatin1();
        } else {
            QFile f(tpl(e.source));
            QVERIFY(f.open(QIODevice::ReadOnly));
            content = f.readAll();
        }
        const int fd = open((root + e.name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(write(fd, content.constData(), static_cast<size_t>(content.size())),
                 ssize_t(content.size()));
        close(fd);
    }

    const RunResult r = run(DecodeFileName(root), 0, QString());

    const QString pause = QStringLiteral("延时:0毫秒!");
    const QStringList expectedLabels{
        DecodeFileName(root + entries[0].name), pause,   DecodeFileName(root + entries[1].name), pause,
        DecodeFileName(root + entries[2].name), pause,   DecodeFileName(root + entries[3].name), pause,
        DecodeFileName(root + entries[4].name), Count(4)};
    QCOMPARE(r.labels, expectedLabels);
    QCOMPARE(r.newJobs.size(), 4);
    const QStringList markers{"QMARK-A", "QMARK-B", "QMARK-C", "QMARK-D"};
    for (int i = 0; i < markers.size(); ++i)
        QVERIFY2(r.texts[i].contains(markers[i]), qPrintable(QString::number(i) + ": " + r.texts[i]));
    QCOMPARE(r.failureList, root + entries[4].name + "\n");
    QCOMPARE(r.viewed, QStringList{DecodeFileName(root) + FailureListName});
    // The links the office loaded them through are gone with the client's private folders.
    QCOMPARE(QDir(QDir::tempPath())
                 .entryList({QStringLiteral("quillmark-office-%1-*").arg(getpid())},
                            QDir::AllEntries | QDir::System),
             QStringList());
}

// A document of 3000 pages takes the office about a minute of steady work to print: it is not taken
// for a hang, and every page comes out.
void PrintSystemTest::longDocumentPrintsWhole()
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    const QString script = QStringLiteral(R"(
import sys, zipfile
pages = 3000
body = []
for n in range(1, pages + 1):
    mark = ' QMARK-LONG-FIRST' if n == 1 else (' QMARK-LONG-LAST' if n == pages else '')
    brk = '<w:pPr><w:pageBreakBefore/></w:pPr>' if n > 1 else ''
    body.append('<w:p>%s<w:r><w:t>Page %d%s</w:t></w:r></w:p>' % (brk, n, mark))
W = 'http://schemas.openxmlformats.org/wordprocessingml/2006/main'
doc = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document xmlns:w="%s"><w:body>%s</w:body></w:document>' % (W, ''.join(body))
types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/>'
         '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', types)
    z.writestr('_rels/.rels', rels)
    z.writestr('word/document.xml', doc)
)");
    QVERIFY(QProcess::execute("python3", {"-c", script, root + "long.docx"}) == 0);
    const RunResult r = run(root, 0, QString());
    QVERIFY(r.enabled);
    QCOMPARE(r.failureList, QByteArray());
    QCOMPARE(r.labels.last(), Count(1));
    QCOMPARE(r.newJobs.size(), 1);
    QCOMPARE(server_.pages(r.newJobs.first()), 3000);
    QVERIFY(server_.pageText(r.newJobs.first(), 1).contains("QMARK-LONG-FIRST"));
    QVERIFY(server_.pageText(r.newJobs.first(), 3000).contains("QMARK-LONG-LAST"));
}

// The program ends while a job waits in the queue: the run ends at once, without waiting for the job and
// without cancelling it, and no office is left.
void PrintSystemTest::quitWhileAJobIsHeld()
{
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command("hold"));

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    QVERIFY(CopyFile(doc("B", "docx"), root + "b.docx"));
    std::thread quitter;
    std::atomic<bool> aborted{false};
    std::atomic<bool> endedAfterAbort{false};
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label.startsWith(Count(0)) && aborted)
            endedAfterAbort = true;
        if (label != QStringLiteral("延时:0毫秒!") || quitter.joinable())
            return;
        // Once both jobs wait in the held queue, as the run waits for them, the program ends.
        quitter = std::thread([&] {
            for (int i = 0; i < 600 && other.pendingJobs().size() < 2; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            aborted = true;
            ThreadObject::AbortRuns();
        });
    });
    if (quitter.joinable())
        quitter.join();
    QVERIFY(r.enabled);
    // A run that waited for the held jobs would sit out the ten minutes a motionless queue is given,
    // past the test's own limit.
    QVERIFY(endedAfterAbort);
    // Both are listed as unconfirmed: whether they print is up to the queue.
    QVERIFY2(r.labels.last() == Count(0) + Unconfirmed(2) + " 打印已中止。", qPrintable(r.labels.last()));
    QCOMPARE(r.failureList, QStringLiteral("[未确认] %1a.docx\n[未确认] %1b.docx\n").arg(root).toUtf8());
    QVERIFY(OfficeChildren().isEmpty());
    // The jobs stay in the queue and print once it lets them.
    QCOMPARE(other.pendingJobs().size(), 2);
    QVERIFY(other.command("release"));
    QVERIFY(other.waitIdle());
    QCOMPARE(other.captured().size(), 2);
    other.stop();
    server_.use();
}

void PrintSystemTest::rawByteNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("stray 0xff byte") << QByteArray("bad\xff.docx");
    QTest::newRow("GBK") << QByteArray("\xd6\xd0\xce\xc4\xce\xc4\xb5\xb5.docx"); // 中文文档 in GBK
    QTest::newRow("newline") << QByteArray("two\nlines.docx");
    QTest::newRow("percent and hash") << QByteArray("100%#1 ?.docx");
}

// Names as the file system holds them, not UTF-8 among them: the client loads each and prints it.
void PrintSystemTest::rawByteNames()
{
    QFETCH(QByteArray, name);
    QTemporaryDir dir;
    struct Removal // the temporary folder's own clean-up does not reach names that are not UTF-8
    {
        QString path;
        ~Removal() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
    } removal{dir.path()};
    const QByteArray path = QFile::encodeName(dir.path()) + "/" + name;
    QFile source(doc("E", "docx"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);

    const QStringList before = server_.captured();
    {
        LibreOfficeWordProcessor office;
        QVERIFY(office.create());
        QCOMPARE(office.printerProblem(), QString());
        const WordProcessor::Document document =
            office.open(DecodeFileName(path), false, false, false, QString(), QString(), true);
        QVERIFY(document != WordProcessor::NoDocument);
        QVERIFY(office.printOut(document));
        office.close(document, false);
        const auto results = office.takeJobResults(document);
        QCOMPARE(results.size(), size_t(1));
        QVERIFY(results.front().printed);
        office.quit();
    }
    QVERIFY(server_.waitIdle());
    QStringList jobs = server_.captured();
    for (const QString &job : before)
        jobs.removeAll(job);
    QCOMPARE(jobs.size(), 1);
    QVERIFY(server_.text(jobs.first()).contains(Marker("E")));
}

// A job whose sender went away before its document arrived would wait a quarter of an hour in the queue:
// one that a dead office had begun is cancelled, so that the document can be printed again.
void PrintSystemTest::incompleteJobIsCancelled_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("queue printing") << false;
    // Such a queue lists the job as held for its hold, not as incoming: it has no document yet.
    QTest::newRow("queue holding its jobs") << true;
}

void PrintSystemTest::incompleteJobIsCancelled()
{
    QFETCH(bool, held);
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    if (held)
        QVERIFY(other.command("hold"));
    cupsSetServer(other.socket().toLocal8Bit().constData());
    auto stateOf = [](int id) {
        cups_job_t *jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "capture", 0, CUPS_WHICHJOBS_ALL);
        int state = 0;
        for (int i = 0; i < count; ++i)
            if (jobs[i].id == id)
                state = jobs[i].state;
        cupsFreeJobs(count, jobs);
        return state;
    };
    const int id = cupsCreateJob(CUPS_HTTP_DEFAULT, "capture", "incomplete", 0, nullptr);
    QVERIFY2(id > 0, cupsLastErrorString());
    QVERIFY(cupsqueue::CancelIfIncomplete("capture", id));
    QCOMPARE(stateOf(id), int(IPP_JSTATE_CANCELED));
    // A job that is complete is left alone, also one that waits in a held queue.
    QVERIFY(!cupsqueue::CancelIfIncomplete("capture", id));
    const int whole = cupsCreateJob(CUPS_HTTP_DEFAULT, "capture", "whole", 0, nullptr);
    QVERIFY(whole > 0);
    QCOMPARE(int(cupsStartDocument(CUPS_HTTP_DEFAULT, "capture", whole, "whole", CUPS_FORMAT_RAW, 1)),
             int(HTTP_STATUS_CONTINUE));
    QCOMPARE(int(cupsWriteRequestData(CUPS_HTTP_DEFAULT, "page\n", 5)), int(HTTP_STATUS_CONTINUE));
    QCOMPARE(int(cupsFinishDocument(CUPS_HTTP_DEFAULT, "capture")), int(IPP_STATUS_OK));
    QVERIFY(!cupsqueue::CancelIfIncomplete("capture", whole));
    QVERIFY(stateOf(whole) != int(IPP_JSTATE_CANCELED));
    cupsSetServer(nullptr);
    if (held)
        QVERIFY(other.command("release"));
    QVERIFY(other.waitIdle());
    other.stop();
    server_.use();
}

namespace {
const char ColleagueUser[] = "quillmark-colleague";

// A job of another local user on the server's queue; its id, 0 when it could not be made. As root the user
// is a real one (made here when missing); otherwise the scheduler is told the name, as it takes it.
int ColleaguePrints(const QString &socket, const QString &title, const QByteArray &content,
                    bool sameUser = false)
{
    QString program = QStringLiteral("lp");
    QStringList args{"-d", "capture", "-t", title};
    if (sameUser) {
        // The user, by hand, with a file of the same name.
    } else if (getuid() == 0) {
        QProcess id;
        id.start("id", {"-u", ColleagueUser});
        if (!id.waitForFinished(10000) || id.exitCode() != 0)
            QProcess::execute(
                "useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", ColleagueUser});
        program = QStringLiteral("runuser");
        args = QStringList{"-u", ColleagueUser, "--", "lp"} + args;
    } else {
        args = QStringList{"-U", ColleagueUser} + args;
    }
    QProcess lp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CUPS_SERVER", socket);
    env.insert("TMPDIR", "/tmp"); // this test's own is closed to the other user
    lp.setProcessEnvironment(env);
    lp.start(program, args);
    lp.write(content);
    lp.closeWriteChannel();
    if (!lp.waitForFinished(30000) || lp.exitCode() != 0)
        return 0;
    const QRegularExpressionMatch m = QRegularExpression("request id is capture-(\\d+)")
                                          .match(QString::fromLocal8Bit(lp.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

struct QueueJob
{
    int id;
    int state;
    bool incoming; // its document has not all arrived
};

// The jobs not yet finished on the server's queue, every user's, as this process may see them.
QList<QueueJob> ActiveJobs(const QString &socket)
{
    cupsSetServer(socket.toLocal8Bit().constData());
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/printers/capture");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char *const attributes[] = {"job-id", "job-state", "job-state-reasons",
                                             "number-of-documents"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  attributes);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    QList<QueueJob> jobs;
    QueueJob job{0, 0, false};
    for (ipp_attribute_t *a = response ? ippFirstAttribute(response) : nullptr; a;
         a = ippNextAttribute(response)) {
        const char *name = ippGetName(a);
        if (!name) {
            if (job.id)
                jobs << job;
            job = QueueJob{0, 0, false};
        } else if (!strcmp(name, "job-id")) {
            job.id = ippGetInteger(a, 0);
        } else if (!strcmp(name, "job-state")) {
            job.state = ippGetInteger(a, 0);
        } else if (!strcmp(name, "job-state-reasons")) {
            for (int i = 0; i < ippGetCount(a); ++i)
                job.incoming = job.incoming || !strcmp(ippGetString(a, i, nullptr), "job-incoming");
        } else if (!strcmp(name, "number-of-documents")) {
            // A held queue lists a job whose document has not arrived as held, not as incoming.
            job.incoming = job.incoming || ippGetInteger(a, 0) == 0;
        }
    }
    if (job.id)
        jobs << job;
    ippDelete(response);
    return jobs;
}

// Sets an environment variable for the time of one test.
struct ScopedEnv
{
    ScopedEnv(const char *name, const QByteArray &value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }
    const char *name_;
};

QMutex warningsMutex;
QStringList warnings;
void RecordWarning(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtWarningMsg)
        return;
    QMutexLocker lock(&warningsMutex);
    warnings << text;
}
} // namespace

// Another user prints on the same queue between two of the run's documents. The scheduler hides the name
// of that user's job; each document still counts from its own job only.
void PrintSystemTest::colleaguePrintsBetweenDocuments_data()
{
    QTest::addColumn<bool>("colleagueCancelled"); // else ours is cancelled and the colleague's prints
    QTest::addColumn<bool>("sameUser");           // the user's own job, sent by hand
    QTest::newRow("colleague's job cancelled, ours printed") << true << false;
    QTest::newRow("colleague's job printed, ours cancelled") << false << false;
    QTest::newRow("own hand job printed, ours cancelled") << false << true;
}

void PrintSystemTest::colleaguePrintsBetweenDocuments()
{
    QFETCH(bool, colleagueCancelled);
    QFETCH(bool, sameUser);
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command("hold"));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    // The same form filled in twice, in two folders.
    const QString first = root + "一/申请表.docx", second = root + "二/申请表.docx";
    QVERIFY(CopyFile(doc("A", "docx"), first));
    QVERIFY(CopyFile(doc("B", "docx"), second));

    std::atomic<int> colleagueJob{0};
    std::thread settler;
    const QByteArray colleaguePage = "the colleague's own page\n";
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label != second || settler.joinable())
            return;
        // Same title as ours, as when both print the same form.
        colleagueJob =
            ColleaguePrints(other.socket(), QStringLiteral("申请表.docx"), colleaguePage, sameUser);
        settler = std::thread([&] {
            QList<QueueJob> jobs;
            for (int i = 0; i < 600 && (jobs = ActiveJobs(other.socket())).size() < 3; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            int ours = 0;
            for (const QueueJob &job : jobs)
                if (job.id != colleagueJob)
                    ours = std::max(ours, job.id);
            cupsCancelJob2(CUPS_HTTP_DEFAULT, "capture", colleagueCancelled ? colleagueJob.load() : ours, 0);
            other.command("release");
        });
    });
    if (settler.joinable())
        settler.join();
    QVERIFY(colleagueJob > 0);
    QVERIFY(r.enabled);
    QVERIFY(other.waitIdle());
    const QStringList jobs = other.captured();
    QCOMPARE(jobs.size(), 2);
    QVERIFY(other.text(jobs[0]).contains(Marker("A")));
    if (colleagueCancelled) {
        QCOMPARE(r.labels.last(), Count(2));
        QCOMPARE(r.failureList, QByteArray());
        QVERIFY(other.text(jobs[1]).contains(Marker("B")));
    } else {
        QCOMPARE(r.labels.last(), Count(1));
        QCOMPARE(r.failureList, (second + "\n").toUtf8());
        QFile page(QDir(other.outDir()).filePath(jobs[1]));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QCOMPARE(page.readAll(), colleaguePage);
    }
    other.stop();
    server_.use();
}

// The scheduler cannot be asked about a followed job for a while (a restart, as a package update makes),
// or for good (its queue deleted): the job is not taken for printed.
void PrintSystemTest::schedulerOutage_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("restart, then released") << "release";
    QTest::newRow("restart, job still held") << "held";
    QTest::newRow("queue deleted") << "remove";
}

void PrintSystemTest::schedulerOutage()
{
    QFETCH(QString, what);
    const ScopedEnv limit("QUILLMARK_JOB_WAIT_SECONDS", "8");
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command("hold"));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));

    std::atomic<bool> released{false}, endedAfterRelease{false};
    std::thread outage;
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label.startsWith(Count(0).left(4)))
            endedAfterRelease = released.load();
        if (label != QStringLiteral("延时:0毫秒!") || outage.joinable())
            return;
        outage = std::thread([&] {
            for (int i = 0; i < 600 && ActiveJobs(other.socket()).isEmpty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (what == "remove") {
                other.command("remove");
                return;
            }
            other.restartAfter(std::chrono::milliseconds(3000));
            if (what == "release") {
                std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                released = true;
                other.command("release");
            }
        });
    });
    if (outage.joinable())
        outage.join();
    QVERIFY(r.enabled);
    if (what == "release") {
        // Counted once its job was seen completed, after the release, not while nobody answered.
        QCOMPARE(r.labels.last(), Count(1));
        QVERIFY(endedAfterRelease);
        QCOMPARE(r.failureList, QByteArray());
    } else {
        QCOMPARE(r.labels.last(), Count(0) + Unconfirmed(1));
        QCOMPARE(r.failureList, QStringLiteral("[未确认] %1a.docx\n").arg(root).toUtf8());
        QCOMPARE(r.viewed, QStringList{root + FailureListName});
    }
    if (what == "held") {
        // Left in the queue, not cancelled: it prints once released.
        QCOMPARE(ActiveJobs(other.socket()).size(), 1);
        QVERIFY(other.command("release"));
    }
    if (what != "remove") {
        QVERIFY(other.waitIdle());
        QCOMPARE(other.captured().size(), 1);
        QVERIFY(other.text(other.captured().first()).contains(Marker("A")));
    }
    other.stop();
    server_.use();
}

// A queue that holds jobs for release at the printer (or a long job of someone else's ahead): past the
// limit the run stops waiting, reports the document unconfirmed and leaves its job in the queue.
void PrintSystemTest::heldPastTheLimit()
{
    const ScopedEnv limit("QUILLMARK_JOB_WAIT_SECONDS", "4");
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command("hold"));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    QVERIFY(CopyFile(doc("B", "doc"), root + "b.doc"));
    const RunResult r = run(root, 0, QString());
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(0) + Unconfirmed(2));
    QCOMPARE(r.failureList, QStringLiteral("[未确认] %1a.docx\n[未确认] %1b.doc\n").arg(root).toUtf8());
    const QList<QueueJob> waiting = ActiveJobs(other.socket());
    QCOMPARE(waiting.size(), 2);
    for (const QueueJob &job : waiting)
        QCOMPARE(job.state, int(IPP_JSTATE_HELD));
    QVERIFY(other.command("release"));
    QVERIFY(other.waitIdle());
    QCOMPARE(other.captured().size(), 2);
    other.stop();
    server_.use();
}

// A scheduler that keeps no history forgets a job as soon as it is done: it is never seen completed, so
// whether it printed is not known. Not counted, not a failure; the page itself comes out once.
void PrintSystemTest::jobsForgottenAtOnce()
{
    qputenv("PRINTSERVER_JOB_HISTORY", "No");
    PrintServer other;
    QString error;
    const bool started = other.start(&error);
    qunsetenv("PRINTSERVER_JOB_HISTORY");
    QVERIFY2(started, qPrintable(error));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    const RunResult r = run(root, 0, QString());
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(0) + Unconfirmed(1));
    QCOMPARE(r.failureList, QStringLiteral("[未确认] %1a.docx\n").arg(root).toUtf8());
    QVERIFY(other.waitIdle());
    QCOMPARE(other.captured().size(), 1);
    other.stop();
    server_.use();
}

// The office stops (SIGSTOP) once its job shows in the queue and is killed by the watchdog. The job is
// looked for as after a crash: one it had only begun is cancelled and the document printed again, a whole
// one is followed. Either way the document is not listed and comes out exactly once.
void PrintSystemTest::watchdogCutOffAfterTheJobShows()
{
    const ScopedEnv stall("QUILLMARK_OFFICE_STALL_SECONDS", "3");
    PrintServer other;
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    QVERIFY(other.command("hold"));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));

    std::thread stopper;
    std::atomic<int> stopped{0};
    std::atomic<bool> incoming{false};
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label != root + "a.docx" || stopper.joinable())
            return;
        stopper = std::thread([&] {
            const QList<int> offices = OfficeChildren();
            for (int i = 0; i < 60000 && stopped == 0; ++i) {
                const QList<QueueJob> jobs = ActiveJobs(other.socket());
                if (!jobs.isEmpty() && !offices.isEmpty()) {
                    kill(offices.first(), SIGSTOP);
                    stopped = offices.first();
                    incoming = jobs.first().incoming;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            // Once the stopped office is gone and a whole job waits, the queue lets it through.
            for (int i = 0; i < 1200; ++i) {
                const QList<QueueJob> jobs = ActiveJobs(other.socket());
                const bool whole =
                    std::any_of(jobs.begin(), jobs.end(), [](const QueueJob &j) { return !j.incoming; });
                if (!OfficeChildren().contains(stopped) && whole)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            other.command("release");
        });
    });
    if (stopper.joinable())
        stopper.join();
    QVERIFY(stopped != 0);
    qInfo("the office was stopped while its job was %s", incoming ? "still arriving" : "whole");
    QVERIFY(r.enabled);
    QCOMPARE(r.failureList, QByteArray());
    QCOMPARE(r.labels.last(), Count(1));
    QVERIFY(other.waitIdle());
    QCOMPARE(other.captured().size(), 1);
    QVERIFY(other.text(other.captured().first()).contains(Marker("A")));
    QVERIFY(!OfficeChildren().contains(stopped));
    other.stop();
    server_.use();
}

// Quitting while a huge or slow share is still being scanned ends the run before the scan goes on; no
// office starts.
void PrintSystemTest::abortDuringFolderScan()
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    for (int i = 0; i < 40; ++i)
        QVERIFY(
            CopyFile(doc("A", "docx"), root + QStringLiteral("d%1/a.docx").arg(i, 2, 10, QLatin1Char('0'))));
    std::atomic<int> folders{0};
    ThreadObject::SetFolderScanHook([&](const QString &) {
        if (++folders == 3)
            ThreadObject::AbortRuns();
        QThread::msleep(100); // each folder a slow round trip to the share
    });
    const RunResult r = run(root, 0, QString());
    ThreadObject::SetFolderScanHook(nullptr);
    QCOMPARE(r.labels, QStringList{Count(0) + " 打印已中止。"});
    // Of the 41 folders, those already under way when the abort came.
    QVERIFY2(folders < 10, qPrintable(QString::number(folders)));
    QVERIFY(r.newJobs.isEmpty());
}

void PrintSystemTest::oddNamesMatchTheirOwnJob_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("title"); // the document's own title in its properties; empty: none
    QTest::newRow("newline") << QByteArray("two\nlines.docx") << QString();
    QTest::newRow("tab") << QByteArray("tab\tin name.docx") << QString();
    QTest::newRow("percent") << QByteArray("100% done.docx") << QString();
    QTest::newRow("hash") << QByteArray("#1 draft#.docx") << QString();
    QTest::newRow("not UTF-8") << QByteArray("bad\xff name.docx") << QString();
    QTest::newRow("Chinese") << QString("申请表.docx").toUtf8() << QString();
    QTest::newRow("own title in its properties")
        << QByteArray("titled.docx") << QStringLiteral("季度报告 Title");
}

// Each document is matched to its own job by the mark its job's name carries, whatever the file is
// called. A name that did not match would be said on the error output.
void PrintSystemTest::oddNamesMatchTheirOwnJob()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, title);
    QTemporaryDir dir;
    struct Removal
    {
        QString path;
        ~Removal() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
    } removal{dir.path() + "/odd"};
    QVERIFY(QDir().mkpath(dir.path() + "/odd"));
    const QByteArray path = QFile::encodeName(dir.path()) + "/odd/" + name;
    const QString marker = Marker("ODD-" + QString::number(QRandomGenerator::global()->bounded(1000000)));
    const QString script = QStringLiteral(R"(
import sys, zipfile
path, text, title = bytes.fromhex(sys.argv[1]), sys.argv[2], sys.argv[3]
W = 'http://schemas.openxmlformats.org/wordprocessingml/2006/main'
core = title and ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>%s</dc:title></cp:coreProperties>' % title)
types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/>'
         '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
         + ('<Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/>' if core else '') + '</Types>')
rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
        + ('<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/>' if core else '') + '</Relationships>')
with open(path, 'wb') as f, zipfile.ZipFile(f, 'w') as z:
    z.writestr('[Content_Types].xml', types)
    z.writestr('_rels/.rels', rels)
    z.writestr('word/document.xml', '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document xmlns:w="%s"><w:body><w:p><w:r><w:t>%s</w:t></w:r></w:p></w:body></w:document>' % (W, text))
    if core:
        z.writestr('docProps/core.xml', core)
)");
    QVERIFY(QProcess::execute("python3", {"-c", script, QString::fromLatin1(path.toHex()), marker, title}) ==
            0);
    QVERIFY(::access(path.constData(), F_OK) == 0);

    {
        QMutexLocker lock(&warningsMutex);
        warnings.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(RecordWarning);
    const QStringList before = server_.captured();
    std::vector<WordProcessor::JobResult> results;
    {
        LibreOfficeWordProcessor office;
        QVERIFY(office.create());
        QCOMPARE(office.printerProblem(), QString());
        const WordProcessor::Document document =
            office.open(DecodeFileName(path), false, false, false, QString(), QString(), true);
        QVERIFY(document != WordProcessor::NoDocument);
        QVERIFY(office.printOut(document)); // the job is looked for before this returns
        office.close(document, false);
        results = office.takeJobResults(document);
        office.quit();
    }
    qInstallMessageHandler(previous);
    QCOMPARE(warnings, QStringList());
    QCOMPARE(results.size(), size_t(1));
    QVERIFY(results.front().printed);
    QVERIFY(server_.waitIdle());
    QStringList jobs = server_.captured();
    for (const QString &job : before)
        jobs.removeAll(job);
    QCOMPARE(jobs.size(), 1);
    QVERIFY(server_.text(jobs.first()).contains(marker));
}

// The office's memory grows over a long run: past the limit (here a tiny one) a fresh office started in the
// background takes over between two documents. Every document is still printed once, in order.
void PrintSystemTest::officeRenewedOnMemory()
{
    const ScopedEnv limit("QUILLMARK_OFFICE_MEMORY_GROWTH_MB", "0.001");
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    const QStringList ids{"A", "B", "C", "D", "E", "F", "G", "H", "A", "B"};
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY(CopyFile(
            doc(ids[i], i % 2 ? "doc" : "docx"),
            root + QStringLiteral("%1.%2").arg(i, 2, 10, QLatin1Char('0')).arg(i % 2 ? "doc" : "docx")));
    QList<QList<int>> officesAt; // the offices running as each document starts
    const RunResult r = run(root, 400, QString(), [&](const QString &label) {
        if (label.startsWith(root))
            officesAt << OfficeChildren();
    });
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(ids.size()));
    QCOMPARE(r.failureList, QByteArray());
    QCOMPARE(r.texts.size(), ids.size());
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY2(r.texts[i].contains(Marker(ids[i])), qPrintable(QString::number(i) + ": " + r.texts[i]));
    QCOMPARE(officesAt.size(), ids.size());
    QCOMPARE(officesAt.first().size(), 1);
    // The office of the first document had been replaced before the last one.
    QVERIFY2(!officesAt.last().contains(officesAt.first().first()),
             qPrintable(QStringLiteral("office %1 still ran").arg(officesAt.first().first())));
}

void PrintSystemTest::passwordTriesKeepTheOffice_data()
{
    QTest::addColumn<QString>(
        "file"); // template name, "enc:" + a file of the encrypted test data, or "!" + bytes
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("marker"); // text of the document, when it is known

    QTest::newRow("own .doc") << "P-pw.doc" << Password << "QMARK-P";
    QTest::newRow("Agile .docx") << "enc:example_password.docx" << EncryptedPassword << "";
    QTest::newRow("RC4 .doc") << "enc:rc4cryptoapi_password.doc" << EncryptedPassword << "";
    QTest::newRow("damaged") << "!PK\x03\x04 not a zip" << Password << "";
}

// Wrong passwords are told apart from damage and cost no new office; the document that opens then
// reports its pages and exports an unencrypted PDF through the office's own export.
void PrintSystemTest::passwordTriesKeepTheOffice()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(QString, marker);
    QTemporaryDir tmp;
    QString source = tpl(file);
    if (file.startsWith("enc:")) {
        source = encrypted(file.mid(4));
        if (!QFileInfo::exists(source))
            QSKIP("the encrypted test documents are not here");
    }
    const bool damaged = file.startsWith('!');
    const QString path = tmp.filePath(damaged ? "damaged.docx" : "protected." + QFileInfo(source).suffix());
    if (damaged)
        QVERIFY(WriteFile(path, file.mid(1).toLatin1()));
    else
        QVERIFY(CopyFile(source, path));

    LibreOfficeWordProcessor office;
    QVERIFY(office.create());
    QVERIFY(office.queryDocuments());
    const int pid = office.officePid();
    QVERIFY(pid > 0);
    for (const QString &wrong : {QString(), QStringLiteral("wrong-1"), QStringLiteral("wrong-2")}) {
        QCOMPARE(office.open(path, false, false, false, wrong, wrong, true), WordProcessor::NoDocument);
        QCOMPARE(office.lastOpenFailure(),
                 damaged ? WordProcessor::OpenFailure::Damaged : WordProcessor::OpenFailure::WrongPassword);
    }
    QCOMPARE(office.officePid(), pid);
    const WordProcessor::Document document = office.open(path, false, false, false, password, password, true);
    if (damaged) {
        QCOMPARE(document, WordProcessor::NoDocument);
        office.quit();
        return;
    }
    QVERIFY(document != WordProcessor::NoDocument);
    QCOMPARE(office.officePid(), pid);
    const QString pdf = tmp.filePath("out.pdf");
    QVERIFY(office.exportPdf(document, pdf));
    QVERIFY(office.pageCount(document) >= 1);
    office.close(document, false);
    office.quit();

    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished(30000));
    const QString details = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(QRegularExpression("^Encrypted:\\s+no$", QRegularExpression::MultilineOption)
                 .match(details)
                 .hasMatch(),
             qPrintable(details));
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString content = QString::fromUtf8(text.readAllStandardOutput()).trimmed();
    QVERIFY2(!content.isEmpty(), "the PDF is blank");
    if (!marker.isEmpty())
        QVERIFY2(content.contains(marker), qPrintable(content));
}

// A slow printer, and a scheduler that takes a set number of jobs: the run keeps only a window of its jobs in
// the queue, sends the next when one leaves, and waits for room when the scheduler refuses one. Every
// document prints once, in order; none is unconfirmed or refused, though with the wide window each waits
// in the queue longer than the (scaled-down) limit: the queue moves.
void PrintSystemTest::slowPrinterSetsThePace_data()
{
    QTest::addColumn<int>("maxJobs");
    QTest::addColumn<int>("window");
    // Each job waits behind up to five others, 2.5 s, longer than the limit.
    QTest::newRow("wide window") << 10 << 6;
    QTest::newRow("scheduler takes fewer jobs than the window") << 2 << 3;
}

void PrintSystemTest::slowPrinterSetsThePace()
{
    QFETCH(int, maxJobs);
    QFETCH(int, window);
    const ScopedEnv limit("QUILLMARK_JOB_WAIT_SECONDS", "2");
    const ScopedEnv windowSize("QUILLMARK_JOB_WINDOW", QByteArray::number(window));
    qputenv("PRINTSERVER_MAX_JOBS", QByteArray::number(maxJobs));
    PrintServer other;
    QString error;
    const bool started = other.start(&error);
    qunsetenv("PRINTSERVER_MAX_JOBS");
    QVERIFY2(started, qPrintable(error));
    QCOMPARE(QProcess::execute(PrintServer::Script(), {"pace", other.dir(), "0.5"}), 0);
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    const QStringList ids{"A", "B", "C", "D", "E", "F", "G", "H"};
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY(CopyFile(doc(ids[i], "docx"), root + QStringLiteral("%1.docx").arg(i)));
    std::atomic<bool> done{false};
    std::atomic<int> mostWaiting{0};
    std::thread watcher([&] {
        while (!done) {
            mostWaiting = std::max(mostWaiting.load(), int(ActiveJobs(other.socket()).size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const RunResult r = run(root, 0, QString());
    done = true;
    watcher.join();
    cupsSetServer(nullptr);
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(ids.size()));
    QCOMPARE(r.failureList, QByteArray());
    QVERIFY(other.waitIdle());
    const QStringList jobs = other.captured();
    QCOMPARE(jobs.size(), ids.size());
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY2(other.text(jobs[i]).contains(Marker(ids[i])), qPrintable(jobs[i]));
    // Never more than the window waiting; more than one, so that the printer never waited for the office.
    QVERIFY2(mostWaiting <= std::min(window, maxJobs) && mostWaiting >= 2,
             qPrintable(QString::number(mostWaiting)));
    other.stop();
    server_.use();
}

// Started from cron, a service or a container, the program has no UTF-8 locale; the office is given one,
// so names that are not ASCII still load.
void PrintSystemTest::nonAsciiNamesUnderCLocale_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::newRow("LANG=C") << QByteArray("LANG");
    QTest::newRow("LC_ALL=C") << QByteArray("LC_ALL");
}

void PrintSystemTest::nonAsciiNamesUnderCLocale()
{
    QFETCH(QByteArray, variable);
    const char *const names[] = {"LANG", "LC_ALL", "LC_CTYPE"};
    QByteArray saved[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = qgetenv(names[i]);
        qunsetenv(names[i]);
    }
    qputenv(variable.constData(), "C");
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + QStringLiteral("季度报告.docx")));
    QVERIFY(CopyFile(doc("B", "doc"), root + QStringLiteral("中文目录/通知 #2.doc")));
    const RunResult r = run(root, 0, QString());
    for (int i = 0; i < 3; ++i) {
        qunsetenv(names[i]);
        if (!saved[i].isNull())
            qputenv(names[i], saved[i]);
    }
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(2));
    QCOMPARE(r.failureList, QByteArray());
    QCOMPARE(r.texts.size(), 2);
    QVERIFY(r.texts[0].contains(Marker("A")));
    QVERIFY(r.texts[1].contains(Marker("B")));
}

// The office dies mid-run and no fresh one can start (it was upgraded or removed under the run): the run
// ends as one without a word processor, the rest not tried and none of them called damaged.
void PrintSystemTest::replacementOfficeCannotStart()
{
    // The office's installation as a tree of links, so that its soffice.bin can be swapped mid-run.
    QTemporaryDir linked;
    const QDir real(LibreOfficeWordProcessor::DefaultProgramDir());
    const QDir top(real.absoluteFilePath(".."));
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden;
    for (const QFileInfo &entry : top.entryInfoList(entries))
        if (entry.fileName() != real.dirName())
            QVERIFY(QFile::link(entry.absoluteFilePath(), linked.filePath(entry.fileName())));
    const QString program = linked.filePath(real.dirName());
    QVERIFY(QDir().mkpath(program));
    for (const QFileInfo &entry : real.entryInfoList(entries))
        QVERIFY(QFile::link(entry.absoluteFilePath(), program + "/" + entry.fileName()));
    qputenv("QUILLMARK_OFFICE_PROGRAM", QFile::encodeName(program));

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    for (const QString id : {"a", "b", "c", "d"})
        QVERIFY(CopyFile(doc(id.toUpper(), "docx"), root + id + ".docx"));
    const RunResult r = run(root, 0, QString(), [&](const QString &label) {
        if (label != root + "b.docx")
            return;
        QFile::remove(program + "/soffice.bin");
        WriteFile(program + "/soffice.bin", "#!/bin/sh\nexit 1\n");
        QFile::setPermissions(program + "/soffice.bin", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        for (int pid : OfficeChildren())
            kill(pid, SIGKILL);
    });
    qunsetenv("QUILLMARK_OFFICE_PROGRAM");
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(),
             Count(1) + " " +
                 QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。"));
    QCOMPARE(r.failureList, QByteArray());
    QVERIFY(!r.labels.contains(root + "c.docx"));
    QCOMPARE(r.texts.size(), 1);
    QVERIFY(r.texts[0].contains(Marker("A")));
}

// The office profile kept between runs (it spares the slow first start of a fresh one): a second run at
// the same time gets a fresh profile instead, and a kept one whose office did not end cleanly is made anew.
void PrintSystemTest::keptProfileNeverShared()
{
    const QString kept = private_.filePath("cache/quillmark/office-profile");
    const QString pid = QString::number(getpid());
    const auto freshProfiles = [&] {
        return QDir(QDir::tempPath()).entryList({"quillmark-office-" + pid + "-*"}, QDir::Dirs);
    };
    // The office writes this log when it ran its graphics self-tests at the start (a second's work).
    const auto selfTested = [](const QString &profile) {
        return QFileInfo::exists(profile + "/user/GraphicsRenderTests.log");
    };
    const auto printOne = [&](LibreOfficeWordProcessor &office, const QString &id) {
        if (!office.printerProblem().isEmpty())
            return false;
        const WordProcessor::Document document =
            office.open(doc(id, "docx"), false, false, false, QString(), QString(), true);
        if (document == WordProcessor::NoDocument || !office.printOut(document))
            return false;
        office.close(document, false);
        const std::vector<WordProcessor::JobResult> results = office.takeJobResults(document);
        return results.size() == 1 && results.front().printed;
    };
    {
        LibreOfficeWordProcessor first, second;
        QVERIFY(first.create());
        const QStringList before = freshProfiles();
        QVERIFY(second.create());
        QStringList fresh = freshProfiles();
        for (const QString &old : before)
            fresh.removeOne(old);
        QCOMPARE(fresh.size(), 1);
        // Made after an office of this program started: seeded with its version.
        QVERIFY(!selfTested(QDir::tempPath() + "/" + fresh.front()));
        QVERIFY(printOne(first, "A"));
        QVERIFY(printOne(second, "B"));
        first.quit();
        second.quit();
    }
    QVERIFY(QFileInfo(kept + "/user").isDir());
    QVERIFY(!QFileInfo::exists(kept + "/.quillmark-in-use")); // its office ended cleanly
    QFile remembered(kept + "/user/registrymodifications.xcu");
    QVERIFY(remembered.open(QIODevice::ReadOnly));
    QVERIFY(remembered.readAll().contains("<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>"));
    QVERIFY(WriteFile(kept + "/.quillmark-in-use", ""));
    QVERIFY(WriteFile(kept + "/user/registrymodifications.xcu", "damaged"));
    {
        LibreOfficeWordProcessor office;
        QVERIFY(office.create());
        QVERIFY(!selfTested(kept)); // made anew, and seeded
        QVERIFY(printOne(office, "C"));
        office.quit();
    }
    QFile settings(kept + "/user/registrymodifications.xcu");
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(settings.readAll() != "damaged");
    QVERIFY(server_.waitIdle());
}

// A scheduler that keeps every job (no MaxJobs) lists only its oldest 500 in one answer: the run's own job,
// above them, is still found.
void PrintSystemTest::longJobHistory()
{
    qputenv("PRINTSERVER_MAX_JOBS", "0");
    PrintServer other;
    QString error;
    const bool started = other.start(&error);
    qunsetenv("PRINTSERVER_MAX_JOBS");
    QVERIFY2(started, qPrintable(error));
    QVERIFY(other.command("hold"));
    cupsSetServer(other.socket().toLocal8Bit().constData());
    for (int i = 0; i < 1010; ++i) {
        const int id = cupsCreateJob(CUPS_HTTP_DEFAULT, "capture", "old job", 0, nullptr);
        QVERIFY(id > 0);
        QVERIFY(cupsStartDocument(CUPS_HTTP_DEFAULT, "capture", id, "old", CUPS_FORMAT_TEXT, 1) ==
                HTTP_STATUS_CONTINUE);
        QVERIFY(cupsWriteRequestData(CUPS_HTTP_DEFAULT, "x\n", 2) == HTTP_STATUS_CONTINUE);
        QVERIFY(cupsFinishDocument(CUPS_HTTP_DEFAULT, "capture") == IPP_STATUS_OK);
        cupsCancelJob2(CUPS_HTTP_DEFAULT, "capture", id, 0);
    }
    cupsSetServer(nullptr);
    QVERIFY(other.command("release"));
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/";
    QVERIFY(CopyFile(doc("A", "docx"), root + "a.docx"));
    const RunResult r = run(root, 0, QString());
    QVERIFY(r.enabled);
    QCOMPARE(r.labels.last(), Count(1));
    QVERIFY(other.waitIdle());
    QCOMPARE(other.captured().size(), 1);
    other.stop();
    server_.use();
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(HoldOfficeVariable))
        return HoldOffice();
    QCoreApplication app(argc, argv);
    PrintSystemTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "print_system_test.moc"
