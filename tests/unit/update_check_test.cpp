// The update check against real loopback servers, with real zip packages in a folder of its own.

#include "platform/download.h"
#include "platform/namerules.h"
#include "platform/net.h"
#include "platform/selfpath.h"
#include "update/endpointcipher.h"
#include "update/httppost_internal.h"
#include "update/packageinstall.h"
#include "update/updatecheck.h"
#include "update_loopback_server.h"
#include "update_qtfiles.h"
#include "update_zipbytes.h"
#include "winedownloads.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <map>
#include <quazip.h>
#include <quazipfile.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const int64_t kNow = 1733572800; // reversed: 0082753371

std::string Md5Of(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toStdString();
}

struct ZipEntry
{
    QString name;
    QByteArray data;
    QFile::Permissions permissions =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    bool symbolicLink = false;
};

} // namespace

Q_DECLARE_METATYPE(ZipEntry)

namespace {

bool WriteZip(const QString &path, const QList<ZipEntry> &entries)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate)) {
        return false;
    }
    for (const ZipEntry &e : entries) {
        QuaZipFile file(&zip);
        QuaZipNewInfo info(e.name);
        info.setPermissions(e.permissions);
        if (e.symbolicLink) {
            info.externalAttr = (0120777u << 16);
        }
        if (!file.open(QIODevice::WriteOnly, info) || file.write(e.data) != e.data.size()) {
            return false;
        }
        file.close();
    }
    zip.close();
    return zip.getZipError() == 0;
}

QByteArray SampleProgram()
{
    return ReadAll(QStringLiteral(UPDATE_SAMPLE_PROGRAM));
}

// The program's file name on this system, as a package carries it ("Quillmark.exe" on Windows), and the
// other system's.
const QString ExeName = QString::fromLatin1(InstanceExecutableName());
const QString OtherExeName =
    ExeName == QLatin1String("Quillmark") ? QStringLiteral("Quillmark.exe") : QStringLiteral("Quillmark");

// The name of the backup the update keeps of the program at exePath.
QString BackupOf(const QString &exePath)
{
    return QString::fromStdString(BackupPathFor(exePath.toStdString()));
}

// One update server on loopback: the version reply for POST, the package (or 404) for GET.
class ReleaseServer
{
public:
    explicit ReleaseServer(const char *tag = "")
        : tag_(tag), http_([this](const std::string &request) { return Answer(request); })
    {
    }
    std::string versionBody;
    QByteArray package;
    bool packageMissing = false;
    int failVersionRequests = 0; // the first ones answer 503
    // When set, the whole answer to a version request, instead of a 200 with versionBody.
    std::function<LoopbackReply()> versionReply;
    QStringList *log = nullptr;
    QMutex *logMutex = nullptr;

    uint16_t port() const { return http_.port(); }
    bool listening() const { return http_.listening(); }
    // Offers program, by its digest, in a package of entries.
    bool offer(const QList<ZipEntry> &entries, const QByteArray &program)
    {
        versionBody = "{\"Quillmark\":\"" + Md5Of(program) + "\"}";
        QTemporaryDir dir;
        const bool written = dir.isValid() && WriteZip(dir.filePath("p.zip"), entries);
        package = ReadAll(dir.filePath("p.zip"));
        return written;
    }
    std::vector<std::string> downloads() const
    {
        std::vector<std::string> gets;
        for (const std::string &r : http_.requests()) {
            if (r.compare(0, 4, "GET ") == 0) {
                gets.push_back(r.substr(4, r.find(' ', 4) - 4));
            }
        }
        return gets;
    }
    int versionRequests() const
    {
        int n = 0;
        for (const std::string &r : http_.requests()) {
            n += r.compare(0, 5, "POST ") == 0 ? 1 : 0;
        }
        return n;
    }

private:
    LoopbackReply Answer(const std::string &request)
    {
        if (request.compare(0, 5, "POST ") == 0) {
            if (log != nullptr) {
                QMutexLocker lock(logMutex);
                *log << tag_;
            }
            if (failVersionRequests > 0) {
                --failVersionRequests;
                return LoopbackHttpServer::Text("HTTP/1.0 503 Busy\r\n\r\n");
            }
            if (versionReply) {
                return versionReply();
            }
            return LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" +
                                            versionBody);
        }
        if (packageMissing) {
            return LoopbackHttpServer::Text("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
        }
        return LoopbackHttpServer::Text("HTTP/1.0 200 OK\r\nContent-Length: " +
                                        std::to_string(package.size()) + "\r\n\r\n" + package.toStdString());
    }

    QString tag_;
    LoopbackHttpServer http_;
};

// A program folder: the running executable (a real program) and nothing else.
struct ProgramFolder
{
    QTemporaryDir root;
    QString appDir;
    QString exePath;
    QByteArray oldProgram;

    explicit ProgramFolder(const QString &exeName = ExeName)
    {
        appDir = root.path() + QStringLiteral("/app/");
        QDir().mkpath(appDir);
        exePath = appDir + exeName;
        oldProgram = SampleProgram() + QByteArray("\nrelease 1\n");
        WriteAll(exePath, oldProgram);
        QFile::setPermissions(exePath, QFile::permissions(exePath) | QFile::ExeOwner | QFile::ExeGroup |
                                           QFile::ExeOther);
    }
    QString package() const { return appDir + QStringLiteral("Quillmark.zip"); }
    // The install of the package beside the program, expecting newProgram as its executable.
    InstallRequest install(const QByteArray &newProgram) const
    {
        return InstallRequest{package().toStdString(), appDir.toStdString(), exePath.toStdString(),
                              Md5Of(newProgram), [](unsigned) {}};
    }
    QStringList entries() const
    {
        QStringList names;
        QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            names << QDir(root.path()).relativeFilePath(it.next());
        }
        names.sort();
        return names;
    }
};

// No staging folder of the updater is left in the program's folder.
bool NoStagingLeft(const ProgramFolder &folder)
{
    return QDir(folder.appDir)
        .entryList({QStringLiteral("Quillmark_update*")}, QDir::AllEntries | QDir::System | QDir::Hidden)
        .isEmpty();
}

// The zip's bytes with every occurrence of from (the name in the local and the central header) replaced by
// to, of the same length: names and sizes that the zip library would not write.
QByteArray Patched(QByteArray zip, const QByteArray &from, const QByteArray &to)
{
    return zip.replace(from, to);
}

// Sets the uncompressed size that the local header and the central directory declare for the first entry.
QByteArray WithDeclaredSize(QByteArray zip, quint32 size)
{
    const auto set = [&zip, size](int at) {
        for (int i = 0; i < 4; ++i) {
            zip[at + i] = char((size >> (8 * i)) & 0xff);
        }
    };
    set(zip.indexOf(QByteArray("PK\x03\x04", 4)) + 22);
    set(zip.indexOf(QByteArray("PK\x01\x02", 4)) + 24);
    return zip;
}

struct Balloon
{
    QString title;
    QString text;
    QSystemTrayIcon::MessageIcon icon;
    int ms;
    QThread *thread;
};

class Harness
{
public:
    ProgramFolder &folder;
    std::map<std::string, uint16_t> ports;
    UpdateServer primary;
    UpdateServer secondary;
    QObject balloonTarget;
    QList<Balloon> balloons;
    std::function<bool()> stop;
    std::function<void(unsigned)> sleep;

    explicit Harness(ProgramFolder &f) : folder(f) {}

    UpdateEnvironment Environment()
    {
        UpdateEnvironment env;
        env.server = [this](bool second) { return second ? secondary : primary; };
        env.versionRequest = [this](const std::string &host, const std::string &path, std::string &reply) {
            return HttpPostOnPort(host.c_str(), ports[host], path.c_str(), "", reply, 5000);
        };
        env.download = DownloadToFileForTest;
        env.now = [] { return kNow; };
        // The pauses of the program are not what these tests wait for.
        env.sleep = sleep ? sleep : [](unsigned) {};
        env.stopRequested = stop;
        env.balloonContext = &balloonTarget;
        env.showBalloon = [this](const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon,
                                 int ms) {
            balloons << Balloon{title, text, icon, ms, QThread::currentThread()};
        };
        env.exePath = folder.exePath.toStdString();
        env.appDir = folder.appDir.toStdString();
        env.packagePath = folder.package().toStdString();
        return env;
    }

    // Runs the check on a thread of its own, as the program does, while this thread serves queued calls.
    UpdateOutcome Run()
    {
        UpdateOutcome outcome = UpdateOutcome::Stopped;
        const UpdateEnvironment env = Environment();
        QThread *thread = QThread::create([&] { outcome = RunUpdateCheck(env); });
        thread->start();
        while (!thread->wait(10)) {
            QCoreApplication::processEvents();
        }
        delete thread;
        QCoreApplication::processEvents();
        return outcome;
    }

    static int DownloadToFileForTest(const char *url, std::FILE *file, const DownloadWatch &watch)
    {
        return DownloadIntoFile(url, file, DefaultDownloadLimits(), nullptr, watch);
    }
};

} // namespace

Q_DECLARE_METATYPE(UpdateOutcome)

namespace QTest {
template <> inline char *toString(const UpdateOutcome &outcome)
{
    static const char *const names[] = {"Stopped",         "Current",    "DownloadFailed",
                                        "PackageRejected", "SwapFailed", "Updated"};
    return qstrdup(names[int(outcome)]);
}
} // namespace QTest

class UpdateCheckTest : public QObject
{
    Q_OBJECT

    // A release server at 127.0.0.1 that serves as the only (primary) server.
    static void UsePrimary(Harness &h, ReleaseServer &server, const std::string &base = "/dl/")
    {
        h.ports["127.0.0.1"] = server.port();
        h.primary = {"127.0.0.1", "/version", "http://127.0.0.1:" + std::to_string(server.port()) + base};
        h.secondary = h.primary;
    }

private slots:
    void fileMd5Hex_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72";
        QTest::newRow("one block exactly") << QByteArray(1024, 'a') << "c9a34cfc85d982698c6ac89f76071abd";
        QTest::newRow("a million a") << QByteArray(1000000, 'a') << "7707d6ae4e027c70eea2a935c2296f21";
        QTest::newRow("binary with NULs") << QByteArray("\0\1\2\0", 4) << "0f0c725e025036e905dc2ed035406463";
    }
    void fileMd5Hex()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, digest);
        QTemporaryDir dir;
        const QString path = dir.path() + "/f.bin";
        QVERIFY(WriteAll(path, content));
        char hex[33] = "";
        QCOMPARE(FileMd5Hex(path.toLocal8Bit().constData(), hex), 0);
        QCOMPARE(QString(hex), digest);
    }
    void fileMd5HexOfMissingFileLeavesTheText()
    {
        char hex[33] = "unchanged";
        QCOMPARE(FileMd5Hex("/nonexistent/quillmark/file", hex), -1);
        QCOMPARE(QString(hex), QString("unchanged"));
    }

    void backupPath_data()
    {
        QTest::addColumn<QString>("exePath");
        QTest::addColumn<QString>("backup");
        QTest::newRow("windows program") << "C:\\Tools\\Quillmark.exe"
                                         << "C:\\Tools\\Quillmark_old";
        QTest::newRow("renamed program") << "C:\\Tools\\Print2.exe"
                                         << "C:\\Tools\\Print2_old";
        QTest::newRow("last .exe only") << "C:\\A.exe\\B.exe"
                                        << "C:\\A.exe\\B_old";
        QTest::newRow("linux program") << "/opt/quillmark/Quillmark"
                                       << "/opt/quillmark/Quillmark_old";
        QTest::newRow("relative without .exe") << "Quillmark"
                                               << "Quillmark_old";
    }
    void backupPath()
    {
        QFETCH(QString, exePath);
        QFETCH(QString, backup);
        QCOMPARE(QString::fromStdString(BackupPathFor(exePath.toStdString())), backup);
    }

    void downloadAddress_data()
    {
        QTest::addColumn<qlonglong>("now");
        QTest::addColumn<QString>("address");
        QTest::newRow("digits reversed") << qlonglong(1733572800) << "http://h/d/Quillmark.zip?t=0082753371";
        QTest::newRow("zero") << qlonglong(0) << "http://h/d/Quillmark.zip?t=0";
    }
    void downloadAddress()
    {
        QFETCH(qlonglong, now);
        QFETCH(QString, address);
        QCOMPARE(QString::fromStdString(DownloadAddress("http://h/d/", now)), address);
    }

    void endpointCipher_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("fits");
        QTest::newRow("host") << "127.0.0.1" << 32 << true;
        QTest::newRow("host at capacity") << "update.example." << 32 << true;
        QTest::newRow("host too long") << "update.example.co" << 32 << false;
        QTest::newRow("secondary host") << "mirror.update.example.org" << 64 << true;
        QTest::newRow("version path") << "/quillmark/version.php" << 64 << true;
        QTest::newRow("download base") << "http://update.example.org/quillmark/release/" << 96 << true;
        QTest::newRow("download base too long")
            << "http://update.example.org/quillmark/releases/2026/" << 96 << false;
        QTest::newRow("empty") << "" << 32 << true;
        QTest::newRow("no digits") << "" << 0 << false;
        QTest::newRow("one digit") << "" << 1 << false;
        QTest::newRow("odd digit count") << "h" << 33 << false;
        QTest::newRow("less than a block") << "h" << 30 << false;
        QTest::newRow("not whole blocks") << "h" << 48 << false;
    }
    void endpointCipher()
    {
        QFETCH(QString, plain);
        QFETCH(int, digits);
        QFETCH(bool, fits);
        std::string hex;
        QCOMPARE(EncipherEndpoint(plain.toStdString(), digits, hex) == 0, fits);
        if (!fits) {
            return;
        }
        QCOMPARE(int(hex.size()), digits);
        QVERIFY(QRegularExpression("^[0-9a-f]+$").match(QString::fromStdString(hex)).hasMatch());
        QVERIFY(hex.find(QByteArray(plain.toLatin1()).toHex().toStdString()) == std::string::npos ||
                plain.isEmpty());
        std::string back;
        QCOMPARE(DecipherEndpoint(hex.c_str(), back), 0);
        QCOMPARE(QString::fromStdString(back), plain);
    }
    void endpointCipherRefusesBrokenHex()
    {
        std::string plain;
        QCOMPARE(DecipherEndpoint("0123", plain), -1);                             // not a whole block
        QCOMPARE(DecipherEndpoint("zz23456789abcdef0123456789abcdef", plain), -1); // not hex
    }

    // Primary refuses, secondary answers: the secondary's reply and its download base are used.
    void refusedPrimaryFallsBackToTheSecondary()
    {
        ProgramFolder folder;
        ReleaseServer second;
        QVERIFY(second.listening());
        second.versionBody = "{\"Quillmark\":\"" + std::string(32, '0') + "\"}";
        second.packageMissing = true;
        Harness h(folder);
        h.ports["127.0.0.2"] = RefusingLoopbackPort();
        h.ports["127.0.0.1"] = second.port();
        h.primary = {"127.0.0.2", "/version", "http://127.0.0.2/primary/"};
        h.secondary = {"127.0.0.1", "/v2", "http://127.0.0.1:" + std::to_string(second.port()) + "/second/"};
        QCOMPARE(h.Run(), WineDownloads() ? UpdateOutcome::PackageRejected : UpdateOutcome::DownloadFailed);
        QCOMPARE(second.versionRequests(), 1);
        const std::vector<std::string> gets = second.downloads();
        QCOMPARE(int(gets.size()), 1);
        QCOMPARE(QString::fromStdString(gets[0]), QString("/second/Quillmark.zip?t=0082753371"));
    }

    // Neither answers at first: the primary, then the secondary, round after round, with a pause before each
    // round that starts at 511 ms and grows, until one answers.
    void retriesPrimaryThenSecondaryWithGrowingPauses()
    {
        ProgramFolder folder;
        QStringList order;
        QMutex orderMutex;
        ReleaseServer first("P"), second("S");
        for (ReleaseServer *s : {&first, &second}) {
            s->log = &order;
            s->logMutex = &orderMutex;
            s->versionBody = "{\"Quillmark\":\"" + Md5Of(folder.oldProgram) + "\"}";
        }
        first.failVersionRequests = 1000;
        second.failVersionRequests = 2;
        Harness h(folder);
        std::vector<unsigned> pauses;
        h.sleep = [&pauses](unsigned ms) { pauses.push_back(ms); };
        h.ports["127.0.0.1"] = first.port();
        h.ports["localhost"] = second.port();
        h.primary = {"127.0.0.1", "/v", "http://127.0.0.1/"};
        h.secondary = {"localhost", "/v", "http://127.0.0.1/"};
        QCOMPARE(h.Run(), UpdateOutcome::Current);
        QCOMPARE(pauses, (std::vector<unsigned>{511, 1022, 2044}));
        QCOMPARE(order.join(""), QString("PSPSPS"));
        QVERIFY(first.downloads().empty() && second.downloads().empty());
    }

    // The pause grows with every round that failed (the first ones: above), and stops growing at five
    // minutes.
    void versionRequestPauses_data()
    {
        QTest::addColumn<int>("failedRounds");
        QTest::addColumn<unsigned>("pauseMs");
        QTest::newRow("after nine") << 9 << 261632u;
        QTest::newRow("after ten: the longest") << 10 << 300000u;
        QTest::newRow("after a day of them") << 100000 << 300000u;
    }
    void versionRequestPauses()
    {
        QFETCH(int, failedRounds);
        QFETCH(unsigned, pauseMs);
        QCOMPARE(VersionRequestPauseMs(failedRounds), pauseMs);
    }

    void noServerAnsweringShowsNothingAndDownloadsNothing()
    {
        ProgramFolder folder;
        Harness h(folder);
        int attempts = 0;
        h.ports["127.0.0.1"] = RefusingLoopbackPort();
        h.primary = h.secondary = {"127.0.0.1", "/v", "http://127.0.0.1/"};
        UpdateEnvironment env = h.Environment();
        auto request = env.versionRequest;
        env.versionRequest = [&](const std::string &host, const std::string &path, std::string &reply) {
            ++attempts;
            return request(host, path, reply);
        };
        env.stopRequested = [&] { return attempts >= 6; };
        const QStringList before = folder.entries();
        QCOMPARE(RunUpdateCheck(env), UpdateOutcome::Stopped);
        QCoreApplication::processEvents();
        QCOMPARE(attempts, 6);
        QVERIFY(h.balloons.isEmpty());
        QCOMPARE(folder.entries(), before);
    }

    // What the version reply says decides whether anything is fetched.
    void releaseValue_data()
    {
        QTest::addColumn<QString>("replyTemplate"); // %1 is the running file's digest
        QTest::addColumn<bool>("named");            // the reply names a release: 32 hex digits
        QTest::addColumn<bool>("downloads");
        QTest::newRow("same digest") << "{\"Quillmark\":\"%1\",\"x\":1}" << true << false;
        QTest::newRow("blanks around colon and value")
            << "{\"a\":2, \"Quillmark\" :\t \"%1\" \t,\"b\":3}" << true << false;
        QTest::newRow("last field") << "{\"a\":2, \"Quillmark\": \"%1\" }" << true << false;
        QTest::newRow("uppercase digest") << "{\"Quillmark\":\"%1\"}" << true << true;
        // No release named: a failed request, asked again, and nothing is fetched.
        QTest::newRow("key missing") << "{\"Other\":\"%1\"}" << false << false;
        QTest::newRow("not json") << "<html>%1</html>" << false << false;
        QTest::newRow("empty value") << "{\"Quillmark\":\"\"}" << false << false;
        QTest::newRow("31 digits") << "{\"Quillmark\":\"0123456789abcdef0123456789abcde\"}" << false << false;
        QTest::newRow("33 digits") << "{\"Quillmark\":\"0123456789abcdef0123456789abcdef0\"}" << false
                                   << false;
        QTest::newRow("not hex") << "{\"Quillmark\":\"0123456789abcdef0123456789abcdeg\"}" << false << false;
        QTest::newRow("digest with a blank inside")
            << "{\"Quillmark\":\"0123456789abcdef 123456789abcdef\"}" << false << false;
    }
    void releaseValue()
    {
        QFETCH(QString, replyTemplate);
        QFETCH(bool, named);
        QFETCH(bool, downloads);
        ProgramFolder folder;
        ReleaseServer server;
        QString digest = QString::fromStdString(Md5Of(folder.oldProgram));
        if (QString(QTest::currentDataTag()) == "uppercase digest") {
            digest = digest.toUpper();
        }
        server.versionBody = replyTemplate.arg(digest).toStdString();
        // A package that really holds the running program's digest in uppercase cannot exist: whatever is
        // fetched is rejected, and nothing changes.
        QVERIFY(
            WriteZip(folder.root.path() + "/p.zip", {ZipEntry{ExeName, SampleProgram() + "\nrelease 2\n"}}));
        server.package = ReadAll(folder.root.path() + "/p.zip");
        QFile::remove(folder.root.path() + "/p.zip");
        Harness h(folder);
        UsePrimary(h, server);
        // A reply that names no release fails like a server that does not answer: the rounds go on.
        h.stop = [&server] { return server.versionRequests() >= 4; };
        const QStringList before = folder.entries();
        const UpdateOutcome outcome = h.Run();
        QCOMPARE(int(server.downloads().size()), downloads ? 1 : 0);
        QCOMPARE(outcome, downloads ? UpdateOutcome::PackageRejected
                                    : (named ? UpdateOutcome::Current : UpdateOutcome::Stopped));
        QCOMPARE(server.versionRequests(), named ? 1 : 4);
        QCOMPARE(folder.entries(), before);
        QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
        QVERIFY(h.balloons.isEmpty());
    }

    // A program file that cannot be read has an empty digest. A reply without a release value no longer
    // matches it: such a reply is a failed request, and nothing is fetched either way.
    void unreadableProgramWithEmptyReleaseDoesNothing()
    {
        ProgramFolder folder;
        QFile::remove(folder.exePath);
        ReleaseServer server;
        server.versionBody = "{\"Other\":\"1\"}";
        Harness h(folder);
        UsePrimary(h, server);
        h.stop = [&server] { return server.versionRequests() >= 4; };
        QCOMPARE(h.Run(), UpdateOutcome::Stopped);
        QVERIFY(server.downloads().empty());
        QVERIFY(h.balloons.isEmpty());
    }

    // A reply that names no release, or is no successful reply, is a failed request for that server, like
    // a refused connection: the secondary is asked, and its answer counts.
    void badPrimaryReplyAsksTheSecondary_data()
    {
        const std::string good = "HTTP/1.0 200 OK\r\n\r\n{\"Quillmark\":\"%1\"}";
        QTest::addColumn<QString>("primaryReply"); // %1 is the running file's digest
        QTest::addColumn<bool>("primaryHeldOpen");
        QTest::addColumn<bool>("secondaryAsked");
        QTest::newRow("404 with 200 in a header")
            << "HTTP/1.1 404 Not Found\r\nCache-Control: max-age=7200\r\n\r\n{\"Quillmark\":\"%1\"}" << false
            << true;
        QTest::newRow("no digest") << "HTTP/1.0 200 OK\r\n\r\n{\"name\":\"Quillmark\"}" << false << true;
        QTest::newRow("digest not hex") << "HTTP/1.0 200 OK\r\n\r\n{\"Quillmark\":\"%1\"}" << false << true;
        QTest::newRow("body cut short of its Content-Length")
            << "HTTP/1.0 200 OK\r\nContent-Length: 200\r\n\r\n{\"Quillmark\":\"%1\"}" << false << true;
        // Complete at its Content-Length: the primary's answer counts at once, the connection still open.
        QTest::newRow("Content-Length with the connection held open")
            << "HTTP/1.1 200 OK\r\nContent-Length: 48\r\n\r\n{\"Quillmark\":\"%1\"}" << true << false;
    }
    void badPrimaryReplyAsksTheSecondary()
    {
        QFETCH(QString, primaryReply);
        QFETCH(bool, primaryHeldOpen);
        QFETCH(bool, secondaryAsked);
        ProgramFolder folder;
        const QString digest = QString::fromStdString(Md5Of(folder.oldProgram));
        const QString shown =
            QString(QTest::currentDataTag()) == "digest not hex" ? digest.left(31) + "x" : digest;
        ReleaseServer first("P"), second("S");
        QVERIFY(first.listening() && second.listening());
        const std::string primaryText = primaryReply.arg(shown).toStdString();
        first.versionReply = [&] { return LoopbackReply{{primaryText}, 0, primaryHeldOpen ? 600000u : 0u}; };
        second.versionBody = "{\"Quillmark\":\"" + digest.toStdString() + "\"}";
        Harness h(folder);
        h.ports["127.0.0.1"] = first.port();
        h.ports["localhost"] = second.port();
        h.primary = {"127.0.0.1", "/v", "http://127.0.0.1:1/primary/"};
        h.secondary = {"localhost", "/v", "http://127.0.0.1:1/secondary/"};
        QCOMPARE(h.Run(), UpdateOutcome::Current);
        QCOMPARE(first.versionRequests(), 1);
        QCOMPARE(second.versionRequests(), secondaryAsked ? 1 : 0);
        QVERIFY(first.downloads().empty() && second.downloads().empty());
    }

    void failedDownloadRequestsTheBalloonOnTheGuiThread()
    {
        if (WineDownloads())
            QSKIP("Wine's download stores a 404 reply as the file instead of failing");
        ProgramFolder folder;
        WriteAll(folder.appDir + "Quillmark_old", "backup of an earlier update");
        ReleaseServer server;
        server.versionBody = "{\"Quillmark\":\"" + Md5Of("something newer") + "\"}";
        server.packageMissing = true;
        Harness h(folder);
        UsePrimary(h, server);
        const QStringList before = folder.entries();
        QCOMPARE(h.Run(), UpdateOutcome::DownloadFailed);
        QCOMPARE(int(server.downloads().size()), 1);
        QCOMPARE(h.balloons.size(), 1);
        const Balloon &b = h.balloons.first();
        QCOMPARE(b.title, QString());
        QCOMPARE(b.text, QString::fromUtf8("发现新版本,请进入岚舟软件下载更新!"));
        QCOMPARE(b.icon, QSystemTrayIcon::Information);
        QCOMPARE(b.ms, 1000);
        QCOMPARE(b.thread, QCoreApplication::instance()->thread());
        QCOMPARE(folder.entries(), before);
        QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
        QCOMPARE(ReadAll(folder.appDir + "Quillmark_old"), QByteArray("backup of an earlier update"));
    }

    // A good package: new program in place (and runnable), the old one kept as backup, package gone.
    void goodPackageIsInstalled_data()
    {
        QTest::addColumn<QString>("exeName");
        QTest::addColumn<bool>("earlierBackup");
        QTest::newRow("Quillmark") << ExeName << false;
        QTest::newRow("earlier backup replaced") << ExeName << true;
        QTest::newRow("program renamed") << QString(ExeName).replace("Quillmark", "Print2") << false;
    }
    void goodPackageIsInstalled()
    {
        QFETCH(QString, exeName);
        QFETCH(bool, earlierBackup);
        ProgramFolder folder(exeName);
        if (earlierBackup) {
            WriteAll(BackupOf(folder.exePath), "backup of an earlier update");
        }
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2 with trailing bytes\n");
        ReleaseServer server;
        // Packed without execute bits: the installed program must get them from the one it replaces.
        QVERIFY(server.offer({ZipEntry{"readme.txt", "new readme"}, ZipEntry{ExeName, newProgram},
                              ZipEntry{"lang/zh.txt", "language file"}},
                             newProgram));
        Harness h(folder);
        UsePrimary(h, server);
        QCOMPARE(h.Run(), UpdateOutcome::Updated);

        QCOMPARE(ReadAll(folder.exePath), newProgram);
        QCOMPARE(ReadAll(BackupOf(folder.exePath)), folder.oldProgram);
        QCOMPARE(ReadAll(folder.appDir + "readme.txt"), QByteArray("new readme"));
        QCOMPARE(ReadAll(folder.appDir + "lang/zh.txt"), QByteArray("language file"));
        QVERIFY(!QFile::exists(folder.package()));
        QVERIFY(NoStagingLeft(folder));
        if (exeName != ExeName) {
            QVERIFY(!QFile::exists(folder.appDir + ExeName));
        }
        QVERIFY(QFileInfo(folder.exePath).isExecutable());
        QProcess run;
        run.start(folder.exePath, QStringList());
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(run.readAllStandardOutput().trimmed(), QByteArray("sample program"));
        QVERIFY(h.balloons.isEmpty());
    }

    // Packages that must never replace the program.
    void badPackageChangesNothing_data()
    {
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        QTest::addColumn<QList<ZipEntry>>("entries");
        QTest::addColumn<bool>("truncate");
        QTest::addColumn<QByteArray>("patchFrom"); // bytes of the zip replaced before it is served
        QTest::addColumn<QByteArray>("patchTo");
        QTest::newRow("no executable")
            << QList<ZipEntry>{{"readme.txt", "x"}} << false << QByteArray() << QByteArray();
        QTest::newRow("executable of another release")
            << QList<ZipEntry>{{ExeName, newProgram + "tampered"}, {"readme.txt", "x"}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("the other system's name only")
            << QList<ZipEntry>{{OtherExeName, newProgram}} << false << QByteArray() << QByteArray();
        QTest::newRow("parent folder entry") << QList<ZipEntry>{{ExeName, newProgram}, {"../evil.txt", "x"}}
                                             << false << QByteArray() << QByteArray();
        QTest::newRow("nested parent folder entry")
            << QList<ZipEntry>{{ExeName, newProgram}, {"lang/../../evil.txt", "x"}} << false << QByteArray()
            << QByteArray();
        QTest::newRow("absolute entry")
            << QList<ZipEntry>{{ExeName, newProgram}, {"/tmp/quillmark-evil.txt", "x"}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("drive letter entry") << QList<ZipEntry>{{ExeName, newProgram}, {"C:/evil.txt", "x"}}
                                            << false << QByteArray() << QByteArray();
        QTest::newRow("backslash parent entry")
            << QList<ZipEntry>{{ExeName, newProgram}, {"..\\evil.txt", "x"}} << false << QByteArray()
            << QByteArray();
        QTest::newRow("symbolic link")
            << QList<ZipEntry>{{ExeName, newProgram}, {"link", "../../evil.txt", {}, true}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("truncated") << QList<ZipEntry>{{ExeName, newProgram},
                                                      {"big.bin", QByteArray(100000, 'z')}}
                                   << true << QByteArray() << QByteArray();
        // Names that would land on what the updater keeps for itself.
        QTest::newRow("nested staging name")
            << QList<ZipEntry>{{ExeName, newProgram}, {"Quillmark_update/Quillmark", "unchecked program"}}
            << false << QByteArray() << QByteArray();
        QTest::newRow("staging name with suffix")
            << QList<ZipEntry>{{ExeName, newProgram}, {"Quillmark_update.abc123/x", "x"}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("backup name entry")
            << QList<ZipEntry>{{ExeName, newProgram}, {"Quillmark_old", "attacker's program"}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("settings file entry")
            << QList<ZipEntry>{{ExeName, newProgram}, {"Quillmark.kov", "sourcePath=/\r\n"}} << false
            << QByteArray() << QByteArray();
        QTest::newRow("package file entry") << QList<ZipEntry>{{ExeName, newProgram}, {"Quillmark.zip", "x"}}
                                            << false << QByteArray() << QByteArray();
        QTest::newRow("executable below the top level")
            << QList<ZipEntry>{{ExeName, newProgram}, {"bin/" + ExeName, "x"}} << false << QByteArray()
            << QByteArray();
        QTest::newRow("two entries for the executable")
            << QList<ZipEntry>{{ExeName, newProgram}, {ExeName, "unchecked program"}} << false << QByteArray()
            << QByteArray();
        QTest::newRow("NUL in a name") << QList<ZipEntry>{{ExeName, newProgram}, {"aXZXb.txt", "x"}} << false
                                       << QByteArray("aXZXb.txt") << QByteArray("a\0Z\0b.txt", 9);
        // Written as "lang/zh.txt" it would be another name than the one checked.
        QTest::newRow("backslash between parts")
            << QList<ZipEntry>{{ExeName, newProgram}, {"langXzh.txt", "x"}} << false
            << QByteArray("langXzh.txt") << QByteArray("lang\\zh.txt");
    }
    void badPackageChangesNothing()
    {
        QFETCH(QList<ZipEntry>, entries);
        QFETCH(bool, truncate);
        QFETCH(QByteArray, patchFrom);
        QFETCH(QByteArray, patchTo);
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        ReleaseServer server;
        QVERIFY(server.offer(entries, newProgram));
        if (truncate) {
            server.package.truncate(server.package.size() / 2);
        }
        if (!patchFrom.isEmpty()) {
            QCOMPARE(server.package.count(patchFrom), 2);
            server.package = Patched(server.package, patchFrom, patchTo);
        }
        WriteAll(folder.appDir + "Quillmark.kov", "sourcePath=/home/\r\n");
        Harness h(folder);
        UsePrimary(h, server);
        const QStringList before = folder.entries();
        QCOMPARE(h.Run(), UpdateOutcome::PackageRejected);
        QCOMPARE(int(server.downloads().size()), 1);
        QCOMPARE(folder.entries(), before); // package and staging gone, nothing written elsewhere
        QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
        QVERIFY(!QFile::exists("/tmp/quillmark-evil.txt"));
        QVERIFY(h.balloons.isEmpty());
    }

    // Data that is not what the directory declares is never installed: size and CRC are checked for every
    // entry, also when it ends short of its declared size, and no two records may share data.
    void entryNotAsDeclaredIsRefused_data()
    {
        QTest::addColumn<int>("extraBytes"); // added to the first entry's declared size
        QTest::addColumn<bool>("wrongCrc");
        QTest::addColumn<QByteArray>("alias"); // a second record of the executable's data under this name
        QTest::newRow("short entry with a wrong CRC") << 100 << true << QByteArray();
        QTest::newRow("short entry") << 100 << false << QByteArray();
        QTest::newRow("wrong CRC") << 0 << true << QByteArray();
        QTest::newRow("second record named as a folder") << 0 << false << QByteArray("extra/");
        QTest::newRow("second record named as a file") << 0 << false << QByteArray("copy");
        QTest::newRow("as declared") << 0 << false << QByteArray();
    }
    void entryNotAsDeclaredIsRefused()
    {
        QFETCH(int, extraBytes);
        QFETCH(bool, wrongCrc);
        QFETCH(QByteArray, alias);
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        QVERIFY(WriteZip(folder.package(), {ZipEntry{"readme.txt", QByteArray(3000, 'r') + "end"},
                                            ZipEntry{ExeName, newProgram}}));
        QByteArray zip = ReadAll(folder.package());
        zip = zipbytes::WithFirstEntryDeclaring(zip, zipbytes::FirstEntrySize(zip) + quint32(extraBytes),
                                                zipbytes::FirstEntryCrc(zip) ^ (wrongCrc ? 0x00010000u : 0u));
        if (!alias.isEmpty()) {
            zip = zipbytes::WithSecondRecord(zip, ExeName.toLatin1(), alias);
            QVERIFY(!zip.isEmpty());
        }
        QVERIFY(WriteAll(folder.package(), zip));
        const bool good = QString(QTest::currentDataTag()) == "as declared";
        InstallRequest request = folder.install(newProgram);
        QCOMPARE(InstallPackage(request), good ? InstallResult::Installed : InstallResult::Rejected);
        QCOMPARE(ReadAll(folder.exePath), good ? newProgram : folder.oldProgram);
        QCOMPARE(QFile::exists(folder.appDir + "readme.txt"), good);
        QVERIFY(!QFile::exists(folder.appDir + "extra"));
        QVERIFY(NoStagingLeft(folder));
        QVERIFY(!QFile::exists(folder.package()));
    }

    // The name written is the name's bytes as the package stores them, not what a decoder makes of them.
    // Windows writes names through its code page (936 in the tests): x\x81. is no name there, and what the
    // system would make of it is another name than the package's, so the package is refused.
    void namesAreWrittenWithTheirBytes()
    {
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        QVERIFY(WriteZip(folder.package(), {ZipEntry{ExeName, newProgram}, ZipEntry{"lang/xZ.txt", "raw"},
                                            ZipEntry{"GBK-ZZ.txt", "gbk"}}));
        QByteArray zip = ReadAll(folder.package());
        zip.replace("lang/xZ.txt", QByteArray("lang/x\x81.txt"));
        zip.replace("GBK-ZZ.txt", QByteArray("GBK-\xd6\xd0.txt"));
        QVERIFY(WriteAll(folder.package(), zip));
        InstallRequest request = folder.install(newProgram);
        const bool codePage = PlatformUsesWindowsFileNames();
        QCOMPARE(InstallPackage(request), codePage ? InstallResult::Rejected : InstallResult::Installed);
        if (codePage) {
            QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
            QVERIFY(NoStagingLeft(folder));
            return;
        }
        const auto readBytes = [&folder](const QByteArray &name) {
            const QByteArray path = folder.appDir.toUtf8() + name;
            std::FILE *f = std::fopen(path.constData(), "rb");
            QByteArray data(16, '\0');
            data.resize(f == nullptr ? 0 : int(std::fread(data.data(), 1, size_t(data.size()), f)));
            if (f != nullptr) {
                std::fclose(f);
            }
            return data;
        };
        QCOMPARE(readBytes("lang/x\x81.txt"), QByteArray("raw"));
        QCOMPARE(readBytes("GBK-\xd6\xd0.txt"), QByteArray("gbk"));
        QCOMPARE(readBytes("lang/x\xef\xbf\xbd.txt"), QByteArray());
        QVERIFY(NoStagingLeft(folder));
        // Names Qt cannot spell would outlast the temporary folder.
        for (const char *name : {"lang/x\x81.txt", "GBK-\xd6\xd0.txt"}) {
            std::remove((folder.appDir.toUtf8() + name).constData());
        }
    }

    // A failure after the running program was moved aside puts it back.
    void failedSwapRestoresTheProgram()
    {
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        // A folder with content where the package has a file cannot be replaced.
        QDir().mkpath(folder.appDir + "data/keep");
        ReleaseServer server;
        QVERIFY(server.offer({ZipEntry{ExeName, newProgram}, ZipEntry{"data", "file"}}, newProgram));
        Harness h(folder);
        UsePrimary(h, server);
        QCOMPARE(h.Run(), UpdateOutcome::SwapFailed);
        QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
        QVERIFY(QFileInfo(folder.exePath).isExecutable());
        QVERIFY(!QFile::exists(folder.appDir + "Quillmark_old"));
        QVERIFY(QFile::exists(folder.package()));
        QVERIFY(NoStagingLeft(folder));
        QVERIFY(h.balloons.isEmpty());
    }

#ifndef _WIN32
    // Another user who may create files in the program's folder plants the package's name before the
    // download: a link to a file of the victim's, or a file open to everyone that the planter keeps a
    // second name of and rewrites after the download. Neither is written through or read: the victim's
    // file keeps its bytes and mode, and what is installed is what the server sent.
    void plantedPackageIsNeverUsed_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("link to another file") << true;
        QTest::newRow("file open to everyone, rewritten after the download") << false;
    }
    void plantedPackageIsNeverUsed()
    {
        QFETCH(bool, link);
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        ReleaseServer server;
        QVERIFY(server.offer({ZipEntry{ExeName, newProgram}, ZipEntry{"readme.txt", "genuine"}}, newProgram));
        const QString victim = folder.root.path() + "/victim.txt";
        QVERIFY(WriteAll(victim, "precious"));
        QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner));
        const QString planterHandle = folder.root.path() + "/planter";
        if (link) {
            QVERIFY(QFile::link(victim, folder.package()));
        } else {
            QVERIFY(WriteAll(folder.package(), "planted"));
            QVERIFY(QFile::setPermissions(folder.package(), QFileDevice::Permissions(0x7777)));
            QVERIFY(::link(folder.package().toLocal8Bit().constData(),
                           planterHandle.toLocal8Bit().constData()) == 0);
        }
        Harness h(folder);
        UsePrimary(h, server);
        UpdateEnvironment env = h.Environment();
        // The planter's rewrite: the same package with another read-me, of the same length and CRC layout.
        QByteArray rewritten = server.package;
        rewritten.replace("genuine", "planted");
        env.download = [&](const char *url, std::FILE *file, const DownloadWatch &watch) {
            const int result = Harness::DownloadToFileForTest(url, file, watch);
            if (!link) {
                WriteAll(planterHandle, rewritten);
            }
            return result;
        };
        QCOMPARE(RunUpdateCheck(env), UpdateOutcome::Updated);
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
        QCOMPARE(QFile::permissions(victim),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(ReadAll(folder.appDir + "readme.txt"), QByteArray("genuine"));
        QCOMPARE(ReadAll(folder.exePath), newProgram);
        QVERIFY(!QFileInfo::exists(folder.package()) && !QFileInfo(folder.package()).isSymLink());
    }

    // Modes are set, not taken from the umask: under umask 0 a package's files are 0644, or 0755 when it
    // marks them executable, its folders 0755, and the new program takes the old one's execute bits.
    void installedModesAreSetWhateverTheUmask()
    {
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        const QFile::Permissions everyone(0x7777);
        QVERIFY(
            WriteZip(folder.package(), {ZipEntry{ExeName, newProgram, QFile::ReadOwner},
                                        ZipEntry{"readme.txt", "r", everyone & ~QFile::Permissions(0x1111)},
                                        ZipEntry{"lang/tool", "t", everyone}}));
        const mode_t saved = umask(0);
        InstallRequest request = folder.install(newProgram);
        const InstallResult result = InstallPackage(request);
        umask(saved);
        QCOMPARE(result, InstallResult::Installed);
        const auto mode = [&folder](const char *name) {
            struct stat info;
            return ::stat((folder.appDir + name).toLocal8Bit().constData(), &info) == 0
                       ? int(info.st_mode & 07777)
                       : -1;
        };
        QCOMPARE(mode("Quillmark"), 0755);
        QCOMPARE(mode("readme.txt"), 0644);
        QCOMPARE(mode("lang"), 0755);
        QCOMPARE(mode("lang/tool"), 0755);
    }
#endif

    // The program ends while a package is unpacked: the unpacking stops between two entries, what was
    // unpacked and the package go, and the program stays as it was.
    void endingProgramStopsTheUnpacking()
    {
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        QVERIFY(WriteZip(folder.package(),
                         {ZipEntry{"a.txt", "a"}, ZipEntry{"b.txt", "b"}, ZipEntry{ExeName, newProgram}}));
        const QStringList before = folder.entries();
        InstallRequest request = folder.install(newProgram);
        int written = 0;
        request.stepDone = [&written] { ++written; };
        request.stopRequested = [&written] { return written == 1; };
        QCOMPARE(InstallPackage(request), InstallResult::Stopped);
        QCOMPARE(written, 1);
        QVERIFY(NoStagingLeft(folder));
        QStringList expected = before;
        expected.removeAll("app/Quillmark.zip");
        QCOMPARE(folder.entries(), expected);
        QCOMPARE(ReadAll(folder.exePath), folder.oldProgram);
    }

    // Whatever stands at the old staging name, a link above all, is neither unpacked into nor deleted.
    void stagingNameInUseIsLeftAlone_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("link to a folder elsewhere") << true;
        QTest::newRow("folder with files") << false;
    }
    void stagingNameInUseIsLeftAlone()
    {
        QFETCH(bool, link);
        if (link && PlatformUsesWindowsFileNames())
            QSKIP("QFile::link makes a shortcut file on Windows, not a link the file system follows");
        ProgramFolder folder;
        const QString elsewhere = folder.root.path() + "/elsewhere";
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(WriteAll(elsewhere + "/precious.txt", "precious"));
        const QString old = folder.appDir + "Quillmark_update";
        if (link) {
            QVERIFY(QFile::link(elsewhere, old));
        } else {
            QVERIFY(QDir().mkpath(old));
            QVERIFY(WriteAll(old + "/precious.txt", "precious"));
        }
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        ReleaseServer server;
        QVERIFY(server.offer({ZipEntry{ExeName, newProgram}, ZipEntry{"readme.txt", "new"}}, newProgram));
        Harness h(folder);
        UsePrimary(h, server);
        QCOMPARE(h.Run(), UpdateOutcome::Updated);
        QCOMPARE(ReadAll(folder.exePath), newProgram);
        QCOMPARE(ReadAll(elsewhere + "/precious.txt"), QByteArray("precious"));
        QCOMPARE(ReadAll(old + "/precious.txt"), QByteArray("precious"));
        QCOMPARE(QFileInfo(old).isSymLink(), link);
        QCOMPARE(QDir(folder.appDir).entryList({"Quillmark_update*"}, QDir::AllEntries | QDir::System),
                 QStringList{"Quillmark_update"});
    }

    // Packages that would fill the disk: refused from the zip's directory before a byte is written, or, when
    // the directory lies, stopped while writing.
    void unpackLimits_data()
    {
        QTest::addColumn<int>("entryCount");
        QTest::addColumn<int>("entrySize");
        QTest::addColumn<qint64>("declaredSize"); // -1: as written
        QTest::addColumn<qint64>("limitBytes");
        QTest::addColumn<int>("limitEntries");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<qint64>("mostWritten");
        QTest::newRow("within the limits")
            << 3 << 1000 << qint64(-1) << qint64(1 << 20) << 10 << true << qint64(1 << 20);
        QTest::newRow("bomb: 64 MiB of zeros, limit 16 MiB")
            << 1 << (64 << 20) << qint64(-1) << qint64(16 << 20) << 10 << false << qint64(0);
        QTest::newRow("bomb: directory declares 1000 bytes")
            << 1 << (64 << 20) << qint64(1000) << qint64(16 << 20) << 10 << false << qint64(1000);
        QTest::newRow("too many entries")
            << 11 << 10 << qint64(-1) << qint64(1 << 20) << 10 << false << qint64(0);
        QTest::newRow("total over the limit")
            << 5 << 300000 << qint64(-1) << qint64(1 << 20) << 10 << false << qint64(0);
    }
    void unpackLimits()
    {
        QFETCH(int, entryCount);
        QFETCH(int, entrySize);
        QFETCH(qint64, declaredSize);
        QFETCH(qint64, limitBytes);
        QFETCH(int, limitEntries);
        QFETCH(bool, installed);
        QFETCH(qint64, mostWritten);
        ProgramFolder folder;
        const QByteArray newProgram = SampleProgram() + QByteArray("\nrelease 2\n");
        // The data before the program, so that a lying size is met before anything else was written.
        QList<ZipEntry> entries;
        for (int i = 1; i < entryCount; ++i) {
            entries << ZipEntry{QString("data%1.bin").arg(i), QByteArray(entrySize, '\0')};
        }
        if (entryCount == 1) {
            entries << ZipEntry{"data.bin", QByteArray(entrySize, '\0')};
        }
        entries << ZipEntry{ExeName, newProgram};
        QVERIFY(WriteZip(folder.package(), entries));
        if (declaredSize >= 0) {
            QVERIFY(WriteAll(folder.package(),
                             WithDeclaredSize(ReadAll(folder.package()), quint32(declaredSize))));
        }
        uint64_t written = 0;
        InstallRequest request = folder.install(newProgram);
        request.limits.totalBytes = uint64_t(limitBytes);
        request.limits.entries = limitEntries;
        request.unpackedBytes = &written;
        const InstallResult result = InstallPackage(request);
        qInfo("%s: %llu bytes unpacked", QTest::currentDataTag(), static_cast<unsigned long long>(written));
        QCOMPARE(result, installed ? InstallResult::Installed : InstallResult::Rejected);
        QVERIFY2(written <= uint64_t(mostWritten), qPrintable(QString::number(written)));
        QVERIFY(NoStagingLeft(folder));
        QVERIFY(!QFile::exists(folder.package()));
        QCOMPARE(ReadAll(folder.exePath), installed ? newProgram : folder.oldProgram);
    }

    // The download's own limits, against a real server: size announced or not, and a server that trickles.
    void downloadLimits_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("at the size limit") << "announced" << 4096 << true;
        QTest::newRow("announced over the size limit") << "announced" << 4097 << false;
        QTest::newRow("unannounced over the size limit") << "unannounced" << 100000 << false;
        QTest::newRow("slower than the low-speed limit") << "trickle" << 64 << false;
        // About 400 bytes/s, above the low-speed limit: only the deadline ends it, long before its end.
        QTest::newRow("trickling above the low-speed limit past the deadline") << "steady" << 4000 << false;
    }
    void downloadLimits()
    {
        QFETCH(QString, kind);
        QFETCH(int, bytes);
        QFETCH(bool, succeeds);
        if ((kind == "trickle" || kind == "steady") && WineDownloads())
            QSKIP("Wine's download cannot be broken off before it ends");
        const std::string body(size_t(bytes), 'z');
        LoopbackHttpServer server([&](const std::string &) {
            if (kind == "announced") {
                return LoopbackHttpServer::Text(
                    "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bytes) + "\r\n\r\n" + body);
            }
            const bool slow = kind == "trickle" || kind == "steady";
            LoopbackReply reply{{"HTTP/1.0 200 OK\r\n\r\n"}, 0, 0};
            // "steady": 4 bytes every 10 ms.
            const size_t piece = kind == "steady" ? 4 : 1;
            for (size_t i = 0; i < (slow ? size_t(bytes) / piece : 1); ++i) {
                reply.pieces.push_back(slow ? std::string(piece, 'z') : body);
            }
            reply.pauseMs = kind == "trickle" ? 200 : kind == "steady" ? 10 : 0;
            return reply;
        });
        QVERIFY(server.listening());
        QTemporaryDir dir;
        const QString target = dir.path() + "/Quillmark.zip";
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/Quillmark.zip?t=1";
        // 4 KiB at most; slower than 100 bytes/s over 1 s has stalled; 3 s in all.
        const DownloadLimits limits{4096, 100, 1, 3, 30};
        const int result = DownloadToFileWithLimits(url.c_str(), target.toLocal8Bit().constData(), limits);
        QCOMPARE(result == 0, succeeds);
        QCOMPARE(ReadAll(target), succeeds ? QByteArray::fromStdString(body) : QByteArray());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 succeeds ? QStringList{"Quillmark.zip"} : QStringList());
    }

    // A server whose connection is never answered: connecting has a limit of its own.
    void downloadConnectingHasATimeLimit()
    {
        // A listener that never accepts, its queue filled: a further connection is never answered.
        uint16_t port = 0;
        const NetSocket listener = NetListen("127.0.0.1", 0, &port);
        QVERIFY(listener != kNetInvalidSocket);
        uint32_t loopback = 0;
        QCOMPARE(NetResolveIPv4("127.0.0.1", &loopback), 0);
        std::vector<NetSocket> queued;
        for (int i = 0; i < 200; ++i) {
            const NetSocket s = NetTcpSocket();
            if (NetConnect(s, loopback, port, 200) != 0) {
                NetClose(s);
                break;
            }
            queued.push_back(s);
        }
        QVERIFY(queued.size() < 200u);
        QTemporaryDir dir;
        const QString target = dir.path() + "/Quillmark.zip";
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/Quillmark.zip?t=1";
        // Only the connect limit can end it soon: the download's own deadline is an hour, and the system
        // gives up on the connection only after minutes.
        QElapsedTimer timer;
        timer.start();
        const int result = DownloadToFileWithLimits(url.c_str(), target.toLocal8Bit().constData(),
                                                    DownloadLimits{4096, 100, 60, 3600, 1});
        const qint64 took = timer.elapsed();
        for (const NetSocket s : queued) {
            NetClose(s);
        }
        NetClose(listener);
        QVERIFY(result != 0);
        QVERIFY2(took >= 900, qPrintable(QString::number(took)));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
