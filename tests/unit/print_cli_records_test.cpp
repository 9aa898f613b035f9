// quillmark-print's records of a weekly folder: the exit code a script can trust, the failure list and the
// report carried on from run to run, only what is new, page ranges; the rules as tables, and whole runs
// against the fake word processor (the watched inbox meets the real office in print_cli_weekly.py).

#include "cli/printcli.h"
#include "cli/printledger.h"
#include "cli/printreport.h"
#include "cli/runaccount.h"
#include "platform/filename.h"
#include "print/failurelist.h"
#include "print/pagerange.h"
#include "tests/unit/print_cli_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(WordProcessor::Breakdown)
Q_DECLARE_METATYPE(RunCounts)

namespace {
const QString Marker = QStringLiteral("[未确认] ");

enum Ending
{
    Ended,
    Stopped, // something outside the documents stopped the run
    Interrupted,
};

// notDone: kept PDFs, gone files, ranges without pages.
RunCounts Counts(int done, int failed, int unconfirmed, int notDone, Ending ending = Ended)
{
    RunCounts counts;
    counts.done = done;
    counts.failed = failed;
    counts.unconfirmed = unconfirmed;
    counts.otherwiseNotDone = notDone;
    counts.problem = ending == Stopped;
    counts.interrupted = ending == Interrupted;
    return counts;
}
} // namespace

class PrintCliRecordsTest : public PrintCliFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void exitCode_data();
    void exitCode();
    void mergeFailureList_data();
    void mergeFailureList();
    void leftOutAsDone_data();
    void leftOutAsDone();
    void pagesSelected_data();
    void pagesSelected();
    void reportAtItsPath_data();
    void reportAtItsPath();
    void reportCarriedOn();
    void formulaCellsReadBack_data();
    void formulaCellsReadBack();

    void stoppedRun_data();
    void stoppedRun();
    void failureListAfterARun_data();
    void failureListAfterARun();
    void pageRanges_data();
    void pageRanges();
    void newOnly();
    void watchKeepsOneOffice();

private:
    QStringList lines(const QStringList &names) const; // the failure list's lines for names below root_
};

void PrintCliRecordsTest::init()
{
    QVERIFY(setUp(QStringLiteral("收件箱")));
}

void PrintCliRecordsTest::cleanup()
{
    QCOMPARE(tearDown(), 0);
}

QStringList PrintCliRecordsTest::lines(const QStringList &names) const
{
    QStringList result;
    for (const QString &name : names)
        result << (name.startsWith('?') ? Marker + root_ + name.mid(1) : root_ + name);
    return result;
}

void PrintCliRecordsTest::exitCode_data()
{
    QTest::addColumn<RunCounts>("counts");
    QTest::addColumn<int>("code");
    QTest::newRow("all done") << Counts(5, 0, 0, 0) << 0;
    QTest::newRow("one failed") << Counts(4, 1, 0, 0) << 1;
    QTest::newRow("one not confirmed") << Counts(4, 0, 1, 0) << 1;
    QTest::newRow("a PDF kept") << Counts(4, 0, 0, 1) << 1;
    QTest::newRow("stopped before anything") << Counts(0, 0, 0, 0, Stopped) << 2;
    QTest::newRow("stopped after failures only") << Counts(0, 2, 0, 0, Stopped) << 2;
    QTest::newRow("stopped after one printed") << Counts(1, 0, 0, 0, Stopped) << 1;
    QTest::newRow("stopped with one not confirmed") << Counts(0, 0, 1, 0, Stopped) << 1;
    QTest::newRow("interrupted") << Counts(1, 1, 0, 0, Interrupted) << 130;
}

// A script that runs the same command again on 2 prints nothing twice; on 1 it retries the list.
void PrintCliRecordsTest::exitCode()
{
    QFETCH(RunCounts, counts);
    QFETCH(int, code);
    QCOMPARE(ExitCodeOf(counts), code);
}

void PrintCliRecordsTest::mergeFailureList_data()
{
    QTest::addColumn<QStringList>("old");
    QTest::addColumn<QStringList>("learnt");
    QTest::addColumn<QStringList>("settled");
    QTest::addColumn<QStringList>("merged");
    QTest::newRow("nothing learnt") << QStringList{"/f/a", "/f/b"} << QStringList{} << QStringList{}
                                    << QStringList{"/f/a", "/f/b"};
    QTest::newRow("one printed now") << QStringList{"/f/a", "/f/b"} << QStringList{} << QStringList{"/f/a"}
                                     << QStringList{"/f/b"};
    QTest::newRow("failed again keeps its place") << QStringList{"/f/a", "/f/b"} << QStringList{"/f/a"}
                                                  << QStringList{"/f/a"} << QStringList{"/f/a", "/f/b"};
    QTest::newRow("now unconfirmed, in place") << QStringList{"/f/a", "/f/b"} << QStringList{Marker + "/f/b"}
                                               << QStringList{"/f/b"} << QStringList{"/f/a", Marker + "/f/b"};
    QTest::newRow("confirmed failed now")
        << QStringList{Marker + "/f/a"} << QStringList{"/f/a"} << QStringList{"/f/a"} << QStringList{"/f/a"};
    QTest::newRow("new ones after the old")
        << QStringList{"/f/a"} << QStringList{"/f/c", "/f/b"} << QStringList{"/f/c", "/f/b"}
        << QStringList{"/f/a", "/f/c", "/f/b"};
    QTest::newRow("a line twice is listed once")
        << QStringList{"/f/a", "/f/a"} << QStringList{} << QStringList{} << QStringList{"/f/a"};
}

void PrintCliRecordsTest::mergeFailureList()
{
    QFETCH(QStringList, old);
    QFETCH(QStringList, learnt);
    QFETCH(QStringList, settled);
    QFETCH(QStringList, merged);
    QCOMPARE(MergeFailureList(old, learnt, settled), merged);
}

void PrintCliRecordsTest::leftOutAsDone_data()
{
    using Mode = PrintJobSettingsRecord::Mode;
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("watching");
    QTest::addColumn<bool>("leftOut");
    QTest::newRow("printed, unchanged") << "printed" << false << int(Mode::Print) << false << true;
    QTest::newRow("printed, changed since") << "printed" << true << int(Mode::Print) << false << false;
    QTest::newRow("exported, now printing") << "exported" << false << int(Mode::Print) << false << false;
    QTest::newRow("exported, exporting") << "exported" << false << int(Mode::ExportPdf) << false << true;
    QTest::newRow("may have printed") << "unconfirmed" << false << int(Mode::Print) << false << true;
    QTest::newRow("begun, never finished") << "started" << false << int(Mode::Print) << false << true;
    QTest::newRow("failed: only what is new retries")
        << "damaged" << false << int(Mode::Print) << false << false;
    QTest::newRow("failed: a watch waits for a change")
        << "damaged" << false << int(Mode::Print) << true << true;
    QTest::newRow("failed and changed: a watch retries")
        << "damaged" << true << int(Mode::Print) << true << false;
    QTest::newRow("not tried") << "not-tried" << false << int(Mode::Print) << true << false;
    QTest::newRow("no record") << "" << false << int(Mode::Print) << true << false;
}

void PrintCliRecordsTest::leftOutAsDone()
{
    QFETCH(QString, outcome);
    QFETCH(bool, changed);
    QFETCH(int, mode);
    QFETCH(bool, watching);
    QFETCH(bool, leftOut);
    const PrintLedger::Entry entry{outcome, 1000, 1700000000000};
    QCOMPARE(LeftOutAsDone(entry, 1000, changed ? 1700000000001 : 1700000000000,
                           PrintJobSettingsRecord::Mode(mode), watching),
             leftOut);
}

void PrintCliRecordsTest::pagesSelected_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("selected");
    QTest::newRow("within") << "1-3,5" << 10 << 4;
    QTest::newRow("cut at the end") << "2-5" << 3 << 2;
    QTest::newRow("past the end") << "50" << 1 << 0;
    QTest::newRow("overlapping spans count once") << "1-3,2-4" << 10 << 4;
    QTest::newRow("a span inside another") << "1-10,3-5" << 10 << 10;
    QTest::newRow("out of order") << "5,1" << 5 << 2;
    QTest::newRow("an empty document") << "1" << 0 << 0;
    QTest::newRow("not a range") << "1-" << 5 << -1;
}

void PrintCliRecordsTest::pagesSelected()
{
    QFETCH(QString, range);
    QFETCH(int, pageCount);
    QFETCH(int, selected);
    QCOMPARE(PagesSelected(range, pageCount), selected);
}

void PrintCliRecordsTest::reportAtItsPath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // "<link>", "<folder>", or the file's bytes
    QTest::addColumn<int>("rowsKept");     // -1: refused
    const QByteArray header = PrintReport::CsvHeader().toUtf8() + "\n";
    QTest::newRow("nothing there") << "r.csv" << QByteArray("<none>") << 0;
    QTest::newRow("an empty file") << "r.csv" << QByteArray() << 0;
    QTest::newRow("a report of ours")
        << "r.csv"
        << header + "a.doc,printed,,7,1,0.100,,3,2024-05-01T08:00:00.000Z\nb.doc,damaged,,,,0.1,,,\n"
        << 2;
    QTest::newRow("a report of the first kind")
        << "r.csv"
        << QByteArray("path,outcome,password_line,job_id,pages,seconds,path_hex\na.doc,printed,,,,0.1,\n")
        << 1;
    QTest::newRow("a json report of ours")
        << "r.json" << QByteArray("{\"path\":\"a.doc\",\"outcome\":\"printed\"}\n") << 1;
    QTest::newRow("a user's spreadsheet") << "r.csv" << QByteArray("name,amount\nrent,900\n") << -1;
    QTest::newRow("our header, a stray quote") << "r.csv" << header + "a\"b.doc,printed\n" << -1;
    QTest::newRow("a spreadsheet with a path column") << "r.csv" << QByteArray("path,size\na.doc,3\n") << -1;
    QTest::newRow("another program's json")
        << "r.json" << QByteArray("{\"path\":\"a\",\"colour\":\"red\"}\n") << -1;
    QTest::newRow("a link to a report of ours") << "r.csv" << QByteArray("<link>") << -1;
    QTest::newRow("a folder") << "r.csv" << QByteArray("<folder>") << -1;
}

// A report replaces only what it can carry on; anything else at its path stays as it was.
void PrintCliRecordsTest::reportAtItsPath()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, rowsKept);
    const QString path = tmp_->path() + '/' + name;
    if (bytes == "<link>") {
        QVERIFY(WriteAll(tmp_->path() + "/real.csv", PrintReport::CsvHeader().toUtf8() + "\n"));
        QVERIFY(QFile::link(tmp_->path() + "/real.csv", path));
    } else if (bytes == "<folder>") {
        QVERIFY(QDir().mkpath(path));
    } else if (bytes != "<none>") {
        QVERIFY(WriteAll(path, bytes));
    }
    const QByteArray before = ReadAll(path);
    PrintReport report(path, false);
    QString error;
    QCOMPARE(report.open(&error), rowsKept >= 0);
    if (rowsKept < 0) {
        QVERIFY2(error.contains(QStringLiteral("不会被覆盖")), qPrintable(error));
        QCOMPARE(ReadAll(path), before);
        return;
    }
    QCOMPARE(report.earlierRows().size(), rowsKept);
    ReportRow row;
    row.path = "new.doc";
    row.outcome = "printed";
    QVERIFY(report.add(1, row));
    QVERIFY(report.flush());
    QVector<ReportRow> rows;
    QVERIFY2(ReadReportRows(path, ReadAll(path), &rows, &error), qPrintable(error));
    QCOMPARE(rows.size(), rowsKept + 1);
}

// A retry's report: each document it brought to an end gets its new row in its old place; a document it
// did not come to keeps what an earlier run learnt; new documents follow.
void PrintCliRecordsTest::reportCarriedOn()
{
    const QString path = tmp_->path() + "/week.csv";
    const QByteArray header = PrintReport::CsvHeader().toUtf8() + "\n";
    QVERIFY(WriteAll(path, header + "a.doc,printed,,7,1,0.100,,3,\nb.doc,damaged,,,,0.100,,3,\n"
                                    "c.doc,printed,,8,1,0.100,,3,\n"));
    PrintReport report(path, false);
    QString error;
    QVERIFY(report.open(&error));
    const auto add = [&report](int number, const char *name, const char *outcome) {
        ReportRow row;
        row.path = name;
        row.outcome = outcome;
        return report.add(number, row);
    };
    QVERIFY(add(1, "b.doc", "printed"));
    QVERIFY(add(2, "d.doc", "not-tried"));
    QVERIFY(add(3, "a.doc", "not-tried"));
    QVERIFY(report.flush());
    QVector<ReportRow> rows;
    QVERIFY(ReadReportRows(path, ReadAll(path), &rows, &error));
    QStringList seen;
    for (const ReportRow &row : rows)
        seen << row.path + ' ' + row.outcome;
    QCOMPARE(seen, (QStringList{"a.doc printed", "b.doc printed", "c.doc printed", "d.doc not-tried"}));
}

void PrintCliRecordsTest::formulaCellsReadBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("marked");
    QTest::newRow("equals") << "=HYPERLINK(\"x\").docx" << true;
    QTest::newRow("plus") << "+1.doc" << true;
    QTest::newRow("minus") << "-2.doc" << true;
    QTest::newRow("at") << "@SUM(A1).doc" << true;
    QTest::newRow("tab") << "\tx.doc" << true;
    QTest::newRow("an apostrophe of its own") << "'quoted.doc" << true;
    QTest::newRow("plain") << "报告.doc" << false;
    QTest::newRow("equals inside") << "a=b.doc" << false;
}

// A spreadsheet shows such a cell as text, and the report reads back exactly.
void PrintCliRecordsTest::formulaCellsReadBack()
{
    QFETCH(QString, name);
    QFETCH(bool, marked);
    const QString path = tmp_->path() + "/cells.csv";
    PrintReport report(path, false);
    ReportRow row;
    row.path = name;
    row.outcome = "damaged";
    QVERIFY(report.add(1, row));
    QVERIFY(report.flush());
    const QString cell = report.csvLine(row).section(',', 0, 0);
    QCOMPARE(cell.startsWith(QLatin1Char('\'')) || cell.startsWith(QLatin1String("\"'")), marked);
    QVector<ReportRow> rows;
    QString error;
    QVERIFY(ReadReportRows(path, ReadAll(path), &rows, &error));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().path, name);
}

void PrintCliRecordsTest::stoppedRun_data()
{
    using Breakdown = WordProcessor::Breakdown;
    QTest::addColumn<QString>("breaksAt");
    QTest::addColumn<Breakdown>("kind");
    QTest::addColumn<bool>("atPrint");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("listed");
    // (A printer that stops after the first: print_cli_weekly.py, on the real print server.)
    QTest::newRow("office gone at the first")
        << "a.doc" << Breakdown::Unavailable << false << 2 << QStringList{"a.doc", "b.doc", "c.doc"};
    QTest::newRow("no answer while the second prints")
        << "b.doc" << Breakdown::NotAnswering << true << 1 << QStringList{"?b.doc", "c.doc"};
}

// Whatever stops a run mid-way, one rule: exit 2 only when nothing printed and nothing is uncertain, and
// the documents not tried are listed for a retry.
void PrintCliRecordsTest::stoppedRun()
{
    QFETCH(QString, breaksAt);
    QFETCH(WordProcessor::Breakdown, kind);
    QFETCH(bool, atPrint);
    QFETCH(int, code);
    QFETCH(QStringList, listed);
    file("a.doc");
    file("b.doc");
    file("c.doc");
    office_->setFollowsJobs(true);
    office_->setBreakdownAt(root_ + breaksAt, kind, atPrint);
    PrintCommand command;
    command.folder = root_;
    command.reportPath = tmp_->path() + "/r.csv";
    QCOMPARE(execute(command), code);
    QCOMPARE(QString::fromLocal8Bit(ReadAll(root_ + FailureListName)).split('\n', Qt::SkipEmptyParts),
             lines(listed));
    QVector<ReportRow> rows;
    QString error;
    QVERIFY(ReadReportRows(command.reportPath, ReadAll(command.reportPath), &rows, &error));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.last().outcome, QStringLiteral("not-tried"));
}

// Runs that do not take the whole folder to its end keep every line they learnt nothing new about; one
// that does writes the list anew.
void PrintCliRecordsTest::failureListAfterARun_data()
{
    QTest::addColumn<QStringList>("fromList"); // empty: the whole folder
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<bool>("interrupted"); // Ctrl-C after the first document
    QTest::addColumn<QStringList>("listBefore");
    QTest::addColumn<QStringList>("listAfter"); // empty: no list
    QTest::newRow("a retry keeps what it did not retry")
        << QStringList{"a.doc"} << QStringList{} << false << QStringList{"a.doc", "b.doc"}
        << QStringList{"b.doc"};
    QTest::newRow("a retry that fails again keeps the order")
        << QStringList{"a.doc"} << QStringList{"a.doc"} << false << QStringList{"?a.doc", "b.doc"}
        << QStringList{"a.doc", "b.doc"};
    QTest::newRow("all done: no list")
        << QStringList{"a.doc"} << QStringList{} << false << QStringList{"a.doc"} << QStringList{};
    QTest::newRow("the whole folder writes it anew")
        << QStringList{} << QStringList{"b.doc"} << false << QStringList{"gone.doc"} << QStringList{"b.doc"};
    QTest::newRow("the whole folder, interrupted")
        << QStringList{} << QStringList{} << true << QStringList{"c.doc", "gone.doc"}
        << QStringList{"c.doc", "gone.doc"};
}

void PrintCliRecordsTest::failureListAfterARun()
{
    QFETCH(QStringList, fromList);
    QFETCH(QStringList, failing);
    QFETCH(bool, interrupted);
    QFETCH(QStringList, listBefore);
    QFETCH(QStringList, listAfter);
    file("a.doc");
    file("b.doc");
    file("c.doc");
    for (const QString &name : failing)
        office_->addFailingPath(root_ + name);
    const QByteArray before = (lines(listBefore).join('\n') + '\n').toUtf8();
    QVERIFY(WriteAll(root_ + FailureListName, before));
    PrintCommand command;
    command.folder = root_;
    if (!fromList.isEmpty()) {
        command.fromList = tmp_->path() + "/retry.txt";
        QVERIFY(WriteAll(command.fromList, (fromList.join('\n') + '\n').toUtf8()));
    }
    if (interrupted) {
        command.delayMs = 60000;
        QCOMPARE(executeInterruptedAt(command, "[1/3]"), 130);
    } else {
        execute(command);
    }
    if (listAfter == listBefore)
        QCOMPARE(ReadAll(root_ + FailureListName), before); // not even rewritten
    else if (listAfter.isEmpty())
        QVERIFY(!QFile::exists(root_ + FailureListName));
    else
        QCOMPARE(ReadAll(root_ + FailureListName), (lines(listAfter).join('\n') + '\n').toUtf8());
}

void PrintCliRecordsTest::pageRanges_data()
{
    QTest::addColumn<bool>("exporting");
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("pageCount"); // -1: the office cannot tell
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("pages"); // in the report; -1: empty
    // (Printing a range within and past the end: print_cli_weekly.py, on the real office and printer.)
    QTest::newRow("print, count unknown") << false << "2-5" << 1 << -1 << "printed" << -1;
    QTest::newRow("print every page") << false << "" << 3 << 2 << "printed" << 6;
    QTest::newRow("export within") << true << "1" << 1 << 4 << "exported" << 1;
    QTest::newRow("export past the end") << true << "50" << 1 << 1 << "no-pages" << 0;
}

// A range that selects nothing is said at once, with nothing sent; the report's pages are what came out.
void PrintCliRecordsTest::pageRanges()
{
    QFETCH(bool, exporting);
    QFETCH(QString, range);
    QFETCH(int, copies);
    QFETCH(int, pageCount);
    QFETCH(QString, outcome);
    QFETCH(int, pages);
    const QString document = file("a.doc");
    if (pageCount >= 0)
        office_->setPageCount(document, pageCount);
    office_->setFollowsJobs(true);
    PrintCommand command;
    command.folder = root_;
    command.printOptions.pages = range;
    command.printOptions.copies = copies;
    command.reportPath = tmp_->path() + "/r.json";
    if (exporting)
        command.pdfFolder = tmp_->path() + "/pdf";
    QCOMPARE(execute(command), outcome == "no-pages" ? 1 : 0);
    QVector<ReportRow> rows;
    QString error;
    QVERIFY(ReadReportRows(command.reportPath, ReadAll(command.reportPath), &rows, &error));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().outcome, outcome);
    QCOMPARE(rows.first().pages, pages);
    const bool sent = !office_->calls().filter(exporting ? "exportPdf(" : "printOut(").isEmpty();
    QCOMPARE(sent, outcome != "no-pages");
    QVERIFY(!QFile::exists(root_ + FailureListName) && !QFile::exists(root_ + PdfFailureListName));
}

// Only what is new: unchanged documents are left out and counted; a changed and a new one are printed; a
// document a killed run had begun may have printed, and is told so rather than printed again. (An
// unchanged folder printing nothing: print_cli_weekly.py.)
void PrintCliRecordsTest::newOnly()
{
    file("a.doc");
    file("b.doc");
    PrintCommand command;
    command.folder = root_;
    command.reportPath = tmp_->path() + "/r.csv";
    QCOMPARE(execute(command), 0);

    file("b.doc", "changed");
    file("c.doc");
    const QString ledger = PrintLedger::PathFor(command.reportPath);
    // A run killed while it printed d.doc left it begun in the ledger.
    const QString d = file("d.doc");
    const QFileInfo info(d);
    QVERIFY(WriteAll(ledger, "quillmark-ledger 1\nstarted\t3\t" +
                                 QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + "\t" +
                                 QByteArray("d.doc").toHex() + "\n"));
    office_ = InstallFakeWordProcessor();
    out_.clear();
    command.newOnly = true;
    QCOMPARE(execute(command), 1);
    QCOMPARE(office_->printedPaths(), (QStringList{root_ + "b.doc", root_ + "c.doc"}));
    QVERIFY2(out_.contains(QStringLiteral("跳过 1 个之前已打印、之后未改动的文档。")), qPrintable(out_));
    QVERIFY2(out_.contains(QStringLiteral("未能确认是否已打印：d.doc")), qPrintable(out_));
    QVERIFY2(out_.contains(QStringLiteral("1 个之前未能确认是否已打印、之后未改动的文档未再打印")),
             qPrintable(out_));
    QCOMPARE(ReadAll(root_ + FailureListName), (Marker + root_ + "d.doc\n").toUtf8());
}

// A watch against the fake, for the threads of its runs and its one office: documents taken in two
// batches, one office for both, none left when it ends (the whole watch meets the real office in
// print_cli_weekly.py).
void PrintCliRecordsTest::watchKeepsOneOffice()
{
    PrintCommand command;
    command.folder = root_;
    command.watch = true;
    command.stableSeconds = 1;
    command.reportPath = tmp_->path() + "/inbox.csv";
    file("a.doc");
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [this] {
        const int printed = office_->printedPaths().size();
        if (printed == 1 && !QFile::exists(root_ + "b.doc"))
            file("b.doc");
        if (printed == 2)
            QCoreApplication::quit();
    });
    poll.start(50);
    QCOMPARE(execute(command), 0);
    QCOMPARE(office_->printedPaths(), (QStringList{root_ + "a.doc", root_ + "b.doc"}));
    QCOMPARE(office_->calls().count("create"), 1);
    QVERIFY2(out_.endsWith(QStringLiteral("监视已结束。\n")), qPrintable(out_));
    restartEventLoops();
}

QTEST_GUILESS_MAIN(PrintCliRecordsTest)
#include "print_cli_records_test.moc"
