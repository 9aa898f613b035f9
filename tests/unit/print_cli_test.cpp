// quillmark-print: the command line, and whole runs against the fake word processor (progress lines,
// summary, exit codes, the failure list, the printer check, an interrupt).

#include "cli/printcli.h"
#include "cli/printcommand.h"
#include "print/threadobject.h"
#include "tests/unit/print_cli_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
// The run hands the word processor and the list native paths; the list is a text file in the local
// code page.
#ifdef _WIN32
const QByteArray ListLineEnd = "\r\n";
#else
const QByteArray ListLineEnd = "\n";
#endif

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}
} // namespace

class PrintCliTest : public PrintCliFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parse_data();
    void parse();
    void helpIsChineseAndEnglish();
    void run_data();
    void run();
    void oldFailureListIsRemoved();
    void unwritableFailureListIsReported();
    void unknownPrinterPrintsNothing();
    void unconfirmedDocumentsReported_data();
    void unconfirmedDocumentsReported();
    void interruptEndsTheRunAndTheOffice();
};

void PrintCliTest::init()
{
    QVERIFY(setUp(QStringLiteral("文档")));
}

void PrintCliTest::cleanup()
{
    QCOMPARE(tearDown(), 0);
}

void PrintCliTest::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");    // a part of the message; empty: accepted
    QTest::addColumn<QString>("expected"); // folder|delay|printer|passwordFile|ask|quiet|help

    QTest::newRow("folder only") << QStringList{"docs"} << ""
                                 << "docs|0|||0|0|0";
    QTest::newRow("every option") << QStringList{"--delay",         "2500",   "docs",
                                                 "--printer",       "office", "-q",
                                                 "--password-file", "pw.txt"}
                                  << ""
                                  << "docs|2500|office|pw.txt|0|1|0";
    QTest::newRow("joined values") << QStringList{"--delay=0", "--printer=a b", "--ask-password", "docs"}
                                   << ""
                                   << "docs|0|a b||1|0|0";
    QTest::newRow("largest delay") << QStringList{"docs", "--delay", "120000"} << ""
                                   << "docs|120000|||0|0|0";
    QTest::newRow("unknown option before help") << QStringList{"--bogus", "-h"} << "未知选项"
                                                << "";
    QTest::newRow("help alone") << QStringList{"--help"} << ""
                                << "|0|||0|0|1";
    QTest::newRow("folder after --") << QStringList{"--", "-docs"} << ""
                                     << "-docs|0|||0|0|0";
    QTest::newRow("dash is a folder") << QStringList{"-"} << ""
                                      << "-|0|||0|0|0";
    QTest::newRow("no folder") << QStringList{"--quiet"} << "请指定要打印的文件夹"
                               << "";
    QTest::newRow("two folders") << QStringList{"a", "b"} << "只能指定一个文件夹"
                                 << "";
    QTest::newRow("empty folder") << QStringList{""} << "文件夹不能为空"
                                  << "";
    QTest::newRow("delay too long") << QStringList{"docs", "--delay", "120001"} << "延时应为"
                                    << "";
    QTest::newRow("negative delay") << QStringList{"docs", "--delay=-1"} << "延时应为"
                                    << "";
    QTest::newRow("delay not a number") << QStringList{"docs", "--delay", "1e3"} << "延时应为"
                                        << "";
    QTest::newRow("delay missing") << QStringList{"docs", "--delay"} << "缺少取值"
                                   << "";
    QTest::newRow("empty printer") << QStringList{"docs", "--printer="} << "不能为空"
                                   << "";
    QTest::newRow("password given") << QStringList{"docs", "--password", "secret"} << "密码不能写在命令行上"
                                    << "";
    QTest::newRow("password joined") << QStringList{"docs", "--password=secret"} << "密码不能写在命令行上"
                                     << "";
    QTest::newRow("short password") << QStringList{"-p", "secret", "docs"} << "密码不能写在命令行上"
                                    << "";
    QTest::newRow("two password sources")
        << QStringList{"docs", "--ask-password", "--password-file", "f"} << "只能选其一"
        << "";
    QTest::newRow("unknown option") << QStringList{"docs", "--colour"} << "未知选项：--colour"
                                    << "";
}

void PrintCliTest::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(QString, expected);
    PrintCommand c;
    const QString message = ParsePrintCommand(arguments, &c);
    if (!error.isEmpty()) {
        QVERIFY2(message.contains(error), qPrintable(message));
        return;
    }
    QCOMPARE(message, QString());
    QCOMPARE(QStringList({c.folder, QString::number(c.delayMs), c.printer, c.passwordFile,
                          QString::number(c.askPassword), QString::number(c.quiet), QString::number(c.help)})
                 .join('|'),
             expected);
}

void PrintCliTest::helpIsChineseAndEnglish()
{
    const QString help = PrintCommandHelp();
    for (const char *option : {"--delay", "--printer", "--password-file", "--ask-password", "--quiet",
                               "QUILLMARK_PASSWORD", "130"})
        QVERIFY2(help.count(QLatin1String(option)) >= 2, option); // once in each language
    QVERIFY(help.contains(QStringLiteral("用法")));
    QVERIFY(help.contains(QStringLiteral("Usage")));
}

void PrintCliTest::run_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QString>("problem"); // the printer's
    QTest::addColumn<bool>("noOffice");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("err");

    const QString summary = QStringLiteral("已打印 %1 个文档，未能打印 %2 个。");
    QTest::newRow("all printed") << QStringList{"a.doc", "notes.txt", "报告/三月.docx"} << QStringList{} << ""
                                 << false << false << 0
                                 << QStringList{"[1/2] a.doc", "[2/2] 报告/三月.docx", summary.arg(2).arg(0)}
                                 << "";
    QTest::newRow("one fails") << QStringList{"a.doc", "b.docx"} << QStringList{"a.doc"} << "" << false
                               << false << 1
                               << QStringList{"[1/2] a.doc", "[2/2] b.docx", summary.arg(1).arg(1),
                                              QStringLiteral("未能打印的文档列在：ROOT/") + FailureListName}
                               << "";
    QTest::newRow("all fail") << QStringList{"a.doc"} << QStringList{"a.doc"} << "" << false << false << 1
                              << QStringList{"[1/1] a.doc", summary.arg(0).arg(1),
                                             QStringLiteral("未能打印的文档列在：ROOT/") + FailureListName}
                              << "";
    QTest::newRow("quiet") << QStringList{"a.doc", "b.doc"} << QStringList{"b.doc"} << "" << false << true
                           << 1 << QStringList{} << "";
    QTest::newRow("no documents") << QStringList{"a.txt"} << QStringList{} << "" << false << false << 0
                                  << QStringList{QStringLiteral("文件夹中没有 Word 文档。"),
                                                 summary.arg(0).arg(0)}
                                  << "";
    QTest::newRow("printer problem") << QStringList{"a.doc"} << QStringList{}
                                     << QStringLiteral("没有默认打印机。") << false << false << 2
                                     << QStringList{summary.arg(0).arg(0)}
                                     << QStringLiteral("没有默认打印机。");
    QTest::newRow("printer problem, quiet")
        << QStringList{"a.doc"} << QStringList{} << QStringLiteral("没有默认打印机。") << false << true << 2
        << QStringList{} << QStringLiteral("没有默认打印机。");
    QTest::newRow("no word processor")
        << QStringList{"a.doc"} << QStringList{} << "" << true << false << 2
        << QStringList{summary.arg(0).arg(0)}
        << QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能打印。");
}

void PrintCliTest::run()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, failing);
    QFETCH(QString, problem);
    QFETCH(bool, noOffice);
    QFETCH(bool, quiet);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    for (const QString &entry : entries)
        file(entry);
    for (const QString &entry : failing)
        office_->addFailingPath(Native(root_ + entry));
    if (!problem.isEmpty())
        office_->setPrinterProblem(problem);
    office_->setCreateFails(noOffice);

    PrintCommand command;
    command.folder = tmp_->path() + QStringLiteral("/文档"); // no trailing separator, as typed
    command.quiet = quiet;
    QCOMPARE(execute(command), exitCode);
    out.replaceInStrings(QStringLiteral("ROOT/"), Native(root_));
    for (QString &line : out) // a progress line's path
        if (line.startsWith(QLatin1Char('[')))
            line = line.section(QLatin1Char(' '), 0, 0) + QLatin1Char(' ') +
                   Native(line.section(QLatin1Char(' '), 1));
    QCOMPARE(out_.split('\n', Qt::SkipEmptyParts), out);
    QCOMPARE(err_.trimmed(), err);

    QByteArray expectedList;
    for (const QString &entry : failing)
        expectedList += Native(root_ + entry).toLocal8Bit() + ListLineEnd;
    QFile list(root_ + FailureListName);
    QCOMPARE(list.exists(), !failing.isEmpty());
    if (list.open(QIODevice::ReadOnly))
        QCOMPARE(list.readAll(), expectedList);
}

void PrintCliTest::oldFailureListIsRemoved()
{
    file("a.doc");
    QFile old(root_ + FailureListName);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("/somewhere/else.doc\n");
    old.close();
    PrintCommand command;
    command.folder = root_;
    QCOMPARE(execute(command), 0);
    QVERIFY(!old.exists());
    QVERIFY(!out_.contains(FailureListName));
}

void PrintCliTest::unwritableFailureListIsReported()
{
    file("a.doc");
    office_->addFailingPath(Native(root_ + "a.doc"));
    // A folder where the list would go: it cannot be written, and the summary must not point to it.
    QVERIFY(QDir().mkpath(root_ + FailureListName));
    PrintCommand command;
    command.folder = root_;
    QCOMPARE(execute(command), 1);
    QVERIFY2(!out_.contains(QStringLiteral("未能打印的文档列在")), qPrintable(out_));
    // Said once.
    QCOMPARE(err_.trimmed(), QStringLiteral("无法写入失败列表：%1").arg(Native(root_ + FailureListName)));
}

void PrintCliTest::unknownPrinterPrintsNothing()
{
    file("a.doc");
    // No print server at all: the name cannot be checked, so nothing is started.
    qputenv("CUPS_SERVER", QFile::encodeName(tmp_->path() + "/no-such-server.sock"));
    PrintCommand command;
    command.folder = root_;
    command.printer = QStringLiteral("elsewhere");
    const int code = execute(command);
    qunsetenv("CUPS_SERVER");
    QCOMPARE(code, 2);
#ifdef _WIN32
    // Word and WPS print only to the default printer: a choice is refused, not ignored.
    QVERIFY2(err_.contains(QStringLiteral("Windows 上不支持 --printer（elsewhere）")), qPrintable(err_));
#else
    QVERIFY2(err_.contains(QStringLiteral("无法连接打印服务")), qPrintable(err_));
#endif
    QCOMPARE(office_->calls(), QStringList());
}

void PrintCliTest::unconfirmedDocumentsReported_data()
{
    QTest::addColumn<QStringList>("unconfirmed");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("out");
    const QString summary = QStringLiteral("已打印 %1 个文档，未能打印 %2 个。");
    const QString line = QStringLiteral("未能确认是否已打印：%1");
    const QString list = QStringLiteral("未能打印的文档列在：ROOT/") + FailureListName;
    QTest::newRow("only unconfirmed")
        << QStringList{"sub/b.doc"} << QStringList{} << false
        << QStringList{"[1/3] a.doc",         "[2/3] c.doc",         "[3/3] sub/b.doc",
                       summary.arg(2).arg(0), line.arg("sub/b.doc"), list};
    QTest::newRow("beside a failure")
        << QStringList{"a.doc", "c.doc"} << QStringList{"sub/b.doc"} << false
        << QStringList{
               "[1/3] a.doc",     "[2/3] c.doc", "[3/3] sub/b.doc", summary.arg(0).arg(1), line.arg("a.doc"),
               line.arg("c.doc"), list};
    QTest::newRow("quiet") << QStringList{"c.doc"} << QStringList{} << true << QStringList{};
}

// Sent to the printer but not seen printed: not in the count, not among the failures, a line of its own,
// and the exit code says not everything printed.
void PrintCliTest::unconfirmedDocumentsReported()
{
    QFETCH(QStringList, unconfirmed);
    QFETCH(QStringList, failing);
    QFETCH(bool, quiet);
    QFETCH(QStringList, out);
    for (const char *name : {"a.doc", "c.doc", "sub/b.doc"})
        file(name);
    office_->setFollowsJobs(true);
    for (const QString &name : unconfirmed)
        office_->addJobUnconfirmedPath(Native(root_ + name));
    for (const QString &name : failing)
        office_->addFailingPath(Native(root_ + name));
    PrintCommand command;
    command.folder = root_;
    command.quiet = quiet;
    QCOMPARE(execute(command), 1);
    out.replaceInStrings(QStringLiteral("ROOT/"), Native(root_));
    out.replaceInStrings(QStringLiteral("sub/"), Native(QStringLiteral("sub/")));
    QCOMPARE(out_.split('\n', Qt::SkipEmptyParts), out);
    QCOMPARE(err_, QString());
    QFile list(root_ + FailureListName);
    QVERIFY(list.open(QIODevice::ReadOnly));
    QVERIFY(list.readAll().contains(
        QStringLiteral("[未确认] %1").arg(Native(root_ + unconfirmed.first())).toLocal8Bit()));
}

void PrintCliTest::interruptEndsTheRunAndTheOffice()
{
#ifdef _WIN32
    QSKIP("Windows delivers Ctrl+C only through a console, and the tests run without one");
#endif
    file("1.doc");
    file("2.doc");
    file("3.doc");
    PrintCommand command;
    command.folder = root_;
    // An hour's pause: a run that sat it out would never reach the end of this test.
    command.delayMs = 3600000;
    // SIGINT once the first document is printed and the run pauses.
    QCOMPARE(executeInterruptedAt(command, "[1/3]"), 130);
    QCOMPARE(out_.split('\n', Qt::SkipEmptyParts),
             (QStringList{"[1/3] 1.doc", QStringLiteral("已打印 1 个文档，未能打印 0 个。")}));
    QCOMPARE(err_.trimmed(), QStringLiteral("打印已中止。"));
    QVERIFY(office_->calls().contains("abort"));
}

QTEST_GUILESS_MAIN(PrintCliTest)
#include "print_cli_test.moc"
