#include "update/releasesignature.h"

#include "update/releasekey.h"
#include "update/releasescan.h"

#include <QCryptographicHash>
#include <QFile>
#include <map>
#include <memory>
#include <openssl/evp.h>
#include <set>

const char kManifestEntryName[] = "Quillmark.manifest";
const char kSignatureEntryName[] = "Quillmark.sig";
const char kManifestHeader[] = "Quillmark release manifest 1";
const char kReleaseEntryName[] = "Quillmark.release";
const char kScopeEntryName[] = "Quillmark.scope";

int64_t DefaultMaxPackageBytes()
{
    return int64_t(QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB) << 20;
}

namespace {

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// A release file is a number and a line end, a scope file two short lines; anything longer is neither.
constexpr uint64_t kReleaseTextBytes = 32;
constexpr uint64_t kScopeTextBytes = 96;

bool IsLowerHex(const char *text, int count)
{
    for (int i = 0; i < count; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// Differs from a signature entry's name only in letter case: on a case-insensitive file system it would
// land on that entry's file.
bool ShadowsSignatureEntry(const std::string &name)
{
    return !releasescan::IsSignatureEntry(name) && (qstricmp(name.c_str(), kManifestEntryName) == 0 ||
                                                    qstricmp(name.c_str(), kSignatureEntryName) == 0);
}

// Reads a small entry whole.
bool ReadSmallEntry(PackageReader &zip, const PackageEntry &entry, QByteArray &out)
{
    out.clear();
    return zip.ReadEntry(entry, [&out](const char *data, size_t n) {
        out.append(data, int(n));
        return true;
    });
}

} // namespace

namespace releasescan {

PackageCheckResult Result(PackageCheck check, const QString &detail)
{
    PackageCheckResult result;
    result.check = check;
    result.detail = detail;
    return result;
}

QString Quoted(const std::string &name)
{
    return QStringLiteral("\"") + QString::fromUtf8(name.data(), int(name.size())) + QStringLiteral("\"");
}

bool IsSignatureEntry(const std::string &name)
{
    return name == kManifestEntryName || name == kSignatureEntryName;
}

PackageCheckResult ScanEntries(PackageReader &zip, const PackageLimits &limits,
                               std::vector<PackageEntry> &entries, QByteArray *manifest,
                               QByteArray *signature, bool *hasManifest, bool *hasSignature)
{
    *hasManifest = false;
    *hasSignature = false;
    switch (zip.ReadDirectory(limits.maxEntries, entries)) {
    case DirectoryWalk::Read:
        break;
    case DirectoryWalk::TooMany:
        return Result(PackageCheck::TooLarge, QStringLiteral("more than %1 entries").arg(limits.maxEntries));
    case DirectoryWalk::Damaged:
        return Result(PackageCheck::Unreadable,
                      QStringLiteral("damaged directory, or two directory records of the same data"));
    }
    std::set<std::string> seen;
    uint64_t unpacked = 0;
    for (const PackageEntry &entry : entries) {
        if (entry.name.empty() || entry.name.find('\0') != std::string::npos) {
            // A name cut short at a NUL would be written under another name than the one checked.
            return Result(PackageCheck::Mismatch, QStringLiteral("an entry name is empty or holds a NUL"));
        }
        if (entry.directory && entry.size != 0) {
            return Result(PackageCheck::Mismatch,
                          QStringLiteral("folder entry %1 holds data").arg(Quoted(entry.name)));
        }
        if (!seen.insert(entry.name).second) {
            return Result(PackageCheck::Mismatch,
                          QStringLiteral("%1 is twice in the package").arg(Quoted(entry.name)));
        }
        if (ShadowsSignatureEntry(entry.name)) {
            return Result(PackageCheck::Mismatch,
                          QStringLiteral("%1 stands for a signature entry").arg(Quoted(entry.name)));
        }
        if (entry.name == kManifestEntryName) {
            *hasManifest = true;
            if (entry.size > uint64_t(limits.maxManifestBytes)) {
                return Result(PackageCheck::TooLarge,
                              QStringLiteral("manifest over %1 bytes").arg(limits.maxManifestBytes));
            }
            if (manifest != nullptr && !ReadSmallEntry(zip, entry, *manifest)) {
                return Result(PackageCheck::Unreadable, QStringLiteral("manifest cannot be read"));
            }
        } else if (entry.name == kSignatureEntryName) {
            *hasSignature = true;
            if (entry.size != uint64_t(kEd25519SignatureBytes)) {
                return Result(PackageCheck::BadSignature, QStringLiteral("signature is not 64 bytes"));
            }
            if (signature != nullptr && !ReadSmallEntry(zip, entry, *signature)) {
                return Result(PackageCheck::Unreadable, QStringLiteral("signature cannot be read"));
            }
        } else if (!entry.directory) {
            unpacked += entry.size;
            if (entry.size > uint64_t(limits.maxUnpackedBytes) ||
                unpacked > uint64_t(limits.maxUnpackedBytes)) {
                return Result(PackageCheck::TooLarge,
                              QStringLiteral("files over %1 bytes unpacked").arg(limits.maxUnpackedBytes));
            }
        }
    }
    return Result(PackageCheck::Verified, QString());
}

PackageCheckResult DigestFiles(PackageReader &zip, const std::vector<PackageEntry> &entries,
                               std::vector<std::string> &digests, QByteArray *releaseText,
                               QByteArray *scopeText)
{
    digests.assign(entries.size(), std::string());
    for (size_t index = 0; index < entries.size(); ++index) {
        const PackageEntry &entry = entries[index];
        if (entry.directory || IsSignatureEntry(entry.name)) {
            // Read all the same: the data must be what the directory says (nothing, for a folder).
            if (!zip.ReadEntry(entry, [](const char *, size_t) { return true; })) {
                return Result(PackageCheck::Unreadable,
                              QStringLiteral("%1 cannot be read").arg(Quoted(entry.name)));
            }
            continue;
        }
        // Read exactly as declared, so a release or scope file declared small holds no more than that.
        QByteArray *keep = nullptr;
        if (entry.name == kReleaseEntryName && entry.size <= kReleaseTextBytes) {
            keep = releaseText;
        } else if (entry.name == kScopeEntryName && entry.size <= kScopeTextBytes) {
            keep = scopeText;
        }
        if (keep != nullptr) {
            keep->clear();
        }
        QCryptographicHash sha(QCryptographicHash::Sha256);
        const bool read = zip.ReadEntry(entry, [&](const char *data, size_t n) {
            sha.addData(data, int(n));
            if (keep != nullptr) {
                keep->append(data, int(n));
            }
            return true;
        });
        if (!read) {
            return Result(PackageCheck::Unreadable,
                          QStringLiteral("%1 cannot be read").arg(Quoted(entry.name)));
        }
        digests[index] = sha.result().toHex().toStdString();
    }
    return Result(PackageCheck::Verified, QString());
}

PackageCheckResult FoldersHoldFiles(const std::vector<PackageEntry> &entries)
{
    // Every folder that holds a file, as its name with the trailing '/'.
    std::set<std::string> parents;
    for (const PackageEntry &entry : entries) {
        if (entry.directory) {
            continue;
        }
        for (size_t cut = entry.name.find('/'); cut != std::string::npos;
             cut = entry.name.find('/', cut + 1)) {
            parents.insert(entry.name.substr(0, cut + 1));
        }
    }
    for (const PackageEntry &entry : entries) {
        if (entry.directory && parents.count(entry.name) == 0) {
            return Result(
                PackageCheck::Mismatch,
                QStringLiteral("folder entry %1 holds no file of the release").arg(Quoted(entry.name)));
        }
    }
    return Result(PackageCheck::Verified, QString());
}

} // namespace releasescan

using namespace releasescan;

bool ParseManifest(const QByteArray &text, std::vector<ManifestEntry> &entries)
{
    entries.clear();
    const QByteArray header = QByteArray(kManifestHeader) + '\n';
    if (!text.startsWith(header)) {
        return false;
    }
    std::set<std::string> names;
    int pos = header.size();
    while (pos < text.size()) {
        const int end = text.indexOf('\n', pos);
        if (end < 0) {
            entries.clear();
            return false;
        }
        const char *line = text.constData() + pos;
        const int length = end - pos;
        ManifestEntry entry;
        if (length < 64 + 2 + 1 || !IsLowerHex(line, 64) || line[64] != ' ' || line[65] != ' ') {
            entries.clear();
            return false;
        }
        entry.sha256Hex.assign(line, 64);
        entry.name.assign(line + 66, size_t(length - 66));
        if (entry.name.find_first_of(std::string("\0\r", 2)) != std::string::npos ||
            !names.insert(entry.name).second) {
            entries.clear();
            return false;
        }
        entries.push_back(std::move(entry));
        pos = end + 1;
    }
    return true;
}

uint64_t ParseReleaseNumber(const QByteArray &text)
{
    return text.endsWith('\n') ? ParseDecimalRelease(text.left(text.size() - 1).toStdString()) : 0;
}

QByteArray ScopeText(const std::string &platform, const std::string &channel)
{
    return QByteArray::fromStdString("platform=" + platform + "\nchannel=" + channel + "\n");
}

bool ParseScope(const QByteArray &text, std::string &platform, std::string &channel)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 3 || !lines[2].isEmpty() || !lines[0].startsWith("platform=") ||
        !lines[1].startsWith("channel=")) {
        return false;
    }
    const std::string p = lines[0].mid(9).toStdString();
    const std::string c = lines[1].mid(8).toStdString();
    if (!IsScopeName(p) || !IsScopeName(c)) {
        return false;
    }
    platform = p;
    channel = c;
    return true;
}

bool VerifySignature(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    if (publicKey.size() != kEd25519PublicKeyBytes || signature.size() != kEd25519SignatureBytes) {
        return false;
    }
    Pkey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                         size_t(publicKey.size())));
    MdCtx ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size())) == 1;
}

PackageCheckResult VerifyReleasePackage(PackageReader &zip, int64_t packageBytes, const QByteArray &publicKey,
                                        const ReleaseExpectation &expected, const PackageLimits &limits)
{
    if (publicKey.size() != kEd25519PublicKeyBytes) {
        return Result(PackageCheck::BadSignature, QStringLiteral("no usable public key"));
    }
    if (packageBytes > limits.maxPackageBytes) {
        return Result(PackageCheck::TooLarge,
                      QStringLiteral("package over %1 bytes").arg(limits.maxPackageBytes));
    }
    if (!zip.isOpen()) {
        return Result(PackageCheck::Unreadable, QStringLiteral("not a zip file"));
    }
    std::vector<PackageEntry> entries;
    QByteArray manifest, signature;
    bool hasManifest = false, hasSignature = false;
    PackageCheckResult result =
        ScanEntries(zip, limits, entries, &manifest, &signature, &hasManifest, &hasSignature);
    if (result.check != PackageCheck::Verified) {
        return result;
    }
    if (!hasManifest || !hasSignature) {
        return Result(PackageCheck::Unsigned, hasManifest ? QStringLiteral("no signature entry")
                                                          : QStringLiteral("no manifest entry"));
    }
    // Nothing of the manifest is believed before its signature holds.
    if (!VerifySignature(publicKey, manifest, signature)) {
        return Result(PackageCheck::BadSignature, QStringLiteral("the signature does not match the key"));
    }
    std::vector<ManifestEntry> listed;
    if (!ParseManifest(manifest, listed)) {
        return Result(PackageCheck::BadManifest, QStringLiteral("the manifest is not well formed"));
    }

    std::set<std::string> files;
    for (const PackageEntry &entry : entries) {
        if (!entry.directory && !IsSignatureEntry(entry.name)) {
            files.insert(entry.name);
        }
    }
    for (const ManifestEntry &entry : listed) {
        if (files.count(entry.name) == 0) {
            return Result(PackageCheck::Mismatch,
                          QStringLiteral("%1 is listed but not in the package").arg(Quoted(entry.name)));
        }
    }
    if (listed.size() != files.size()) {
        std::set<std::string> names;
        for (const ManifestEntry &entry : listed) {
            names.insert(entry.name);
        }
        for (const std::string &name : files) {
            if (names.count(name) == 0) {
                return Result(PackageCheck::Mismatch, QStringLiteral("%1 is not listed").arg(Quoted(name)));
            }
        }
    }
    result = FoldersHoldFiles(entries);
    if (result.check != PackageCheck::Verified) {
        return result;
    }

    std::vector<std::string> digests;
    QByteArray releaseText, scopeText;
    result = DigestFiles(zip, entries, digests, &releaseText, &scopeText);
    if (result.check != PackageCheck::Verified) {
        return result;
    }
    std::map<std::string, size_t> indexOf;
    for (size_t i = 0; i < entries.size(); ++i) {
        indexOf[entries[i].name] = i;
    }
    for (const ManifestEntry &entry : listed) {
        if (digests[indexOf[entry.name]] != entry.sha256Hex) {
            return Result(PackageCheck::Mismatch,
                          QStringLiteral("%1 has another digest").arg(Quoted(entry.name)));
        }
    }
    // Number and scope are read from the bytes whose digests were just compared, so the signature covers
    // them.
    if (files.count(kReleaseEntryName) == 0) {
        return Result(PackageCheck::ReleaseNumber, QStringLiteral("no release number"));
    }
    const uint64_t release = ParseReleaseNumber(releaseText);
    if (release == 0) {
        return Result(PackageCheck::ReleaseNumber, QStringLiteral("the release number is malformed"));
    }
    if (release <= expected.releaseAbove) {
        result = Result(PackageCheck::ReleaseNumber,
                        QStringLiteral("release %1 is not above %2").arg(release).arg(expected.releaseAbove));
        result.release = release;
        return result;
    }
    std::string platform, channel;
    if (files.count(kScopeEntryName) == 0 || !ParseScope(scopeText, platform, channel)) {
        result = Result(PackageCheck::Scope, files.count(kScopeEntryName) == 0
                                                 ? QStringLiteral("no platform and channel")
                                                 : QStringLiteral("the platform and channel are malformed"));
        result.release = release;
        return result;
    }
    result = Result(PackageCheck::Verified, QString());
    result.release = release;
    result.platform = platform;
    result.channel = channel;
    if ((!expected.platform.empty() && platform != expected.platform) ||
        (!expected.channel.empty() && channel != expected.channel)) {
        result.check = PackageCheck::Scope;
        result.detail =
            QStringLiteral("a release for %1, %2, not for %3, %4")
                .arg(QString::fromStdString(platform), QString::fromStdString(channel),
                     QString::fromStdString(expected.platform), QString::fromStdString(expected.channel));
    }
    return result;
}

PackageCheckResult VerifyReleasePackage(const QString &packagePath, const QByteArray &publicKey,
                                        const ReleaseExpectation &expected, const PackageLimits &limits)
{
    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return Result(PackageCheck::Unreadable, QStringLiteral("no package file"));
    }
    PackageReader zip(&file);
    return VerifyReleasePackage(zip, file.size(), publicKey, expected, limits);
}

ReleaseExpectation BuiltInExpectation()
{
    const ReleaseIdentity &self = BuiltInReleaseKey().identity;
    // A program whose identity did not parse requires what no package has: nothing installs.
    if (self.release == 0) {
        return ReleaseExpectation(UINT64_MAX, "?", "?");
    }
    return ReleaseExpectation(self.release, self.platform, self.channel);
}

bool ReleaseSignatureAccepted(PackageReader &package, int64_t packageBytes)
{
    const ReleaseKey &key = BuiltInReleaseKey();
    return !key.present || VerifyReleasePackage(package, packageBytes, key.key, BuiltInExpectation()).check ==
                               PackageCheck::Verified;
}
