#include "update/releasesignature.h"

#include "update/releasekey.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <map>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <set>
#include <unzip.h>
#include <zip.h>

const char kManifestEntryName[] = "Quillmark.manifest";
const char kSignatureEntryName[] = "Quillmark.sig";
const char kManifestHeader[] = "Quillmark release manifest 1";

namespace {

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

Pkey ReadPrivateKey(const QByteArray &pem)
{
    Bio bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    if (!bio) {
        return nullptr;
    }
    Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        return nullptr;
    }
    return key;
}

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

bool IsSignatureEntry(const std::string &name)
{
    return name == kManifestEntryName || name == kSignatureEntryName;
}

// Differs from a signature entry's name only in letter case: on a case-insensitive file system it would
// land on that entry's file.
bool ShadowsSignatureEntry(const std::string &name)
{
    return !IsSignatureEntry(name) && (qstricmp(name.c_str(), kManifestEntryName) == 0 ||
                                       qstricmp(name.c_str(), kSignatureEntryName) == 0);
}

struct ScannedEntry
{
    std::string name;
    uint64_t size = 0;
    bool directory = false;
};

// Walks the zip's directory, checking the limits from what it declares. Reads the manifest and the
// signature on the way when asked to.
PackageCheckResult ScanEntries(QuaZip &zip, const PackageLimits &limits, std::vector<ScannedEntry> &entries,
                               QByteArray *manifest, QByteArray *signature, bool *hasManifest,
                               bool *hasSignature);

PackageCheckResult Result(PackageCheck check, const QString &detail)
{
    return PackageCheckResult{check, detail};
}

QString Quoted(const std::string &name)
{
    return QStringLiteral("\"") + QString::fromUtf8(name.data(), int(name.size())) + QStringLiteral("\"");
}

// Reads the current entry through, at most declared bytes (one more tells that it holds more), into sink.
template <typename Sink> bool ReadCurrentEntry(QuaZip &zip, uint64_t declared, Sink sink)
{
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    char block[65536];
    uint64_t total = 0;
    for (;;) {
        const qint64 n = file.read(block, sizeof block);
        if (n < 0) {
            file.close();
            return false;
        }
        if (n == 0) {
            break;
        }
        total += uint64_t(n);
        if (total > declared) {
            file.close();
            return false;
        }
        sink(block, int(n));
    }
    file.close();
    // The CRC is compared at the close.
    return total == declared && file.getZipError() == UNZ_OK;
}

PackageCheckResult ScanEntries(QuaZip &zip, const PackageLimits &limits, std::vector<ScannedEntry> &entries,
                               QByteArray *manifest, QByteArray *signature, bool *hasManifest,
                               bool *hasSignature)
{
    entries.clear();
    *hasManifest = false;
    *hasSignature = false;
    if (zip.getEntriesCount() > limits.maxEntries) {
        return Result(PackageCheck::TooLarge, QStringLiteral("more than %1 entries").arg(limits.maxEntries));
    }
    std::set<std::string> seen;
    uint64_t unpacked = 0;
    std::vector<char> name(65536);
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (int(entries.size()) >= limits.maxEntries) {
            return Result(PackageCheck::TooLarge,
                          QStringLiteral("more than %1 entries").arg(limits.maxEntries));
        }
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip.getUnzFile(), &info, name.data(), uLong(name.size()), nullptr, 0,
                                    nullptr, 0) != UNZ_OK) {
            return Result(PackageCheck::Unreadable, QStringLiteral("damaged directory"));
        }
        ScannedEntry entry;
        entry.name.assign(name.data(), std::min<size_t>(info.size_filename, name.size()));
        entry.size = info.uncompressed_size;
        if (entry.name.empty() || entry.name.find('\0') != std::string::npos) {
            // A name cut short at a NUL would be written under another name than the one checked.
            return Result(PackageCheck::Mismatch, QStringLiteral("an entry name is empty or holds a NUL"));
        }
        entry.directory = entry.name.back() == '/';
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
            if (manifest != nullptr) {
                manifest->clear();
                if (!ReadCurrentEntry(zip, entry.size,
                                      [&](const char *data, int n) { manifest->append(data, n); })) {
                    return Result(PackageCheck::Unreadable, QStringLiteral("manifest cannot be read"));
                }
            }
        } else if (entry.name == kSignatureEntryName) {
            *hasSignature = true;
            if (entry.size != uint64_t(kEd25519SignatureBytes)) {
                return Result(PackageCheck::BadSignature, QStringLiteral("signature is not 64 bytes"));
            }
            if (signature != nullptr) {
                signature->clear();
                if (!ReadCurrentEntry(zip, entry.size,
                                      [&](const char *data, int n) { signature->append(data, n); })) {
                    return Result(PackageCheck::Unreadable, QStringLiteral("signature cannot be read"));
                }
            }
        } else if (!entry.directory) {
            unpacked += entry.size;
            if (entry.size > uint64_t(limits.maxUnpackedBytes) ||
                unpacked > uint64_t(limits.maxUnpackedBytes)) {
                return Result(PackageCheck::TooLarge,
                              QStringLiteral("files over %1 bytes unpacked").arg(limits.maxUnpackedBytes));
            }
        }
        entries.push_back(std::move(entry));
    }
    if (zip.getZipError() != UNZ_OK) {
        return Result(PackageCheck::Unreadable, QStringLiteral("damaged directory"));
    }
    return Result(PackageCheck::Verified, QString());
}

// The files' digests, in the order of the scan, for every entry that is a release file.
PackageCheckResult DigestFiles(QuaZip &zip, const std::vector<ScannedEntry> &entries,
                               std::vector<std::string> &digests)
{
    digests.assign(entries.size(), std::string());
    size_t index = 0;
    for (bool more = zip.goToFirstFile(); more && index < entries.size();
         more = zip.goToNextFile(), ++index) {
        const ScannedEntry &entry = entries[index];
        if (entry.directory || IsSignatureEntry(entry.name)) {
            continue;
        }
        QCryptographicHash sha(QCryptographicHash::Sha256);
        if (!ReadCurrentEntry(zip, entry.size, [&](const char *data, int n) { sha.addData(data, n); })) {
            return Result(PackageCheck::Unreadable,
                          QStringLiteral("%1 cannot be read").arg(Quoted(entry.name)));
        }
        digests[index] = sha.result().toHex().toStdString();
    }
    if (index != entries.size() || zip.getZipError() != UNZ_OK) {
        return Result(PackageCheck::Unreadable, QStringLiteral("damaged directory"));
    }
    return Result(PackageCheck::Verified, QString());
}

PackageCheckResult OpenWithinLimits(QuaZip &zip, const QString &packagePath, const PackageLimits &limits)
{
    const QFileInfo file(packagePath);
    if (!file.isFile()) {
        return Result(PackageCheck::Unreadable, QStringLiteral("no package file"));
    }
    if (file.size() > limits.maxPackageBytes) {
        return Result(PackageCheck::TooLarge,
                      QStringLiteral("package over %1 bytes").arg(limits.maxPackageBytes));
    }
    if (!zip.open(QuaZip::mdUnzip)) {
        return Result(PackageCheck::Unreadable, QStringLiteral("not a zip file"));
    }
    return Result(PackageCheck::Verified, QString());
}

bool AddSignatureEntries(const QString &path, const QByteArray &manifest, const QByteArray &signature)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdAdd)) {
        return false;
    }
    const std::pair<const char *, const QByteArray *> added[] = {{kManifestEntryName, &manifest},
                                                                 {kSignatureEntryName, &signature}};
    for (const auto &entry : added) {
        QuaZipFile file(&zip);
        QuaZipNewInfo info(QString::fromLatin1(entry.first));
        info.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        if (!file.open(QIODevice::WriteOnly, info) || file.write(*entry.second) != entry.second->size()) {
            return false;
        }
        file.close();
        if (file.getZipError() != ZIP_OK) {
            return false;
        }
    }
    zip.close();
    return zip.getZipError() == ZIP_OK;
}

} // namespace

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

QByteArray BuildManifest(const std::vector<ManifestEntry> &entries)
{
    QByteArray text = QByteArray(kManifestHeader) + '\n';
    for (const ManifestEntry &entry : entries) {
        text +=
            QByteArray::fromStdString(entry.sha256Hex) + "  " + QByteArray::fromStdString(entry.name) + '\n';
    }
    return text;
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

PackageCheckResult VerifyReleasePackage(const QString &packagePath, const QByteArray &publicKey,
                                        const PackageLimits &limits)
{
    if (publicKey.size() != kEd25519PublicKeyBytes) {
        return Result(PackageCheck::BadSignature, QStringLiteral("no usable public key"));
    }
    QuaZip zip(packagePath);
    PackageCheckResult result = OpenWithinLimits(zip, packagePath, limits);
    if (result.check != PackageCheck::Verified) {
        return result;
    }
    std::vector<ScannedEntry> entries;
    QByteArray manifest, signature;
    bool hasManifest = false, hasSignature = false;
    result = ScanEntries(zip, limits, entries, &manifest, &signature, &hasManifest, &hasSignature);
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
    for (const ScannedEntry &entry : entries) {
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

    std::vector<std::string> digests;
    result = DigestFiles(zip, entries, digests);
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
    return Result(PackageCheck::Verified, QString());
}

bool ReleaseSignatureAccepted(const QString &packagePath)
{
    const ReleaseKey &key = BuiltInReleaseKey();
    return !key.present || VerifyReleasePackage(packagePath, key.key).check == PackageCheck::Verified;
}

QByteArray GenerateSigningKeyPem()
{
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX *)> ctx(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY *raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
        return QByteArray();
    }
    Pkey key(raw);
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return QByteArray();
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

QByteArray PublicKeyOfPem(const QByteArray &privateKeyPem)
{
    Pkey key = ReadPrivateKey(privateKeyPem);
    QByteArray raw(kEd25519PublicKeyBytes, '\0');
    size_t length = size_t(raw.size());
    if (!key ||
        EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1 ||
        length != size_t(kEd25519PublicKeyBytes)) {
        return QByteArray();
    }
    return raw;
}

QByteArray SignMessage(const QByteArray &privateKeyPem, const QByteArray &message)
{
    Pkey key = ReadPrivateKey(privateKeyPem);
    MdCtx ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return QByteArray();
    }
    QByteArray signature(kEd25519SignatureBytes, '\0');
    size_t length = size_t(signature.size());
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.constData()),
                       size_t(message.size())) != 1 ||
        length != size_t(kEd25519SignatureBytes)) {
        return QByteArray();
    }
    return signature;
}

bool SignReleasePackage(const QString &packagePath, const QByteArray &privateKeyPem, QString &error,
                        const PackageLimits &limits)
{
    std::vector<ManifestEntry> listed;
    {
        QuaZip zip(packagePath);
        PackageCheckResult result = OpenWithinLimits(zip, packagePath, limits);
        std::vector<ScannedEntry> entries;
        bool hasManifest = false, hasSignature = false;
        if (result.check == PackageCheck::Verified) {
            result = ScanEntries(zip, limits, entries, nullptr, nullptr, &hasManifest, &hasSignature);
        }
        if (result.check != PackageCheck::Verified) {
            error = result.detail;
            return false;
        }
        if (hasManifest || hasSignature) {
            error = QStringLiteral("the package already holds a manifest or signature entry");
            return false;
        }
        std::vector<std::string> digests;
        result = DigestFiles(zip, entries, digests);
        if (result.check != PackageCheck::Verified) {
            error = result.detail;
            return false;
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].directory) {
                continue;
            }
            if (entries[i].name.find_first_of("\r\n") != std::string::npos) {
                error = QStringLiteral("%1: a manifest cannot carry a name with a line break")
                            .arg(Quoted(entries[i].name));
                return false;
            }
            listed.push_back(ManifestEntry{entries[i].name, digests[i]});
        }
        zip.close();
    }
    if (listed.empty()) {
        error = QStringLiteral("the package holds no file");
        return false;
    }
    const QByteArray manifest = BuildManifest(listed);
    const QByteArray signature = SignMessage(privateKeyPem, manifest);
    if (signature.isEmpty()) {
        error = QStringLiteral("the private key is not an Ed25519 key");
        return false;
    }
    // Signed on a copy that replaces the package only when complete: a failure leaves the package as it was.
    const QString signing = packagePath + QStringLiteral(".signing");
    QFile::remove(signing);
    if (!QFile::copy(packagePath, signing) || !AddSignatureEntries(signing, manifest, signature)) {
        QFile::remove(signing);
        error = QStringLiteral("the package cannot be written");
        return false;
    }
    QFile::remove(packagePath);
    if (!QFile::rename(signing, packagePath)) {
        error = QStringLiteral("the signed package is left at %1").arg(signing);
        return false;
    }
    return true;
}
