#include "update/packageinstall.h"

#include "platform/fileops.h"
#include "platform/selfpath.h"
#include "update/filedigest.h"
#include "update/packagenames.h"
#include "update/releasesignature.h"
#include "update/swap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

namespace {

QString Local(const std::string &text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<int>(text.size()));
}

std::string LocalBytes(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The package's entry names as local 8-bit text, checked against the rules, and the sizes its directory
// declares, within the limits. False when anything is refused.
bool ReadPackageDirectory(QuaZip &zip, const PackageNameRules &rules, const UnpackLimits &limits,
                          std::vector<CheckedEntry> &checked, QList<QuaZipFileInfo64> &infos)
{
    infos = zip.getFileInfoList64();
    if (zip.getZipError() != UNZ_OK || infos.isEmpty() || infos.size() > limits.entries) {
        return false;
    }
    std::vector<std::string> names;
    uint64_t declared = 0;
    for (const QuaZipFileInfo64 &info : infos) {
        const std::string name = LocalBytes(info.name);
        // A name the local code page cannot hold would land somewhere else than the name says.
        if (info.isSymbolicLink() || Local(name) != info.name) {
            return false;
        }
        declared += info.uncompressedSize;
        if (declared > limits.totalBytes) {
            return false;
        }
        names.push_back(name);
    }
    return CheckPackageNames(names, rules, checked);
}

// Writes every entry below root, counting what is written: an entry that inflates beyond what the
// directory declared, or a total beyond the limit, ends the unpacking. The files are new, never opened
// through something that was there before.
bool Unpack(QuaZip &zip, const std::vector<CheckedEntry> &checked, const QList<QuaZipFileInfo64> &infos,
            const QString &root, const UnpackLimits &limits, uint64_t &written)
{
    int index = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile(), ++index) {
        if (index >= static_cast<int>(checked.size())) {
            return false;
        }
        const CheckedEntry &entry = checked[static_cast<size_t>(index)];
        const QString target = root + '/' + Local(entry.path);
        if (entry.isDirectory) {
            if (!QDir().mkpath(target)) {
                return false;
            }
            continue;
        }
        if (!QDir().mkpath(QFileInfo(target).path())) {
            return false;
        }
        QFile out(target);
        QuaZipFile in(&zip);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !in.open(QIODevice::ReadOnly)) {
            return false;
        }
        uint64_t entryBytes = 0;
        char block[65536];
        qint64 n;
        while ((n = in.read(block, sizeof block)) > 0) {
            entryBytes += static_cast<uint64_t>(n);
            written += static_cast<uint64_t>(n);
            if (entryBytes > infos[index].uncompressedSize || written > limits.totalBytes ||
                out.write(block, n) != n) {
                return false;
            }
        }
        in.close();
        if (n < 0 || in.getZipError() != UNZ_OK || !out.flush()) {
            return false;
        }
    }
    return zip.getZipError() == UNZ_OK && index == static_cast<int>(checked.size());
}

} // namespace

QString StagingFolderPrefix(const std::string &appDir)
{
    return Local(appDir) + QString::fromLatin1(kStagingFolderPrefix) + '.';
}

InstallResult InstallPackage(const InstallRequest &request)
{
    const QString package = Local(request.packagePath);
    const std::string executableName = InstanceExecutableName();
    const PackageNameRules rules = RulesForProgram(request.exePath, executableName);
    QuaZip zip(package);
    // Windows deletes no file that is still open: the package is closed before it goes.
    const auto reject = [&package, &zip] {
        if (zip.isOpen()) {
            zip.close();
        }
        QFile::remove(package);
        return InstallResult::Rejected;
    };

    // Origin first, then the directory: a package refused here has not written a byte.
    if (!ReleaseSignatureAccepted(package)) {
        return reject();
    }
    std::vector<CheckedEntry> checked;
    QList<QuaZipFileInfo64> infos;
    if (!zip.open(QuaZip::mdUnzip) || !ReadPackageDirectory(zip, rules, request.limits, checked, infos)) {
        return reject();
    }

    // A folder made here and now, never one that was already there: nothing is unpacked into, or deleted
    // through, a folder or link that someone else put in place.
    std::string staging;
    if (!MakeFreshFolder(LocalBytes(StagingFolderPrefix(request.appDir)), staging)) {
        return reject();
    }
    const QString stagingFolder = Local(staging);
    const char sep = NativeSeparator();
    const std::string unpacked = staging + sep + "p";
    const std::string displaced = staging + sep + "d";
    const auto discard = [&stagingFolder] {
        if (IsPlainFolder(stagingFolder.toLocal8Bit().constData())) {
            QDir(stagingFolder).removeRecursively();
        }
    };

    uint64_t written = 0;
    const bool whole = MakeFolder(unpacked.c_str()) && MakeFolder(displaced.c_str()) &&
                       Unpack(zip, checked, infos, Local(unpacked), request.limits, written);
    zip.close();
    if (request.unpackedBytes != nullptr) {
        *request.unpackedBytes = written;
    }
    SwapPlan plan;
    char stagedDigest[33] = "";
    if (!whole || !PlanSwap(checked, rules, unpacked, displaced, request.appDir, request.exePath, plan) ||
        !QFileInfo(Local(plan.stagedExecutable)).isFile() ||
        FileMd5Hex(plan.stagedExecutable.c_str(), stagedDigest) != 0 || request.releaseDigest.empty() ||
        request.releaseDigest != stagedDigest) {
        discard();
        return reject();
    }

    const SwapResult swapped = RunSwap(plan, PlatformFileSystem(), request.sleep);
    // When even the way back failed, the staging folder holds the only copies of the files the package
    // replaced: it stays.
    if (swapped != SwapResult::RollbackFailed) {
        discard();
    }
    if (swapped != SwapResult::Done) {
        return InstallResult::SwapFailed;
    }
    QFile::remove(package);
    return InstallResult::Installed;
}
