// Listing of the folder tree on real temporary folders, and the document test.

#include "platform/filename.h"
#include "print/threadobject.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Builds entries below root: "a/b.doc" a file, "a/" a folder, "link@target" a symbolic link to root/target,
// "pipe|" a named pipe.
void Build(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.endsWith(QLatin1Char('|'))) {
            QVERIFY(mkfifo(QFile::encodeName(root + QLatin1Char('/') + entry.chopped(1)).constData(), 0600) ==
                    0);
            continue;
        }
        const int at = entry.indexOf(QLatin1Char('@'));
        if (at >= 0) {
            const QString link = root + QLatin1Char('/') + entry.left(at);
            QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
            QVERIFY2(QFile::link(root + QLatin1Char('/') + entry.mid(at + 1), link), qPrintable(entry));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(root + QLatin1Char('/') + entry));
        } else {
            const QString path = root + QLatin1Char('/') + entry;
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
}

// Removes what the temporary folder's own clean-up cannot: trees beyond the system's path length, and names
// that are not UTF-8.
struct RemoveTree
{
    QString path;
    ~RemoveTree() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path}); }
};

QStringList Relative(const QFileInfoList &list, const QString &root)
{
    QStringList result;
    for (const QFileInfo &info : list)
        result << QDir(root).relativeFilePath(info.filePath());
    return result;
}

} // namespace

class PrintDiscoveryTest : public QObject
{
    Q_OBJECT
private slots:
    void listing_data();
    void listing();
    void missingFolderIsEmpty();
    void trailingSlashGivesCleanPaths();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void unreadableFolderIsReported();
    void printableDocument_data();
    void printableDocument();
};

void PrintDiscoveryTest::listing_data()
{
    // Entries are made below a temporary folder; the scan starts at its subfolder "scan".
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty folder") << QStringList{"scan/"} << QStringList{};
    QTest::newRow("empty subfolders") << QStringList{"scan/a/", "scan/b/c/"} << QStringList{};
    QTest::newRow("files before subfolders") << QStringList{"scan/a.doc", "scan/sub/b.doc", "scan/z.doc"}
                                             << QStringList{"a.doc", "z.doc", "sub/b.doc"};
    QTest::newRow("depth first, pre-order")
        << QStringList{"scan/r.doc", "scan/a/1.doc", "scan/a/b/2.doc", "scan/a/c.doc", "scan/c/3.doc"}
        << QStringList{"r.doc", "a/1.doc", "a/c.doc", "a/b/2.doc", "c/3.doc"};
    QTest::newRow("names ignoring case")
        << QStringList{"scan/b.doc", "scan/A.doc", "scan/C.doc", "scan/B2/x.doc", "scan/a1/y.doc"}
        << QStringList{"A.doc", "b.doc", "C.doc", "a1/y.doc", "B2/x.doc"};
    QTest::newRow("every file, not only documents")
        << QStringList{"scan/notes.txt", "scan/a.doc", "scan/img.png"}
        << QStringList{"a.doc", "img.png", "notes.txt"};
    QTest::newRow("hidden file listed, hidden folder skipped")
        << QStringList{"scan/.hidden.doc", "scan/visible.doc", "scan/.secret/x.doc"}
        << QStringList{".hidden.doc", "visible.doc"};
    QTest::newRow("link to a file left out")
        << QStringList{"scan/real.doc", "scan/link.doc@scan/real.doc", "other.doc", "scan/out.doc@other.doc"}
        << QStringList{"real.doc"};
    QTest::newRow("names compared upper-cased, as NTFS does")
        << QStringList{"scan/_draft.doc", "scan/a.doc", "scan/B.doc", "scan/[1].doc", "scan/0.doc"}
        << QStringList{"0.doc", "a.doc", "B.doc", "[1].doc", "_draft.doc"};
    QTest::newRow("names differing in case only")
        << QStringList{"scan/a.doc", "scan/A.doc"} << QStringList{"A.doc", "a.doc"};
    QTest::newRow("names beyond ASCII") << QStringList{"scan/文档.doc", "scan/b.doc", "scan/目录/c.doc"}
                                        << QStringList{"b.doc", "文档.doc", "目录/c.doc"};
    QTest::newRow("pipe and broken links left out")
        << QStringList{"scan/a.doc", "scan/pipe|", "scan/gone.doc@nowhere.doc", "scan/gone@nowhere"}
        << QStringList{"a.doc"};
    QTest::newRow("linked folder entered")
        << QStringList{"scan/a.doc", "other/o.doc", "other/deep/d.doc", "scan/linked@other"}
        << QStringList{"a.doc", "linked/o.doc", "linked/deep/d.doc"};
    QTest::newRow("link back to the root")
        << QStringList{"scan/x.doc", "scan/a/y.doc", "scan/a/back@scan"} << QStringList{"x.doc", "a/y.doc"};
    QTest::newRow("link to itself") << QStringList{"scan/a/y.doc", "scan/a/self@scan/a"}
                                    << QStringList{"a/y.doc"};
    QTest::newRow("two links into each other")
        << QStringList{"p/p.doc", "q/q.doc", "p/toq@q", "q/top@p", "scan/in@p"}
        << QStringList{"in/p.doc", "in/toq/q.doc"};
    QTest::newRow("folder reached twice is listed once")
        << QStringList{"scan/a/x.doc", "scan/b@scan/a"} << QStringList{"a/x.doc"};
}

void PrintDiscoveryTest::listing()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    Build(tmp.path(), entries);
    const QString root = tmp.path() + QStringLiteral("/scan");
    ThreadObject worker;
    QCOMPARE(Relative(worker.ListFilesRecursively(root), root), expected);
}

void PrintDiscoveryTest::missingFolderIsEmpty()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    ThreadObject worker;
    QVERIFY(worker.ListFilesRecursively(tmp.path() + QStringLiteral("/missing")).isEmpty());
    QVERIFY(worker.ListFilesRecursively(QString()).isEmpty());
}

void PrintDiscoveryTest::trailingSlashGivesCleanPaths()
{
    // The folder chooser leaves a trailing "/": the run opens what filePath() says, so it must be clean.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    Build(tmp.path(), {"a.doc", "sub/b.doc"});
    ThreadObject worker;
    QStringList paths;
    for (const QFileInfo &info : worker.ListFilesRecursively(tmp.path() + QLatin1Char('/')))
        paths << info.filePath();
    QCOMPARE(paths, (QStringList{tmp.path() + "/a.doc", tmp.path() + "/sub/b.doc"}));
}

void PrintDiscoveryTest::namesKeepTheirBytes_data()
{
    // Byte names below the scanned folder: "x/" a folder, "x@y" a link to the folder y, else a file.
    QTest::addColumn<QList<QByteArray>>("entries");
    QTest::addColumn<QList<QByteArray>>("expected");
    using Bytes = QList<QByteArray>;
    QTest::newRow("stray 0xFF") << Bytes{"bad\xff.doc"} << Bytes{"bad\xff.doc"};
    QTest::newRow("GBK names") << Bytes{"\xce\xc4\xb5\xb5.doc", "\xd6\xd0\xce\xc4.docx"}
                               << Bytes{"\xce\xc4\xb5\xb5.doc", "\xd6\xd0\xce\xc4.docx"};
    QTest::newRow("folder not in UTF-8 is entered")
        << Bytes{"sub\xfe/", "sub\xfe/x.doc", "sub\xfe/deeper\xff/", "sub\xfe/deeper\xff/y.doc"}
        << Bytes{"sub\xfe/x.doc", "sub\xfe/deeper\xff/y.doc"};
    QTest::newRow("newline and carriage return")
        << Bytes{"a\nb.doc", "c\r.doc"} << Bytes{"a\nb.doc", "c\r.doc"};
    QTest::newRow("4-byte UTF-8") << Bytes{"\xf0\x9f\x98\x80.doc"} << Bytes{"\xf0\x9f\x98\x80.doc"};
    QTest::newRow("overlong and truncated forms")
        << Bytes{"\xc0\xaf.doc", "\xed\xa0\x80.doc", "t\xe6\x96.doc"}
        << Bytes{"t\xe6\x96.doc", "\xc0\xaf.doc", "\xed\xa0\x80.doc"};
    QTest::newRow("raw bytes sort after characters")
        << Bytes{"\xff.doc", "\xe6\x96\x87.doc", "B.doc", "a.doc"}
        << Bytes{"a.doc", "B.doc", "\xe6\x96\x87.doc", "\xff.doc"};
    QTest::newRow("linked folder with a raw name")
        << Bytes{"../target\xfe/", "../target\xfe/t.doc", "link\xff@../target\xfe"}
        << Bytes{"link\xff/t.doc"};
}

void PrintDiscoveryTest::namesKeepTheirBytes()
{
    QFETCH(QList<QByteArray>, entries);
    QFETCH(QList<QByteArray>, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const RemoveTree removal{tmp.path()};
    const QByteArray root = QFile::encodeName(tmp.path()) + "/scan/";
    QVERIFY(mkdir(root.constData(), 0700) == 0);
    for (const QByteArray &entry : entries) {
        const int at = entry.indexOf('@');
        if (at >= 0) {
            QVERIFY(symlink((root + entry.mid(at + 1)).constData(), (root + entry.left(at)).constData()) ==
                    0);
        } else if (entry.endsWith('/')) {
            QVERIFY(mkdir((root + entry).constData(), 0700) == 0);
        } else {
            const int fd = open((root + entry).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            QVERIFY(fd >= 0);
            const QByteArray name = entry.mid(entry.lastIndexOf('/') + 1);
            QVERIFY(write(fd, name.constData(), static_cast<size_t>(name.size())) == name.size());
            close(fd);
        }
    }
    ThreadObject worker;
    QStringList unreadable;
    const QFileInfoList listed = worker.ListFilesRecursively(DecodeFileName(root), &unreadable);
    QList<QByteArray> relative;
    for (const QFileInfo &info : listed) {
        const QByteArray bytes = EncodeFileName(info.filePath());
        QVERIFY2(bytes.startsWith(root), bytes.constData());
        relative << bytes.mid(root.size());
        // The listed path reaches the very file: each holds its own name.
        const int fd = open(bytes.constData(), O_RDONLY);
        QVERIFY2(fd >= 0, bytes.constData());
        char content[256] = {};
        const ssize_t got = read(fd, content, sizeof content);
        close(fd);
        QVERIFY(bytes.endsWith(QByteArray(content, static_cast<int>(got))));
    }
    QCOMPARE(relative, expected);
    QCOMPARE(unreadable, QStringList());
}

void PrintDiscoveryTest::unreadableFolderIsReported()
{
    // A tree deeper than the longest path the system opens: what lies below that depth cannot be listed,
    // and the scan says where it stopped instead of passing over it. (Permissions would not stop the
    // superuser; path length stops everyone.)
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const RemoveTree removal{tmp.path()};
    const QByteArray root = QFile::encodeName(tmp.path()) + "/scan";
    QVERIFY(mkdir(root.constData(), 0700) == 0);
    int dirFd = open(root.constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(dirFd >= 0);
    const QByteArray level(200, 'd');
    QByteArray path = root;
    int reachable = 0; // files at depths the system can still open by path
    for (int depth = 0; depth < 25; ++depth) {
        const int fileFd = openat(dirFd, "f.doc", O_WRONLY | O_CREAT, 0600);
        QVERIFY(fileFd >= 0);
        close(fileFd);
        if (path.size() + 1 < PATH_MAX)
            ++reachable;
        QVERIFY(mkdirat(dirFd, level.constData(), 0700) == 0);
        const int next = openat(dirFd, level.constData(), O_RDONLY | O_DIRECTORY);
        close(dirFd);
        QVERIFY(next >= 0);
        dirFd = next;
        path += '/' + level;
    }
    close(dirFd);

    ThreadObject worker;
    QStringList unreadable;
    const QFileInfoList listed = worker.ListFilesRecursively(DecodeFileName(root), &unreadable);
    QCOMPARE(listed.size(), reachable);
    QCOMPARE(unreadable.size(), 1);
    const QByteArray stopped = EncodeFileName(unreadable.first());
    QVERIFY(stopped.size() + 1 >= PATH_MAX);
    QVERIFY(stopped.size() - level.size() < PATH_MAX);
    QVERIFY(path.startsWith(stopped));
    QCOMPARE(worker.ListFilesRecursively(DecodeFileName(root)), listed);
}

void PrintDiscoveryTest::printableDocument_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("printable");
    QTest::newRow(".doc") << "C:\\x\\Report.doc" << true;
    QTest::newRow(".docx") << "C:\\x\\Report.docx" << true;
    QTest::newRow(".docm") << "/home/u/a.docm" << true;
    QTest::newRow("upper-case extension") << "C:\\x\\Report.DOC" << false;
    QTest::newRow("mixed-case extension") << "a.Docx" << false;
    QTest::newRow("owner file") << "C:\\x\\~$port.docx" << false;
    QTest::newRow("marker in a folder name") << "C:\\~$tmp\\a.doc" << false;
    QTest::newRow("template") << "a.dot" << false;
    QTest::newRow("rich text") << "a.rtf" << false;
    QTest::newRow("backup") << "a.doc.bak" << false;
    QTest::newRow("tilde without dollar") << "C:\\~tmp\\a$.doc" << true;
    QTest::newRow("bare extension") << ".doc" << true;
    QTest::newRow("empty") << "" << false;
}

void PrintDiscoveryTest::printableDocument()
{
    QFETCH(QString, path);
    QFETCH(bool, printable);
    QCOMPARE(ThreadObject::IsPrintableDocument(path), printable);
}

QTEST_GUILESS_MAIN(PrintDiscoveryTest)
#include "print_discovery_test.moc"
