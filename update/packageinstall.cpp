#include "update/packageinstall.h"

#include "platform/selfpath.h"
#include "support/direxists.h"
#include "update/releasesignature.h"
#include "update/updatecheck.h"

#include <JlCompress.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <quazip.h>
#include <quazipfileinfo.h>

#include <cstdio>

namespace {

QString Local(const std::string &text)
{
    return QString::fromLocal8Bit(text.c_str());
}

bool EntryNameSafe(const QString &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('\\') || name.contains(':')) {
        return false;
    }
    const QStringList parts = name.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    return !parts.contains(QStringLiteral(".."));
}

// Replaces whatever is at target by source (both in the same file system).
bool MoveOver(const QString &source, const QString &target)
{
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        return false;
    }
    return QFile::rename(source, target);
}

void Discard(const QString &staging, const std::string &packagePath)
{
    QDir(staging).removeRecursively();
    QFile::remove(Local(packagePath));
}

} // namespace

QString StagingFolder(const std::string &appDir)
{
    return Local(appDir) + QStringLiteral("Quillmark_update");
}

bool PackageEntriesSafe(const QString &packagePath)
{
    QuaZip zip(packagePath);
    if (!zip.open(QuaZip::mdUnzip)) {
        return false;
    }
    const QList<QuaZipFileInfo64> entries = zip.getFileInfoList64();
    bool safe = zip.getZipError() == UNZ_OK && !entries.isEmpty();
    for (const QuaZipFileInfo64 &entry : entries) {
        safe = safe && EntryNameSafe(entry.name) && !entry.isSymbolicLink();
    }
    zip.close();
    return safe;
}

InstallResult InstallPackage(const InstallRequest &request)
{
    const QString staging = StagingFolder(request.appDir);
    const QString package = Local(request.packagePath);
    const QString appDir = request.appDir.empty() ? QStringLiteral("./") : Local(request.appDir);
    const QString executableName = QString::fromLocal8Bit(InstanceExecutableName());

    // Unpack beside the program first: nothing of it is touched until the package has proved whole and
    // carries the release that the server announced.
    QDir(staging).removeRecursively();
    if (!ReleaseSignatureAccepted(package) || !PackageEntriesSafe(package) || !QDir().mkpath(staging) ||
        JlCompress::extractDir(package, staging).isEmpty()) {
        Discard(staging, request.packagePath);
        return InstallResult::Rejected;
    }
    const QString stagedExecutable = staging + '/' + executableName;
    char stagedDigest[33] = "";
    if (FileMd5Hex(stagedExecutable.toLocal8Bit().constData(), stagedDigest) != 0 ||
        QFileInfo(stagedExecutable).isDir() || request.releaseDigest.empty() ||
        request.releaseDigest != stagedDigest) {
        Discard(staging, request.packagePath);
        return InstallResult::Rejected;
    }

    const std::string backup = BackupPathFor(request.exePath);
    const QString exePath = Local(request.exePath);
    const QString backupPath = Local(backup);
    std::remove(backup.c_str());
    request.sleep(20);
    if (std::rename(request.exePath.c_str(), backup.c_str()) != 0) {
        QDir(staging).removeRecursively();
        return InstallResult::SwapFailed;
    }
    request.sleep(20);

    // Every other file of the package first, the executable last.
    bool moved = true;
    QDirIterator it(staging, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QStringList others;
    while (it.hasNext()) {
        const QString file = it.next();
        if (file != stagedExecutable) {
            others << file;
        }
    }
    const QDir stagingDir(staging);
    for (const QString &file : others) {
        const QString target = appDir + stagingDir.relativeFilePath(file);
        moved = moved && QDir().mkpath(QFileInfo(target).path()) && MoveOver(file, target);
    }
    request.sleep(20);
    const QString unpackedExecutable = appDir + executableName;
    moved = moved && MoveOver(stagedExecutable, unpackedExecutable);
    if (moved && QFileInfo(unpackedExecutable).absoluteFilePath() != QFileInfo(exePath).absoluteFilePath()) {
        moved = MoveOver(unpackedExecutable, exePath);
    }
    // A package made without Unix modes would otherwise leave a program that cannot be started.
    moved = moved && QFile::setPermissions(exePath, QFile::permissions(backupPath));
    QDir(staging).removeRecursively();

    if (!moved || !PathExists(request.exePath.c_str())) {
        QFile::remove(exePath);
        QFile::rename(backupPath, exePath);
        return InstallResult::SwapFailed;
    }
    if (PathExists(request.packagePath.c_str()) && PathExists(backup.c_str())) {
        QFile::remove(package);
        return InstallResult::Installed;
    }
    return InstallResult::SwapFailed;
}
