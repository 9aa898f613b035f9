// The release tool: makes a signing key, tells its public key, signs a release package and checks one as
// the program would.
//
//   quillmark_release keygen KEYFILE        new private key into KEYFILE (created, owner-only); prints the
//                                           public key as 64 hex digits
//   quillmark_release pubkey KEYFILE        prints the public key of KEYFILE
//   quillmark_release sign --release N KEYFILE PACKAGE
//                                           adds the release number N (the one the package's executable was
//                                           built as), its platform and channel, the manifest and the
//                                           signature to PACKAGE
//   quillmark_release verify PUBKEY PACKAGE checks PACKAGE with the public key (hex or base64)
//
// Exit 0 done, 1 refused or failed, 2 wrong use.

#include "platform/safefiles.h"
#include "update/releasekey.h"
#include "update/releasesigning.h"

#include <QFile>
#include <cstdio>
#include <cstring>

namespace {

int Usage()
{
    std::fputs("usage: quillmark_release keygen KEYFILE | pubkey KEYFILE |"
               " sign --release N KEYFILE PACKAGE | verify PUBKEY PACKAGE\n",
               stderr);
    return 2;
}

int Fail(const QString &message)
{
    std::fprintf(stderr, "quillmark_release: %s\n", message.toLocal8Bit().constData());
    return 1;
}

bool ReadKeyFile(const char *path, QByteArray &pem)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    pem = file.read(1 << 16);
    return true;
}

int KeyGen(const char *path)
{
    const QByteArray pem = GenerateSigningKeyPem();
    if (pem.isEmpty()) {
        return Fail(QStringLiteral("no key could be made"));
    }
    // Owner-only from the moment it exists (on Windows an access list for the owner alone): no other user
    // can open it before the key is in it. Never over an existing key: a lost key cannot sign the releases
    // that programs out there accept.
    std::FILE *file = CreateExclusiveFile(path, FileAccess::OwnerOnly, false);
    if (file == nullptr) {
        return Fail(QStringLiteral("%1 exists or cannot be created").arg(QString::fromLocal8Bit(path)));
    }
    const bool written = std::fwrite(pem.constData(), 1, size_t(pem.size()), file) == size_t(pem.size());
    if (std::fclose(file) != 0 || !written) {
        std::remove(path);
        return Fail(QStringLiteral("%1 cannot be written").arg(QString::fromLocal8Bit(path)));
    }
    std::printf("%s\n", PublicKeyOfPem(pem).toHex().constData());
    return 0;
}

// N of "--release N": a positive decimal, or 0.
uint64_t ReleaseArgument(const char *text)
{
    return ParseReleaseNumber(QByteArray(text) + '\n');
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        return Usage();
    }
    const char *command = argv[1];
    if (std::strcmp(command, "keygen") == 0 && argc == 3) {
        return KeyGen(argv[2]);
    }
    if (std::strcmp(command, "pubkey") == 0 && argc == 3) {
        QByteArray pem;
        const QByteArray key = ReadKeyFile(argv[2], pem) ? PublicKeyOfPem(pem) : QByteArray();
        if (key.isEmpty()) {
            return Fail(
                QStringLiteral("%1 holds no Ed25519 private key").arg(QString::fromLocal8Bit(argv[2])));
        }
        std::printf("%s\n", key.toHex().constData());
        return 0;
    }
    if (std::strcmp(command, "sign") == 0 && argc == 6 && std::strcmp(argv[2], "--release") == 0) {
        const uint64_t release = ReleaseArgument(argv[3]);
        if (release == 0) {
            return Fail(QStringLiteral("--release needs a positive whole number of at most 18 digits, not "
                                       "\"%1\"")
                            .arg(QString::fromLocal8Bit(argv[3])));
        }
        QByteArray pem;
        if (!ReadKeyFile(argv[4], pem) || PublicKeyOfPem(pem).isEmpty()) {
            return Fail(
                QStringLiteral("%1 holds no Ed25519 private key").arg(QString::fromLocal8Bit(argv[4])));
        }
        if (FileReadableByOthers(argv[4])) {
            std::fprintf(stderr,
                         "quillmark_release: warning: %s can be read by other users; whoever reads it can "
                         "sign releases that every program with its public key installs (chmod 600 it)\n",
                         argv[4]);
        }
        QString error;
        if (!SignReleasePackage(QString::fromLocal8Bit(argv[5]), pem, release, error)) {
            return Fail(error);
        }
        return 0;
    }
    if (std::strcmp(command, "verify") == 0 && argc == 4) {
        const QByteArray key = DecodeReleaseKeyText(QByteArray(argv[2]).trimmed());
        if (key.isEmpty()) {
            return Fail(QStringLiteral("the public key is neither 64 hex digits nor base64 of 32 bytes"));
        }
        const PackageCheckResult result = VerifyReleasePackage(QString::fromLocal8Bit(argv[3]), key);
        if (result.check != PackageCheck::Verified) {
            return Fail(QStringLiteral("refused: %1").arg(result.detail));
        }
        std::printf("verified: release %llu\nfor %s, channel %s\n",
                    static_cast<unsigned long long>(result.release), result.platform.c_str(),
                    result.channel.c_str());
        return 0;
    }
    return Usage();
}
