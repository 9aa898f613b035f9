// quillmark-print for batches: checking, several passwords, print options, PDF export, the report and
// lists of documents; the files it reads and writes, and whole runs against the fake word processor.

#include "cli/printcli.h"
#include "cli/printcommand.h"
#include "cli/printinputs.h"
#include "cli/printreport.h"
#include "platform/filename.h"
#include "print/failurelist.h"
#include "print/pdfexport.h"
#include "print/threadobject.h"
#include "tests/unit/print_cli_fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class PrintCliBatchTest : public PrintCliFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parse_data();
    void parse();
    void helpNamesTheBatchOptions();
    void passwords_data();
    void passwords();
    void csvRecord_data();
    void csvRecord();
    void documentList_data();
    void documentList();
    void reportReadsBackAsAList_data();
    void reportReadsBackAsAList();

    void check();
    void passwordsTriedInOrder_data();
    void passwordsTriedInOrder();
    void printOptionsReachTheOffice();
    void printOptionsTheOfficeCannotHonour();
    void pdfTheOfficeCannotMake();
    void pdf_data();
    void pdf();
    void pdfNamesShared();
    void reportOfAPrintRun_data();
    void reportOfAPrintRun();
    void reportIsWrittenAsTheRunGoes();
    void interruptedRunKeepsItsReport();
    void fromList();
    void badInputStartsNoOffice_data();
    void badInputStartsNoOffice();

private:
    QStringList outLines() const { return out_.split('\n', Qt::SkipEmptyParts); }
    int opens() const;
    // A document below the folder as the run names it: the system's separators.
    QString native(const QString &relative) const { return QDir::toNativeSeparators(root_ + relative); }
};

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Text files end their lines as the system's do.
const QByteArray LineEnd = kWindows ? "\r\n" : "\n";

// A failure list's bytes: the paths in the file system's own encoding, a line each.
QByteArray ListBytes(const QStringList &paths)
{
    QByteArray bytes;
    for (const QString &path : paths)
        bytes += EncodeFileName(FailureListLine(QDir::toNativeSeparators(path))) + LineEnd;
    return bytes;
}

// Text written as UTF-8 in the tables, as a plain list holds it: in the file system's encoding (the ANSI
// code page on Windows). Bytes that are not UTF-8 stay as they are.
QByteArray SystemBytes(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    return text.toUtf8() == utf8 ? EncodeFileName(text) : utf8;
}

QStringList TextLines(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
}

} // namespace

void PrintCliBatchTest::init()
{
    QVERIFY(setUp(QStringLiteral("文档")));
}

void PrintCliBatchTest::cleanup()
{
    QCOMPARE(tearDown(), 0);
}

int PrintCliBatchTest::opens() const
{
    return int(office_->calls().filter(QStringLiteral("open(")).size());
}

void PrintCliBatchTest::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // a part of the message; empty: accepted
    // check|passwordsFile|copies|collate|duplex|pages|pdf|overwrite|report|fromList
    QTest::addColumn<QString>("expected");

    QTest::newRow("print options") << QStringList{"docs",          "--copies", "2",    "--collate",
                                                  "--duplex=long", "--pages",  "1-3,5"}
                                   << ""
                                   << "0||2|1|2|1-3,5||0||";
    QTest::newRow("short edge, one page") << QStringList{"docs", "--duplex", "short", "--pages=7"} << ""
                                          << "0||1|0|3|7||0||";
    QTest::newRow("one-sided, most copies") << QStringList{"docs", "--duplex", "off", "--copies=999"} << ""
                                            << "0||999|0|1|||0||";
    QTest::newRow("check with passwords")
        << QStringList{"--check", "docs", "--passwords-file", "pw.txt"} << ""
        << "1|pw.txt|1|0|0|||0||";
    QTest::newRow("pdf from a report")
        << QStringList{"docs",  "--pdf",    "out",      "--overwrite", "--from-list",
                       "r.csv", "--report", "new.JSON", "--pages",     "2-2"}
        << ""
        << "0||1|0|0|2-2|out|1|new.JSON|r.csv";
    QTest::newRow("check from a failure list")
        << QStringList{"docs", "--check", "--from-list=failed.txt", "--report=r.csv"} << ""
        << "1||1|0|0|||0|r.csv|failed.txt";

    QTest::newRow("zero copies") << QStringList{"docs", "--copies", "0"} << "份数应为"
                                 << "";
    QTest::newRow("negative copies") << QStringList{"docs", "--copies=-2"} << "份数应为"
                                     << "";
    QTest::newRow("too many copies") << QStringList{"docs", "--copies", "1000"} << "份数应为"
                                     << "";
    QTest::newRow("copies not a number") << QStringList{"docs", "--copies", "2x"} << "份数应为"
                                         << "";
    QTest::newRow("copies missing") << QStringList{"docs", "--copies"} << "缺少取值"
                                    << "";
    QTest::newRow("duplex unknown") << QStringList{"docs", "--duplex", "both"} << "双面打印应为"
                                    << "";
    QTest::newRow("duplex in capitals") << QStringList{"docs", "--duplex", "LONG"} << "双面打印应为"
                                        << "";
    QTest::newRow("page zero") << QStringList{"docs", "--pages", "0"} << "页码范围无效"
                               << "";
    QTest::newRow("pages backwards") << QStringList{"docs", "--pages", "5-3"} << "页码范围无效"
                                     << "";
    QTest::newRow("pages with an empty part") << QStringList{"docs", "--pages", "1,,2"} << "页码范围无效"
                                              << "";
    QTest::newRow("pages open-ended") << QStringList{"docs", "--pages", "3-"} << "页码范围无效"
                                      << "";
    QTest::newRow("pages with a space") << QStringList{"docs", "--pages", "1, 2"} << "页码范围无效"
                                        << "";
    QTest::newRow("pages trailing comma") << QStringList{"docs", "--pages", "1,"} << "页码范围无效"
                                          << "";
    QTest::newRow("pages words") << QStringList{"docs", "--pages", "all"} << "页码范围无效"
                                 << "";
    QTest::newRow("pages empty") << QStringList{"docs", "--pages="} << "不能为空"
                                 << "";
    QTest::newRow("report of another kind") << QStringList{"docs", "--report", "r.txt"} << ".csv 或 .json"
                                            << "";
    QTest::newRow("check and pdf") << QStringList{"docs", "--check", "--pdf", "out"} << "只能选其一"
                                   << "";
    QTest::newRow("copies when checking") << QStringList{"docs", "--check", "--copies", "2"} << "只用于打印"
                                          << "";
    QTest::newRow("duplex for a pdf") << QStringList{"docs", "--pdf", "o", "--duplex", "long"} << "只用于打印"
                                      << "";
    QTest::newRow("printer for a pdf") << QStringList{"docs", "--pdf", "o", "--printer", "p"} << "只用于打印"
                                       << "";
    QTest::newRow("pages when checking") << QStringList{"docs", "--check", "--pages", "1"} << "不能与 --check"
                                         << "";
    QTest::newRow("overwrite without pdf") << QStringList{"docs", "--overwrite"} << "只能与 --pdf"
                                           << "";
    QTest::newRow("passwords file and password file")
        << QStringList{"docs", "--passwords-file", "a", "--password-file", "b"} << "只能选其一"
        << "";
    QTest::newRow("passwords file and asking")
        << QStringList{"docs", "--passwords-file", "a", "--ask-password"} << "只能选其一"
        << "";
    QTest::newRow("misspelt option") << QStringList{"docs", "--copy", "2"} << "未知选项：--copy"
                                     << "";
    QTest::newRow("an option where a folder should be")
        << QStringList{"docs", "--pdf", "--overwrite"} << "--pdf 缺少取值（--overwrite 是另一个选项"
        << "";
    QTest::newRow("a short option where a folder should be")
        << QStringList{"docs", "--pdf", "-q"} << "缺少取值"
        << "";
    QTest::newRow("a value with a dash, joined") << QStringList{"docs", "--pdf=-out-"} << ""
                                                 << "0||1|0|0||-out-|0||";
    QTest::newRow("a delay a check ignores")
        << QStringList{"docs", "--check", "--delay", "5"} << "--delay 只用于打印"
        << "";
    QTest::newRow("a delay an export ignores")
        << QStringList{"docs", "--pdf", "o", "--delay=0"} << "--delay 只用于打印"
        << "";
    QTest::newRow("only what is new, without a report")
        << QStringList{"docs", "--new-only"} << "需要 --report"
        << "";
    QTest::newRow("a watch without a report") << QStringList{"docs", "--watch"} << "需要 --report"
                                              << "";
    QTest::newRow("a watch of a list")
        << QStringList{"docs", "--watch", "--report", "r.csv", "--from-list", "l"} << "--watch 不能与"
        << "";
    QTest::newRow("settling without a watch")
        << QStringList{"docs", "--stable-seconds", "3"} << "只能与 --watch 同用"
        << "";
    QTest::newRow("settling for no time")
        << QStringList{"docs", "--watch", "--report", "r.csv", "--stable-seconds=0"}
        << "--stable-seconds 应为"
        << "";
    QTest::newRow("a done folder for a check")
        << QStringList{"docs", "--check", "--done-folder", "d"} << "--done-folder 不能与 --check"
        << "";
}

void PrintCliBatchTest::parse()
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
    const WordProcessor::PrintOptions &o = c.printOptions;
    QCOMPARE(QStringList({QString::number(c.check), c.passwordsFile, QString::number(o.copies),
                          QString::number(o.collate), QString::number(int(o.duplex)), o.pages, c.pdfFolder,
                          QString::number(c.overwrite), c.reportPath, c.fromList})
                 .join('|'),
             expected);
}

void PrintCliBatchTest::helpNamesTheBatchOptions()
{
    const QString help = PrintCommandHelp();
    for (const char *option : {"--check", "--passwords-file", "--copies", "--collate", "--duplex", "--pages",
                               "--pdf", "--overwrite", "--report", "--from-list", "--new-only", "--watch",
                               "--stable-seconds", "--done-folder"}) {
        // Once in each language, as an option of its own ("--pdf" is also the start of nothing else).
        const QRegularExpression mention(
            QStringLiteral("\\n  %1[ ,]").arg(QRegularExpression::escape(option)));
        QVERIFY2(help.count(mention) == 2, option);
    }
}

void PrintCliBatchTest::passwords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("error");

    QTest::newRow("lines") << QByteArray("one\ntwo\n") << QStringList{"one", "two"} << "";
    QTest::newRow("no line end at the end") << QByteArray("one\ntwo") << QStringList{"one", "two"} << "";
    QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n") << QStringList{"one", "two"} << "";
    QTest::newRow("empty line: no password")
        << QByteArray("one\n\ntwo\n") << QStringList{"one", "", "two"} << "";
    QTest::newRow("only an empty line") << QByteArray("\n") << QStringList{""} << "";
    QTest::newRow("spaces are part of it") << QByteArray(" a b \n") << QStringList{" a b "} << "";
    QTest::newRow("Chinese") << QByteArray("密码一\n密碼二\n") << QStringList{"密码一", "密碼二"} << "";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFone\n") << QStringList{"one"} << "";
    QTest::newRow("empty file") << QByteArray() << QStringList{} << "空的";
    QTest::newRow("GBK") << QByteArray("\xC3\xDC\xC2\xEB\n") << QStringList{} << "不是 UTF-8";
    QTest::newRow("a stray byte on line two")
        << QByteArray("fine\nbad\xFF\n") << QStringList{} << "不是 UTF-8";
    QTest::newRow("cut-off character") << QByteArray("\xE5\xAF") << QStringList{} << "不是 UTF-8";
}

void PrintCliBatchTest::passwords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);
    QStringList passwords;
    QString message;
    QCOMPARE(ParsePasswords(bytes, &passwords, &message), error.isEmpty());
    QVERIFY2(message.contains(error), qPrintable(message));
    if (error.isEmpty())
        QCOMPARE(passwords, expected);
}

void PrintCliBatchTest::csvRecord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("next");

    QTest::newRow("plain") << "a,b,c\nd" << QStringList{"a", "b", "c"} << 6;
    QTest::newRow("CR LF") << "a,b\r\nc" << QStringList{"a", "b"} << 5;
    QTest::newRow("empty fields") << ",,\n" << QStringList{"", "", ""} << 3;
    QTest::newRow("comma in quotes") << "\"a,b\",c" << QStringList{"a,b", "c"} << 7;
    QTest::newRow("doubled quote") << "\"say \"\"hi\"\"\",x\n" << QStringList{"say \"hi\"", "x"} << 15;
    QTest::newRow("line break in quotes") << "\"two\nlines\",x\ny" << QStringList{"two\nlines", "x"} << 14;
    QTest::newRow("last line without end") << "a" << QStringList{"a"} << 1;
}

void PrintCliBatchTest::csvRecord()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    QFETCH(int, next);
    int at = -1;
    QCOMPARE(ParseCsvRecord(text, 0, &at), fields);
    QCOMPARE(at, next);
}

void PrintCliBatchTest::documentList_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // ROOT/ stands for the folder
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("error");

    const QString header = PrintReport::CsvHeader() + '\n';
    QTest::newRow("failure list") << "无法设置或修改密码的文件目录.txt"
                                  << QByteArray("ROOT/b.doc\nROOT/报告/a.docx\n")
                                  << QStringList{"b.doc", "报告/a.docx"} << "";
    QTest::newRow("failure list with documents not seen printed")
        << "无法设置或修改密码的文件目录.txt"
        << (QStringLiteral("ROOT/b.doc\n") + FailureListUnconfirmedMarker() + "ROOT/报告/a.docx\n").toUtf8()
        << QStringList{"b.doc", "报告/a.docx"} << "";
    QTest::newRow("relative, CR LF, empty lines") << "list.txt" << QByteArray("b.doc\r\n\r\nsub/./c.doc\r\n")
                                                  << QStringList{"b.doc", "sub/c.doc"} << "";
    QTest::newRow("bytes that are not UTF-8")
        << "list.txt" << QByteArray("bad\xFF.doc\n") << QStringList{DecodeFileName("bad\xFF.doc")} << "";
    QTest::newRow("up and out") << "list.txt" << QByteArray("a.doc\n../elsewhere.doc\n") << QStringList{}
                                << "不在文件夹内：../elsewhere.doc";
    QTest::newRow("absolute elsewhere")
        << "list.txt" << QByteArray("/etc/passwd\n") << QStringList{} << "不在文件夹内";
    QTest::newRow("a sibling with the same beginning")
        << "list.txt" << QByteArray("ROOT/../文档2/a.doc\n") << QStringList{} << "不在文件夹内";
    QTest::newRow("down and up again")
        << "list.txt" << QByteArray("sub/../a.doc\n") << QStringList{"a.doc"} << "";
    QTest::newRow("the folder itself")
        << "list.txt" << QByteArray("ROOT/\n") << QStringList{} << "不在文件夹内";
    QTest::newRow("csv report: done rows left out")
        << "r.CSV"
        << (header + "a.doc,printed,,7,1,0.1,\nb.doc,wrong-password,,,,0.1,\n\"c,d.doc\",damaged,,,,0.1,\n"
                     "e.doc,exported,,,2,0.3,\nf.doc,not-tried,,,,0.000,\n")
               .toUtf8()
        << QStringList{"b.doc", "c,d.doc", "f.doc"} << "";
    QTest::newRow("csv report: exact bytes from hex")
        << "r.csv" << (header + "bad\uFFFD.doc,timed-out,,,,1.0,6261648a2e646f63\n").toUtf8()
        << QStringList{DecodeFileName("bad\x8a.doc")} << "";
    QTest::newRow("csv columns in another order")
        << "r.csv" << QByteArray("outcome,path\nprinted,a.doc\nprinter-error,b.doc\n") << QStringList{"b.doc"}
        << "";
    QTest::newRow("csv without a path column")
        << "r.csv" << QByteArray("name,outcome\na.doc,damaged\n") << QStringList{} << "缺少 path 列";
    QTest::newRow("csv report naming a file outside")
        << "r.csv" << (header + "../x.doc,damaged,,,,0.1,\n").toUtf8() << QStringList{} << "不在文件夹内";
    QTest::newRow("json report")
        << "r.json"
        << QByteArray("{\"path\":\"a.doc\",\"outcome\":\"printed\"}\n"
                      "{\"path\":\"b\\nc.doc\",\"outcome\":\"damaged\"}\n\n"
                      "{\"path\":\"x\uFFFD.doc\",\"outcome\":\"damaged\",\"path_hex\":\"78fe2e646f63\"}\n")
        << QStringList{"b\nc.doc", DecodeFileName("x\xFE.doc")} << "";
    QTest::newRow("json line that is not a row")
        << "r.json" << QByteArray("{\"path\":\"a.doc\"}\n[1,2]\n") << QStringList{} << "第 2 行";
    QTest::newRow("a stray quote")
        << "r.csv"
        << QByteArray("path,outcome\na.doc,damaged\nb\"c.doc,damaged\nd.doc,damaged\ne.doc,damaged\n")
        << QStringList{} << "第 3 行的引号不成对";
    QTest::newRow("text after a closing quote") << "r.csv" << QByteArray("path,outcome\n\"a.doc\"x,damaged\n")
                                                << QStringList{} << "第 2 行的引号不成对";
    QTest::newRow("quotes never closed")
        << "r.csv" << QByteArray("path,outcome\na.doc,damaged\n\"b.doc,damaged\nc.doc,damaged\n")
        << QStringList{} << "第 3 行的引号不成对";
    QTest::newRow("more fields than the header") << "r.csv" << QByteArray("path,outcome\na.doc,damaged,x\n")
                                                 << QStringList{} << "第 2 行的列数多于表头";
    QTest::newRow("csv saved in GBK") << "r.csv" << QByteArray("path,outcome\n\xb1\xa8\xb8\xe6.doc,damaged\n")
                                      << QStringList{} << "第 2 行不是 UTF-8";
    QTest::newRow("csv with a byte order mark")
        << "r.csv" << QByteArray("\xEF\xBB\xBFpath,outcome\na.doc,damaged\n") << QStringList{"a.doc"} << "";
    QTest::newRow("list with a byte order mark") << "list.txt"
                                                 << QByteArray("\xEF\xBB\xBF"
                                                               "a.doc\nb.doc\n")
                                                 << QStringList{"a.doc", "b.doc"} << "";
    QTest::newRow("a NUL in a line") << "list.txt" << QByteArray("a.doc\nb\0.doc\n", 14) << QStringList{}
                                     << "第 2 行含有 NUL";
    QTest::newRow("a document named twice is taken once")
        << "list.txt" << QByteArray("a.doc\nsub/../a.doc\nROOT/a.doc\nb.doc\n")
        << QStringList{"a.doc", "b.doc"} << "";
}

void PrintCliBatchTest::documentList()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);
    bytes.replace("ROOT/", root_.toUtf8());
    const QString lower = name.toLower();
    if (!lower.endsWith(".csv") && !lower.endsWith(".json"))
        bytes = SystemBytes(bytes);
    QStringList paths;
    QString message;
    QCOMPARE(ParseDocumentList(name, bytes, root_, &paths, &message), error.isEmpty());
    QVERIFY2(message.contains(QDir::toNativeSeparators(error)), qPrintable(message));
    if (!error.isEmpty())
        return;
    for (QString &path : expected)
        path = QDir::toNativeSeparators(root_ + path);
    QCOMPARE(paths, expected);
}

void PrintCliBatchTest::reportReadsBackAsAList_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("csv") << "report.csv";
    QTest::newRow("json") << "report.json";
}

// What a report says of each document comes back exactly, through the reader of lists and through a
// plain parser of its format; rows written out of order stand in the documents' order.
void PrintCliBatchTest::reportReadsBackAsAList()
{
    QFETCH(QString, name);
    const QString path = tmp_->path() + '/' + name;
    PrintReport report(path, true);
    // Windows names hold no line break, and its names are all Unicode (a GBK name is one there).
    const QString twoLines = kWindows ? QStringLiteral("two lines.doc") : QStringLiteral("two\nlines.doc");
    const QStringList names{QStringLiteral("报告/三月.docx"), DecodeFileName("gbk\xC8\xFD.doc"),
                            QStringLiteral("a \"quoted\", name.doc"), twoLines,
                            QStringLiteral("printed.doc")};
    const QStringList outcomes{"wrong-password", "damaged", "not-tried", "timed-out", "printed"};
    for (int i : {3, 0, 4, 2, 1}) {
        ReportRow row;
        row.path = names.at(i);
        row.outcome = outcomes.at(i);
        row.passwordLine = i;
        row.jobId = i == 4 ? 42 : 0;
        row.pages = i == 4 ? 3 : -1;
        row.seconds = 0.25 * i;
        QVERIFY(report.add(i + 1, row));
    }
    QVERIFY(report.flush());
    const QByteArray bytes = ReadAll(path);
    QVERIFY(!bytes.isEmpty());
    QVERIFY2(QString::fromUtf8(bytes).toUtf8() == bytes, "not UTF-8");

    QStringList paths;
    QString error;
    QVERIFY2(ParseDocumentList(name, bytes, root_, &paths, &error), qPrintable(error));
    QStringList expected;
    for (int i = 0; i < 4; ++i)
        expected << QDir::toNativeSeparators(root_ + names.at(i));
    QCOMPARE(paths, expected);

    if (name.endsWith(".json")) {
        const QList<QByteArray> lines = bytes.trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        const QJsonObject printed = QJsonDocument::fromJson(lines.at(4)).object();
        QCOMPARE(printed.value("job_id").toInt(), 42);
        QCOMPARE(printed.value("pages").toInt(), 3);
        QCOMPARE(printed.value("password_line").toInt(), 4);
        QCOMPARE(printed.value("seconds").toDouble(), 1.0);
        QVERIFY(!printed.contains("path_hex"));
        const QJsonObject gbk = QJsonDocument::fromJson(lines.at(1)).object();
        const bool unicodeName = names.at(1).isValidUtf16();
        QCOMPARE(gbk.value("path_hex").toString(),
                 unicodeName ? QString() : QStringLiteral("67626bc8fd2e646f63"));
        QCOMPARE(gbk.value("path").toString(),
                 unicodeName ? names.at(1) : QStringLiteral("gbk\uFFFD\uFFFD.doc"));
        QVERIFY(QJsonDocument::fromJson(lines.at(0)).object().value("job_id").isNull());
    } else {
        QVERIFY(bytes.startsWith(PrintReport::CsvHeader().toUtf8() + LineEnd));
        QVERIFY2(bytes.contains("\nprinted.doc,printed,4,42,3,1.000,,," + LineEnd), bytes.constData());
    }
}

void PrintCliBatchTest::check()
{
    file("a.doc");
    file("b.doc");
    file("c.docx");
    file("d.doc");
    file("sub/e.docm");
    office_->setRequiredPassword(native("b.doc"), "two");
    office_->setRequiredPassword(native("sub/e.docm"), "nobody knows");
    office_->addFailingPath(native("c.docx"));
    office_->addTimingOutPath(native("d.doc"));
    PrintCommand command;
    command.folder = root_;
    command.check = true;
    command.passwordsFile = "pw.txt";
    QCOMPARE(execute(command, {"one", "two"}), 1);
    QCOMPARE(outLines(),
             (QStringList{QStringLiteral("[1/5] a.doc：可以打开"),
                          QStringLiteral("[2/5] b.doc：可以打开（已加密，密码文件第 2 行）"),
                          QStringLiteral("[3/5] c.docx：已损坏或不是 Word 文档"),
                          QStringLiteral("[4/5] d.doc：超时，文字处理软件已被结束"),
                          QStringLiteral("[5/5] ") + QDir::toNativeSeparators("sub/e.docm") +
                              QStringLiteral("：需要密码，所给的密码都打不开"),
                          QStringLiteral("共 5 个文档：2 个可以打开（1 个已加密），3 个无法打开。")}));
    const QStringList calls = office_->calls();
    QVERIFY(calls.filter("printOut").isEmpty());
    QVERIFY2(calls.filter("printerProblem").isEmpty(), "a check needs no printer");
    QVERIFY(calls.contains("quit"));
    QVERIFY2(!QFile::exists(root_ + FailureListName), "a check leaves the folder as it was");
    QCOMPARE(err_, QString());

    // Everything opens: 0.
    out_.clear();
    office_ = InstallFakeWordProcessor();
    QFile::remove(root_ + "c.docx");
    QFile::remove(root_ + "d.doc");
    QFile::remove(root_ + "sub/e.docm");
    office_->setRequiredPassword(native("b.doc"), "two");
    QCOMPARE(execute(command, {"one", "two"}), 0);
    QCOMPARE(outLines().last(), QStringLiteral("共 2 个文档：2 个可以打开（1 个已加密），0 个无法打开。"));
}

void PrintCliBatchTest::passwordsTriedInOrder_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("required"); // empty: the document has no password
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("clientTells"); // the client tells a wrong password from other failures
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("line");

    QTest::newRow("third line opens")
        << QStringList{"alpha-pw", "bravo-pw", "charlie-pw"} << "charlie-pw" << false << true
        << QStringList{"", "alpha-pw", "bravo-pw", "charlie-pw"} << "printed" << 3;
    QTest::newRow("first opens, the rest not tried")
        << QStringList{"alpha-pw", "bravo-pw"} << "alpha-pw" << false << true << QStringList{"", "alpha-pw"}
        << "printed" << 1;
    QTest::newRow("no password needed")
        << QStringList{"alpha-pw", "bravo-pw"} << "" << false << true << QStringList{""} << "printed" << 0;
    QTest::newRow("the list's empty line opens it") << QStringList{"alpha-pw", "", "bravo-pw"} << "" << false
                                                    << true << QStringList{""} << "printed" << 2;
    QTest::newRow("empty line not offered twice")
        << QStringList{"alpha-pw", "", "bravo-pw"} << "bravo-pw" << false << true
        << QStringList{"", "alpha-pw", "bravo-pw"} << "printed" << 3;
    QTest::newRow("none opens") << QStringList{"alpha-pw", "bravo-pw"} << "zulu-pw" << false << true
                                << QStringList{"", "alpha-pw", "bravo-pw"} << "wrong-password" << 0;
    QTest::newRow("damaged: no further password")
        << QStringList{"alpha-pw", "bravo-pw"} << "" << true << true << QStringList{""} << "damaged" << 0;
    QTest::newRow("a client that cannot tell tries them all")
        << QStringList{"alpha-pw", "bravo-pw"} << "zulu-pw" << false << false
        << QStringList{"", "alpha-pw", "bravo-pw"} << "damaged" << 0;
    QTest::newRow("the same password twice")
        << QStringList{"alpha-pw", "alpha-pw", "bravo-pw"} << "bravo-pw" << false << true
        << QStringList{"", "alpha-pw", "alpha-pw", "bravo-pw"} << "printed" << 3;
}

void PrintCliBatchTest::passwordsTriedInOrder()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, required);
    QFETCH(bool, damaged);
    QFETCH(bool, clientTells);
    QFETCH(QStringList, offered);
    QFETCH(QString, outcome);
    QFETCH(int, line);
    file("x.doc");
    const QString document = native("x.doc");
    if (!required.isEmpty())
        office_->setRequiredPassword(document, required);
    if (damaged)
        office_->addFailingPath(document);
    office_->setTellsOpenFailures(clientTells);
    PrintCommand command;
    command.folder = root_;
    command.passwordsFile = "pw.txt";
    command.reportPath = tmp_->path() + "/r.json";
    execute(command, lines);

    QStringList expectedOpens;
    for (const QString &password : offered)
        expectedOpens << QStringLiteral("open(%1,false,false,false,%2,%2,true)").arg(document, password);
    QCOMPARE(office_->calls().filter("open("), expectedOpens);
    const QJsonObject row = QJsonDocument::fromJson(ReadAll(command.reportPath).trimmed()).object();
    QCOMPARE(row.value("outcome").toString(), outcome);
    QCOMPARE(row.value("password_line").toInt(0), line);
    // The line's number, never the password.
    for (const QString &password : lines)
        QVERIFY2(password.isEmpty() || !ReadAll(command.reportPath).contains(password.toUtf8()),
                 "a password in the report");
}

void PrintCliBatchTest::printOptionsReachTheOffice()
{
    file("a.doc");
    file("b.doc");
    PrintCommand command;
    command.folder = root_;
    command.printOptions.copies = 3;
    command.printOptions.collate = true;
    command.printOptions.duplex = WordProcessor::PrintOptions::Duplex::ShortEdge;
    command.printOptions.pages = "2-4,9";
    QCOMPARE(execute(command), 0);
    const QStringList calls = office_->calls();
    const int set = int(calls.indexOf("setPrintOptions(copies=3,collate=true,duplex=short,pages=2-4,9)"));
    QVERIFY2(set >= 0, qPrintable(calls.join('\n')));
    QVERIFY(set < int(calls.indexOf(QRegularExpression("open\\(.*"))));
    QCOMPARE(calls.filter("setPrintOptions").size(), 1);
    // Each document with its copies is still one printed document.
    QCOMPARE(office_->printedPaths().size(), 2);
    QCOMPARE(outLines().last(), QStringLiteral("已打印 2 个文档，未能打印 0 个。"));

    // Without options the office is not asked: the window's runs stay as they were.
    office_ = InstallFakeWordProcessor();
    PrintCommand plain;
    plain.folder = root_;
    QCOMPARE(execute(plain), 0);
    QVERIFY(office_->calls().filter("setPrintOptions").isEmpty());
}

void PrintCliBatchTest::printOptionsTheOfficeCannotHonour()
{
    file("a.doc");
    office_->setPrintOptionsRefused(true);
    PrintCommand command;
    command.folder = root_;
    command.printOptions.copies = 2;
    QCOMPARE(execute(command), 2);
    QCOMPARE(opens(), 0);
    QVERIFY2(err_.contains(QStringLiteral("不支持所选的打印选项")), qPrintable(err_));
}

void PrintCliBatchTest::pdfTheOfficeCannotMake()
{
    file("a.doc");
    office_->setPdfExportUnsupported(true);
    PrintCommand command;
    command.folder = root_;
    command.pdfFolder = tmp_->path() + "/pdf";
    QCOMPARE(execute(command), 2);
    QCOMPARE(opens(), 0);
    QVERIFY2(err_.contains(QStringLiteral("不能导出 PDF")), qPrintable(err_));
    QVERIFY(!QFileInfo::exists(root_ + "无法设置或修改密码的文件目录.txt"));
}

void PrintCliBatchTest::pdf_data()
{
    QTest::addColumn<QString>("pdfFolder"); // below the temporary folder; "文档" is the printed folder itself
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("ours"); // the PDF that was there is one this program made
    QTest::addColumn<bool>("exportFails");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("keptText"); // what the PDF that was there holds afterwards

    QTest::newRow("new folder") << "pdf/新" << false << false << false << 1 << "mine";
    QTest::newRow("ours replaced") << "pdf" << true << true << false << 0 << "%PDF fake of ROOT/a.doc";
    QTest::newRow("ours kept without --overwrite") << "pdf" << false << true << false << 1 << "mine";
    QTest::newRow("a sender's kept with --overwrite") << "文档" << true << false << false << 1 << "mine";
    QTest::newRow("beside the documents") << "文档" << false << false << false << 1 << "mine";
    QTest::newRow("export fails") << "pdf" << true << true << true << 1 << "mine";
}

void PrintCliBatchTest::pdf()
{
    QFETCH(QString, pdfFolder);
    QFETCH(bool, overwrite);
    QFETCH(bool, ours);
    QFETCH(bool, exportFails);
    QFETCH(int, exitCode);
    QFETCH(QString, keptText);
    file("a.doc");
    file("报告/三月.docx");
    file("b.docm");
    office_->setRequiredPassword(native("b.docm"), "secret");
    const QString out = tmp_->path() + '/' + pdfFolder + '/';
    QVERIFY(WriteAll(out + "a.pdf", "mine"));
    if (ours)
        QVERIFY(MadePdfs(out).record("a.pdf", QCryptographicHash::hash("mine", QCryptographicHash::Sha256)));
    if (exportFails)
        office_->addExportFailingPath(native("a.doc"));
    PrintCommand command;
    command.folder = root_;
    command.pdfFolder = tmp_->path() + '/' + pdfFolder;
    command.overwrite = overwrite;
    command.passwordsFile = "pw.txt";
    QCOMPARE(execute(command, {"secret"}), exitCode);

    keptText.replace("ROOT/a.doc", native("a.doc"));
    QCOMPARE(QString::fromUtf8(ReadAll(out + "a.pdf")), keptText);
    QCOMPARE(ReadAll(out + QStringLiteral("报告/三月.pdf")),
             ("%PDF fake of " + native("报告/三月.docx")).toUtf8());
    QCOMPARE(ReadAll(out + "b.pdf"), ("%PDF fake of " + native("b.docm")).toUtf8());
    QVERIFY2(office_->calls().filter("printerProblem").isEmpty(), "no printer needed");
    QVERIFY(office_->calls().filter("printOut").isEmpty());
    // No half-made file stays anywhere.
    QDirIterator it(tmp_->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY2(!it.next().endsWith(".part"), qPrintable(it.filePath()));

    const bool skipped = !overwrite || !ours;
    QCOMPARE(out_.contains(QStringLiteral("[1/3] a.doc：PDF 已存在，未覆盖")), skipped);
    // A PDF that stays needs no office.
    QCOMPARE(office_->calls().filter("open(" + native("a.doc") + ",").isEmpty(), skipped);
    // The export's own list; the print run's is not touched.
    QVERIFY(!QFile::exists(root_ + FailureListName));
    QCOMPARE(QFile::exists(root_ + PdfFailureListName), exportFails);
    if (exportFails)
        QCOMPARE(ReadAll(root_ + PdfFailureListName), ListBytes({root_ + "a.doc"}));
}

// a.doc and a.docx both become a.pdf: the second never replaces the first's, not even with --overwrite.
void PrintCliBatchTest::pdfNamesShared()
{
    file("a.doc");
    file("a.docx");
    PrintCommand command;
    command.folder = root_;
    command.pdfFolder = tmp_->path() + "/pdf";
    command.overwrite = true;
    command.reportPath = tmp_->path() + "/r.csv";
    QCOMPARE(execute(command), 1);
    const QByteArray made = ReadAll(command.pdfFolder + "/a.pdf");
    QCOMPARE(made, "%PDF fake of " + native("a.doc").toUtf8());
    QCOMPARE(office_->calls().filter("exportPdf").size(), 1);
    const QString report = QString::fromUtf8(ReadAll(command.reportPath));
    QVERIFY2(report.contains("\na.doc,exported,") && report.contains("\na.docx,skipped-existing,"),
             qPrintable(report));
}

void PrintCliBatchTest::reportOfAPrintRun_data()
{
    QTest::addColumn<bool>("followsJobs");
    QTest::newRow("jobs followed") << true;
    QTest::newRow("jobs not followed") << false;
}

void PrintCliBatchTest::reportOfAPrintRun()
{
    QFETCH(bool, followsJobs);
    file("1.doc");
    file("2.doc");
    file("3.doc");
    file("4.doc");
    office_->setFollowsJobs(followsJobs);
    office_->addFailingPath(native("2.doc"));
    if (followsJobs)
        office_->addJobFailingPath(native("3.doc"));
    else
        office_->addPrintFailingPath(native("3.doc"));
    office_->setPageCount(native("1.doc"), 12);
    PrintCommand command;
    command.folder = root_;
    command.reportPath = tmp_->path() + "/报告.csv";
    QCOMPARE(execute(command), 1);
    const QStringList lines = TextLines(ReadAll(command.reportPath));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), PrintReport::CsvHeader());
    // A single password gives no line; the fake numbers the jobs it follows 100 + its handle.
    const QStringList expected{followsJobs ? "1.doc,printed,,100,12," : "1.doc,printed,,,12,",
                               "2.doc,damaged,,,,",
                               followsJobs ? "3.doc,printer-error,,101,," : "3.doc,printer-error,,,,",
                               followsJobs ? "4.doc,printed,,102,," : "4.doc,printed,,,,"};
    for (int i = 0; i < 4; ++i) {
        const QString line = lines.at(i + 1);
        QVERIFY2(line.startsWith(expected.at(i)), qPrintable(line));
        // seconds, no path_hex, the file's size (3 bytes) and its time
        QVERIFY2(
            QRegularExpression(",\\d+\\.\\d{3},,3,\\d{4}-\\d\\d-\\d\\dT[0-9:.]+Z$").match(line).hasMatch(),
            qPrintable(line));
    }
    QCOMPARE(ReadAll(root_ + FailureListName), ListBytes({root_ + "2.doc", root_ + "3.doc"}));
    QVERIFY(out_.contains(QStringLiteral("报告：") + QDir::toNativeSeparators(command.reportPath)));
}

void PrintCliBatchTest::reportIsWrittenAsTheRunGoes()
{
    file("1.doc");
    file("2.doc");
    file("3.doc");
    office_->setOpenDelayMs(600);
    PrintCommand command;
    command.folder = root_;
    command.reportPath = tmp_->path() + "/r.json";
    QByteArray seenMidRun;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        const QByteArray now = ReadAll(command.reportPath);
        if (seenMidRun.isEmpty() && now.contains("1.doc") && !now.contains("3.doc"))
            seenMidRun = now;
    });
    poll.start(20);
    QCOMPARE(execute(command), 0);
    poll.stop();
    QVERIFY2(seenMidRun.contains("\"outcome\":\"printed\""), seenMidRun.constData());
    QCOMPARE(ReadAll(command.reportPath).count('\n'), 3);
}

// Ctrl-C in the pause after the first document: the report names that one printed and the others not
// tried, so that a report-driven reprint takes exactly those.
void PrintCliBatchTest::interruptedRunKeepsItsReport()
{
#ifdef _WIN32
    QSKIP("Windows delivers Ctrl+C only through a console, and the tests run without one");
#endif
    file("1.doc");
    file("2.doc");
    file("3.doc");
    PrintCommand command;
    command.folder = root_;
    command.delayMs = 60000;
    command.reportPath = tmp_->path() + "/r.csv";
    QCOMPARE(executeInterruptedAt(command, "[1/3]"), 130);
    QStringList paths;
    QString error;
    QVERIFY(ParseDocumentList(command.reportPath, ReadAll(command.reportPath), root_, &paths, &error));
    QCOMPARE(paths, (QStringList{native("2.doc"), native("3.doc")}));
    QVERIFY(ReadAll(command.reportPath).contains("\n1.doc,printed,"));
}

void PrintCliBatchTest::fromList()
{
    file("a.doc");
    file("b.doc");
    file("sub/c.doc");
    file("notes.txt", "text");
    // In the list's order, not the folder's; gone and foreign files are not tried.
    const QString list = tmp_->path() + "/list.txt";
    QVERIFY(WriteAll(list, EncodeFileName(native("sub/c.doc\n") + native("gone.doc\nnotes.txt\na.doc\n"))));
    PrintCommand command;
    command.folder = root_;
    command.fromList = list;
    command.reportPath = tmp_->path() + "/r.csv";
    QCOMPARE(execute(command), 1);
    QCOMPARE(office_->printedPaths(), (QStringList{native("sub/c.doc"), native("a.doc")}));
    const QString notTaken = QStringLiteral("：文件不存在、不是 Word 文档、是链接或在隐藏文件夹中，未尝试");
    QCOMPARE(outLines(),
             (QStringList{"[1/4] " + QDir::toNativeSeparators("sub/c.doc"), "[2/4] gone.doc" + notTaken,
                          "[3/4] notes.txt" + notTaken, "[4/4] a.doc",
                          QStringLiteral("已打印 2 个文档，未能打印 0 个。"),
                          QStringLiteral("列表中有 2 个文档已不存在或不能选用，未尝试。"),
                          QStringLiteral("报告：") + QDir::toNativeSeparators(command.reportPath)}));
    // The report of that run, taken as a list, names just the two documents not printed.
    QStringList again;
    QString error;
    QVERIFY(ParseDocumentList(command.reportPath, ReadAll(command.reportPath), root_, &again, &error));
    QCOMPARE(again, (QStringList{native("gone.doc"), native("notes.txt")}));
}

void PrintCliBatchTest::badInputStartsNoOffice_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message");
    QTest::newRow("report in a missing folder") << "report"
                                                << "报告所在的文件夹不存在";
    QTest::newRow("list that does not exist") << "missing list"
                                              << "无法读取文档列表";
    QTest::newRow("list naming a file outside") << "outside list"
                                                << "不在文件夹内";
    QTest::newRow("pdf folder where a file is") << "pdf on a file"
                                                << "无法创建 PDF 文件夹";
    // Windows prints to its default printer only.
    QTest::newRow("unknown printer") << "printer" << (kWindows ? "不支持 --printer" : "无法连接打印服务");
}

void PrintCliBatchTest::badInputStartsNoOffice()
{
    QFETCH(QString, what);
    QFETCH(QString, message);
    file("a.doc");
    QVERIFY(WriteAll(tmp_->path() + "/outside.txt", "../a.doc\n"));
    QVERIFY(WriteAll(tmp_->path() + "/plain-file", "x"));
    PrintCommand command;
    command.folder = root_;
    if (what == "report")
        command.reportPath = tmp_->path() + "/no/such/folder/r.csv";
    else if (what == "missing list")
        command.fromList = tmp_->path() + "/no-list.txt";
    else if (what == "outside list")
        command.fromList = tmp_->path() + "/outside.txt";
    else if (what == "pdf on a file")
        command.pdfFolder = tmp_->path() + "/plain-file";
    else if (what == "printer") {
        qputenv("CUPS_SERVER", QFile::encodeName(tmp_->path() + "/no-such-server.sock"));
        command.printer = "elsewhere";
        command.reportPath = tmp_->path() + "/r.csv";
    }
    const int code = execute(command);
    qunsetenv("CUPS_SERVER");
    QCOMPARE(code, 2);
    QVERIFY2(err_.contains(message), qPrintable(err_));
    QCOMPARE(office_->calls(), QStringList());
    QVERIFY(!QFile::exists(root_ + FailureListName));
    QVERIFY2(!QFile::exists(tmp_->path() + "/r.csv"), "nothing is written before the input is known good");
}

QTEST_GUILESS_MAIN(PrintCliBatchTest)
#include "print_cli_batch_test.moc"
