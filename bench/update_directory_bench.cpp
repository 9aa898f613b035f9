// Memory and time of refusing a package whose zip directory holds a great many records (all of them
// empty files), as the program installs it (no release key) and as a signed check reads it. Run it under
// /usr/bin/time -v for the peak memory of the whole process.
//   bench_update_directory [RECORDS] [install|verify]     (300000 install by default)

#include "update/packageinstall.h"
#include "update/releasesignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xff)).append(char(v >> 8));
}

void Put32(QByteArray &out, quint32 v)
{
    Put16(out, quint16(v & 0xffff));
    Put16(out, quint16(v >> 16));
}

void Put64(QByteArray &out, quint64 v)
{
    Put32(out, quint32(v & 0xffffffffu));
    Put32(out, quint32(v >> 32));
}

// A zip64 file of records empty stored files, written record by record (the bench itself holds no more
// than one record at a time, so the peak memory measured is the reader's).
bool WritePackage(const QString &path, quint64 records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    char name[32];
    const auto nameOf = [&name](quint64 i) {
        return std::snprintf(name, sizeof name, "d/%09llu.txt", static_cast<unsigned long long>(i));
    };
    quint64 offset = 0;
    for (quint64 i = 0; i < records; ++i) {
        const int length = nameOf(i);
        QByteArray local;
        Put32(local, 0x04034b50);
        Put16(local, 20);
        Put16(local, 0);
        Put16(local, 0); // stored
        Put32(local, 0); // time, date
        Put32(local, 0); // crc
        Put32(local, 0);
        Put32(local, 0);
        Put16(local, quint16(length));
        Put16(local, 0);
        local.append(name, length);
        if (file.write(local) != local.size()) {
            return false;
        }
        offset += quint64(local.size());
    }
    const quint64 directoryStart = offset;
    quint64 local = 0;
    for (quint64 i = 0; i < records; ++i) {
        const int length = nameOf(i);
        QByteArray record;
        Put32(record, 0x02014b50);
        Put16(record, 0x031e);
        Put16(record, 20);
        Put16(record, 0);
        Put16(record, 0);
        Put32(record, 0);
        Put32(record, 0);
        Put32(record, 0);
        Put32(record, 0);
        Put16(record, quint16(length));
        Put16(record, 0);
        Put16(record, 0);
        Put16(record, 0);
        Put16(record, 0);
        Put32(record, 0100644u << 16);
        Put32(record, quint32(local));
        record.append(name, length);
        if (file.write(record) != record.size()) {
            return false;
        }
        local += 30u + quint64(length);
        offset += quint64(record.size());
    }
    QByteArray end;
    Put32(end, 0x06064b50);
    Put64(end, 44);
    Put16(end, 45);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, records);
    Put64(end, records);
    Put64(end, offset - directoryStart);
    Put64(end, directoryStart);
    Put32(end, 0x07064b50);
    Put32(end, 0);
    Put64(end, offset);
    Put32(end, 1);
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, 0xffff);
    Put16(end, 0xffff);
    Put32(end, 0xffffffffu);
    Put32(end, 0xffffffffu);
    Put16(end, 0);
    return file.write(end) == end.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const quint64 records = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300000;
    const bool verify = argc > 2 && std::strcmp(argv[2], "verify") == 0;
    QTemporaryDir dir;
    const QString appDir = dir.path() + "/app/";
    QDir().mkpath(appDir);
    QFile program(appDir + "Quillmark");
    if (!program.open(QIODevice::WriteOnly) || program.write("old program") != 11) {
        return 1;
    }
    program.close();
    const QString package = appDir + "Quillmark.zip";
    if (!WritePackage(package, records)) {
        std::fprintf(stderr, "cannot write the package\n");
        return 1;
    }
    const qint64 bytes = QFileInfo(package).size();
    QElapsedTimer timer;
    timer.start();
    const char *outcome = "";
    if (verify) {
        const PackageCheckResult result =
            VerifyReleasePackage(package, QByteArray(kEd25519PublicKeyBytes, '\x01'));
        outcome =
            result.check == PackageCheck::TooLarge ? "refused: too many entries" : "not refused as too large";
    } else {
        InstallRequest request{package.toStdString(), appDir.toStdString(),
                               (appDir + "Quillmark").toStdString(), std::string(32, '0'), [](unsigned) {}};
        outcome = InstallPackage(request) == InstallResult::Rejected ? "refused" : "not refused";
    }
    std::printf("%llu directory records, package %lld bytes, %s: %s in %lld ms\n",
                static_cast<unsigned long long>(records), static_cast<long long>(bytes),
                verify ? "signed check" : "install", outcome, static_cast<long long>(timer.elapsed()));
    return 0;
}
