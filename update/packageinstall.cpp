#include "update/packageinstall.h"

#include "platform/fileinfo.h"
#include "platform/fileops.h"
#include "platform/namerules.h"
#include "platform/safefiles.h"
#include "platform/selfpath.h"
#include "update/filedigest.h"
#include "update/packagenames.h"
#include "update/packagereader.h"
#include "update/releasesignature.h"
#include "update/swap.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

QString Local(const std::string &text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<int>(text.size()));
}

// The package's entries, their names checked against the rules, within the limits. The directory is
// walked only up to one entry past the limit, so memory stays bounded whatever it holds. False when
// anything is refused.
bool ReadPackageDirectory(PackageReader &zip, const PackageNameRules &rules, const UnpackLimits &limits,
                          std::vector<PackageEntry> &entries, std::vector<CheckedEntry> &checked)
{
    if (zip.ReadDirectory(limits.entries, entries) != DirectoryWalk::Read || entries.empty()) {
        return false;
    }
    std::vector<std::string> names;
    uint64_t declared = 0;
    for (const PackageEntry &entry : entries) {
        // A name the file system would take differently would land somewhere else than the name says.
        if (entry.symbolicLink || !NameIsWrittenAsStored(entry.name, entry.markedUtf8)) {
            return false;
        }
        declared += entry.size;
        if (declared > limits.totalBytes) {
            return false;
        }
        names.push_back(entry.name);
    }
    if (!CheckPackageNames(names, rules, checked)) {
        return false;
    }
    // What is written must be the very bytes that were checked (and signed): a name the rules read
    // another way, with '\' between its parts for one, is refused rather than written under another name.
    for (size_t i = 0; i < entries.size(); ++i) {
        if (checked[i].path + (checked[i].isDirectory ? "/" : "") != entries[i].name) {
            return false;
        }
    }
    return true;
}

// The folders above path, below root, made where missing.
bool MakeParentFolders(const std::string &root, const std::string &path)
{
    for (size_t cut = path.find('/'); cut != std::string::npos; cut = path.find('/', cut + 1)) {
        const std::string folder = root + '/' + path.substr(0, cut);
        if (!MakeFolder(folder.c_str()) && !IsPlainFolder(folder.c_str())) {
            return false;
        }
    }
    return true;
}

enum class Unpacked
{
    Whole,
    Broken,
    Stopped,
};

// Writes every entry below root, counting what is written: an entry whose data is not exactly what the
// directory declares (size and CRC), or a total beyond the limit, ends the unpacking. The files are new,
// never opened through something that was there before, have their modes set (0755 when the package
// marks them executable, 0644 otherwise) and are on the disk before anything is moved.
Unpacked Unpack(PackageReader &zip, const std::vector<PackageEntry> &entries,
                const std::vector<CheckedEntry> &checked, const std::string &root,
                const InstallRequest &request, uint64_t &written)
{
    const auto stop = [&request] { return request.stopRequested && request.stopRequested(); };
    for (size_t i = 0; i < entries.size(); ++i) {
        if (stop()) {
            return Unpacked::Stopped;
        }
        const std::string target = root + '/' + checked[i].path;
        if (!MakeParentFolders(root, checked[i].path)) {
            return Unpacked::Broken;
        }
        if (checked[i].isDirectory) {
            if (!MakeFolder(target.c_str()) && !IsPlainFolder(target.c_str())) {
                return Unpacked::Broken;
            }
            continue;
        }
        std::FILE *out = CreateExclusiveFile(
            target.c_str(), entries[i].executable ? FileAccess::Executable : FileAccess::Readable, false);
        if (out == nullptr) {
            return Unpacked::Broken;
        }
        bool stopped = false;
        bool read = zip.ReadEntry(entries[i], [&](const char *data, size_t n) {
            if (written + n > request.limits.totalBytes || (stopped = stop())) {
                return false;
            }
            written += n;
            return std::fwrite(data, 1, n, out) == n;
        });
        read = FlushFileToDisk(out) && read;
        if (std::fclose(out) != 0 || !read) {
            return stopped ? Unpacked::Stopped : Unpacked::Broken;
        }
        if (request.stepDone) {
            request.stepDone();
        }
    }
    return Unpacked::Whole;
}

} // namespace

QString StagingFolderPrefix(const std::string &appDir)
{
    return Local(appDir) + QString::fromLatin1(kStagingFolderPrefix) + '.';
}

InstallResult InstallPackage(const InstallRequest &request)
{
    const std::string executableName = InstanceExecutableName();
    const PackageNameRules rules = RulesForProgram(request.exePath, executableName);
    // Checked and unpacked from this one open file (the very one the download wrote): what is unpacked
    // is what was checked.
    QFile package;
    std::FILE *handle = request.package;
    const auto removePackage = [&package, &handle, &request] {
        package.close();
        if (handle != nullptr) {
            std::fclose(handle);
            handle = nullptr;
        }
        std::remove(request.packagePath.c_str());
    };
    const auto reject = [&removePackage] {
        removePackage();
        return InstallResult::Rejected;
    };
    const bool opened =
        handle != nullptr
            ? std::fseek(handle, 0, SEEK_SET) == 0 && package.open(handle, QIODevice::ReadOnly)
            : (package.setFileName(Local(request.packagePath)), package.open(QIODevice::ReadOnly));
    if (!opened) {
        return reject();
    }
    PackageReader zip(&package);

    // Origin first, then the directory: a package refused here has not written a byte.
    std::vector<PackageEntry> entries;
    std::vector<CheckedEntry> checked;
    if (!zip.isOpen() || !ReleaseSignatureAccepted(zip, package.size()) ||
        !ReadPackageDirectory(zip, rules, request.limits, entries, checked)) {
        return reject();
    }

    if (request.checked) {
        request.checked();
    }

    // A folder made here and now, never one that was already there: nothing is unpacked into, or deleted
    // through, a folder or link that someone else put in place. It is held while this update runs, so
    // that no other start takes it for one left behind (where the file system has no locks it is not,
    // and such starts leave every staging folder alone).
    std::string staging;
    if (!MakeFreshFolder(request.appDir + kStagingFolderPrefix + ".", staging)) {
        return reject();
    }
    intptr_t hold = HoldFolder(staging.c_str());
    const char sep = NativeSeparator();
    const std::string unpacked = staging + sep + "p";
    const std::string displaced = staging + sep + "d";
    const auto discard = [&staging, &hold] {
        ReleaseFolder(hold);
        hold = -1;
        if (IsPlainFolder(staging.c_str())) {
            RemoveFolderTree(staging.c_str());
        }
    };

    uint64_t written = 0;
    const Unpacked result = !MakeFolder(unpacked.c_str()) || !MakeFolder(displaced.c_str())
                                ? Unpacked::Broken
                                : Unpack(zip, entries, checked, unpacked, request, written);
    if (request.unpackedBytes != nullptr) {
        *request.unpackedBytes = written;
    }
    if (result == Unpacked::Stopped) {
        discard();
        removePackage();
        return InstallResult::Stopped;
    }
    SwapPlan plan;
    char stagedDigest[33] = "";
    if (result != Unpacked::Whole ||
        !PlanSwap(checked, rules, staging, request.appDir, request.exePath, plan) ||
        !QFileInfo(Local(plan.stagedExecutable)).isFile() ||
        FileMd5Hex(plan.stagedExecutable.c_str(), stagedDigest) != 0 || request.releaseDigest.empty() ||
        request.releaseDigest != stagedDigest) {
        discard();
        return reject();
    }

    // Said before the stop is looked at for the last time: whoever asks for the stop then either sees the
    // swap under way (and waits for it) or is seen here.
    if (request.swapping) {
        request.swapping(true);
    }
    if (request.stopRequested && request.stopRequested()) {
        if (request.swapping) {
            request.swapping(false);
        }
        discard();
        removePackage();
        return InstallResult::Stopped;
    }
    const SwapResult swapped =
        RunSwap(plan, PlatformFileSystem(), SwapProgress{request.sleep, request.stepDone});
    if (request.swapping) {
        request.swapping(false);
    }
    // When even the way back failed, the staging folder holds the journal and the only copies of the
    // files the package replaced: it stays for the next start.
    if (swapped == SwapResult::RollbackFailed) {
        ReleaseFolder(hold);
    } else {
        discard();
    }
    if (swapped != SwapResult::Done) {
        package.close();
        if (handle != nullptr) {
            std::fclose(handle);
        }
        return InstallResult::SwapFailed;
    }
    removePackage();
    return InstallResult::Installed;
}
