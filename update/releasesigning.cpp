#include "update/releasesigning.h"

#include "update/releasekey.h"
#include "update/releasescan.h"

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

using namespace releasescan;

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

// The signed package: the signature, the manifest, the scope and the release file first, stored, so that
// a program can judge a download from its first bytes; then every entry of the package as it is (its name
// bytes, data, attributes and flags copied raw, never decoded and encoded again).
bool WriteSignedPackage(QIODevice &source, const QString &target,
                        const std::vector<std::pair<const char *, QByteArray>> &front)
{
    QuaZip reader(&source);
    reader.setAutoClose(false);
    QFile::remove(target);
    QFile out(target);
    if (!reader.open(QuaZip::mdUnzip) || !out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    QuaZip writer(&out);
    // Sizes in every local header, so the entries can be read as they arrive.
    writer.setDataDescriptorWritingEnabled(false);
    if (!writer.open(QuaZip::mdCreate)) {
        return false;
    }
    zipFile zf = writer.getZipFile();
    bool ok = true;
    for (const auto &entry : front) {
        zip_fileinfo info = {};
        info.external_fa = uLong(0100644u) << 16;
        ok = ok &&
             zipOpenNewFileInZip4_64(zf, entry.first, &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0,
                                     -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                     (3u << 8) | 20u, 0, 0) == ZIP_OK &&
             zipWriteInFileInZip(zf, entry.second.constData(), unsigned(entry.second.size())) == ZIP_OK &&
             zipCloseFileInZip(zf) == ZIP_OK;
    }
    unzFile uf = reader.getUnzFile();
    std::vector<char> name(65536);
    std::vector<char> block(65536);
    for (int status = unzGoToFirstFile(uf); ok && status == UNZ_OK; status = unzGoToNextFile(uf)) {
        unz_file_info64 info;
        int method = 0, level = 0;
        if (unzGetCurrentFileInfo64(uf, &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) !=
                UNZ_OK ||
            info.size_filename >= name.size() || unzOpenCurrentFile2(uf, &method, &level, 1) != UNZ_OK) {
            ok = false;
            break;
        }
        name[info.size_filename] = '\0';
        zip_fileinfo copy = {};
        copy.dosDate = info.dosDate;
        copy.internal_fa = info.internal_fa;
        copy.external_fa = info.external_fa;
        constexpr uLong kUtf8NameFlag = 1u << 11;
        ok = zipOpenNewFileInZip4_64(zf, name.data(), &copy, nullptr, 0, nullptr, 0, nullptr, method, level,
                                     1, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, info.crc,
                                     info.version, info.flag & kUtf8NameFlag,
                                     info.uncompressed_size >= 0xffffffffu) == ZIP_OK;
        for (int n = 0; ok && (n = unzReadCurrentFile(uf, block.data(), unsigned(block.size()))) != 0;) {
            ok = n > 0 && zipWriteInFileInZip(zf, block.data(), unsigned(n)) == ZIP_OK;
        }
        ok = unzCloseCurrentFile(uf) == UNZ_OK && ok;
        ok = ok && zipCloseFileInZipRaw64(zf, info.uncompressed_size, info.crc) == ZIP_OK;
    }
    writer.close();
    reader.close();
    out.close();
    return ok && writer.getZipError() == ZIP_OK && out.error() == QFileDevice::NoError;
}

// The program's executable at the top level, under its Linux or its Windows name.
bool IsExecutableEntry(const std::string &name)
{
    return qstricmp(name.c_str(), "Quillmark") == 0 || qstricmp(name.c_str(), "Quillmark.exe") == 0;
}

// What the release tool needs to know of the package's executable: whether it carries the public key (as
// the text it was configured with: lowercase hex or base64), and the identities it carries.
struct ExecutableFacts
{
    bool read = false;
    bool carriesKey = false;
    std::vector<ReleaseIdentity> identities;
};

ExecutableFacts ReadExecutable(PackageReader &zip, const PackageEntry &entry, const QByteArray &publicKey)
{
    const QByteArray forms[] = {publicKey.toHex(), publicKey.toBase64()};
    int longest = 0;
    for (const QByteArray &form : forms) {
        longest = std::max(longest, form.size());
    }
    ExecutableFacts facts;
    ReleaseIdentityScanner identities;
    QByteArray window;
    facts.read = zip.ReadEntry(entry, [&](const char *data, size_t n) {
        identities.Feed(data, n);
        window.append(data, int(n));
        for (const QByteArray &form : forms) {
            facts.carriesKey = facts.carriesKey || window.contains(form);
        }
        // Only what a match could still begin in is kept.
        window = window.right(longest - 1);
        return true;
    });
    facts.identities = identities.Found();
    return facts;
}

} // namespace

QByteArray BuildManifest(const std::vector<ManifestEntry> &entries)
{
    QByteArray text = QByteArray(kManifestHeader) + '\n';
    for (const ManifestEntry &entry : entries) {
        text +=
            QByteArray::fromStdString(entry.sha256Hex) + "  " + QByteArray::fromStdString(entry.name) + '\n';
    }
    return text;
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

bool SignReleasePackage(const QString &packagePath, const QByteArray &privateKeyPem, uint64_t release,
                        QString &error, const PackageLimits &limits)
{
    const QByteArray publicKey = PublicKeyOfPem(privateKeyPem);
    if (publicKey.isEmpty()) {
        error = QStringLiteral("the private key is not an Ed25519 key");
        return false;
    }
    const QByteArray releaseText = QByteArray::number(qulonglong(release)) + '\n';
    if (ParseReleaseNumber(releaseText) != release || release == 0) {
        error = QStringLiteral("the release number must be a positive whole number of at most 18 digits");
        return false;
    }
    std::vector<ManifestEntry> listed;
    ReleaseIdentity identity;
    QFile file(packagePath);
    {
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("the package cannot be read");
            return false;
        }
        if (file.size() > limits.maxPackageBytes) {
            error = QStringLiteral("package over %1 bytes").arg(limits.maxPackageBytes);
            return false;
        }
        PackageReader zip(&file);
        std::vector<PackageEntry> entries;
        bool hasManifest = false, hasSignature = false;
        PackageCheckResult result =
            zip.isOpen() ? ScanEntries(zip, limits, entries, nullptr, nullptr, &hasManifest, &hasSignature)
                         : Result(PackageCheck::Unreadable, QStringLiteral("not a zip file"));
        if (result.check == PackageCheck::Verified) {
            result = FoldersHoldFiles(entries);
        }
        if (result.check != PackageCheck::Verified) {
            error = result.detail;
            return false;
        }
        if (hasManifest || hasSignature) {
            error = QStringLiteral("the package already holds a manifest or signature entry");
            return false;
        }
        bool executable = false;
        for (const PackageEntry &entry : entries) {
            if (qstricmp(entry.name.c_str(), kReleaseEntryName) == 0 ||
                qstricmp(entry.name.c_str(), kScopeEntryName) == 0) {
                error = QStringLiteral("the package already holds %1").arg(Quoted(entry.name));
                return false;
            }
            if (!entry.directory && entry.name.find_first_of("\r\n") != std::string::npos) {
                error = QStringLiteral("%1: a manifest cannot carry a name with a line break")
                            .arg(Quoted(entry.name));
                return false;
            }
            if (IsExecutableEntry(entry.name)) {
                executable = true;
                const ExecutableFacts facts = ReadExecutable(zip, entry, publicKey);
                if (!facts.carriesKey) {
                    error = QStringLiteral("%1 does not carry the public key of this signing key: it could "
                                           "never take a release signed with it")
                                .arg(Quoted(entry.name));
                    return false;
                }
                // The package says what the program it holds is, never more: once installed, that program
                // compares the next release with its own number, and takes only its own platform and
                // channel.
                if (facts.identities.size() != 1) {
                    error = QStringLiteral("%1 carries %2 release identities, not one")
                                .arg(Quoted(entry.name))
                                .arg(facts.identities.size());
                    return false;
                }
                identity = facts.identities.front();
                if (identity.release != release) {
                    error = QStringLiteral("%1 was built as release %2, not %3: sign it as release %2, or "
                                           "build it as release %3")
                                .arg(Quoted(entry.name))
                                .arg(identity.release)
                                .arg(release);
                    return false;
                }
            }
        }
        if (!executable) {
            error = QStringLiteral("the package holds no executable Quillmark or Quillmark.exe");
            return false;
        }
        std::vector<std::string> digests;
        result = DigestFiles(zip, entries, digests, nullptr);
        if (result.check != PackageCheck::Verified) {
            error = result.detail;
            return false;
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].directory) {
                listed.push_back(ManifestEntry{entries[i].name, digests[i]});
            }
        }
    }
    const QByteArray scopeText = ScopeText(identity.platform, identity.channel);
    listed.push_back(ManifestEntry{
        kReleaseEntryName,
        QCryptographicHash::hash(releaseText, QCryptographicHash::Sha256).toHex().toStdString()});
    listed.push_back(
        ManifestEntry{kScopeEntryName,
                      QCryptographicHash::hash(scopeText, QCryptographicHash::Sha256).toHex().toStdString()});
    const QByteArray manifest = BuildManifest(listed);
    const QByteArray signature = SignMessage(privateKeyPem, manifest);
    if (signature.isEmpty()) {
        error = QStringLiteral("the private key cannot sign");
        return false;
    }
    // Signed into a new file that replaces the package only when complete: a failure leaves the package as
    // it was.
    const QString signing = packagePath + QStringLiteral(".signing");
    if (!file.seek(0) || !WriteSignedPackage(file, signing,
                                             {{kSignatureEntryName, signature},
                                              {kManifestEntryName, manifest},
                                              {kScopeEntryName, scopeText},
                                              {kReleaseEntryName, releaseText}})) {
        QFile::remove(signing);
        error = QStringLiteral("the package cannot be written");
        return false;
    }
    file.close();
    QFile::remove(packagePath);
    if (!QFile::rename(signing, packagePath)) {
        error = QStringLiteral("the signed package is left at %1").arg(signing);
        return false;
    }
    return true;
}
