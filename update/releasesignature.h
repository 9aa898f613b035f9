#pragma once
// Signed release packages: a manifest of every file's name and SHA-256 inside the package, and a detached
// Ed25519 signature over the manifest's bytes. The format is described in update/README.md.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// The two entries at the top level of a signed package. A release holds no files of these names: the
// release tool refuses to sign such a package, and a build with a key refuses any other entry that
// differs from them only in letter case.
extern const char kManifestEntryName[];
extern const char kSignatureEntryName[];
// First line of every manifest.
extern const char kManifestHeader[];

constexpr int kEd25519PublicKeyBytes = 32;
constexpr int kEd25519SignatureBytes = 64;

struct ManifestEntry
{
    std::string name;      // the entry's name bytes as stored in the zip directory
    std::string sha256Hex; // 64 lowercase hex digits
};

struct PackageLimits
{
    int64_t maxPackageBytes = int64_t(256) << 20;
    int64_t maxUnpackedBytes = int64_t(1) << 30; // sum of the files' sizes
    int maxEntries = 4096;
    int64_t maxManifestBytes = int64_t(1) << 20;
};

enum class PackageCheck
{
    Verified,
    Unreadable,   // not a readable zip, or a damaged entry
    TooLarge,     // over one of the limits
    Unsigned,     // manifest or signature entry missing
    BadSignature, // the signature does not verify with the key (or the key is unusable)
    BadManifest,  // the manifest is not well formed, or names a file twice
    Mismatch,     // the files differ from the manifest: one missing, added, twice in the package or changed
};

struct PackageCheckResult
{
    PackageCheck check = PackageCheck::Unreadable;
    QString detail; // for people: which entry, which limit
};

// Parses a manifest: the header line, then one line per file, "<64 lowercase hex>  <name>", every line
// ended by LF. Names are non-empty, hold no NUL, CR or LF, and occur once. False (entries cleared) for
// anything else.
bool ParseManifest(const QByteArray &text, std::vector<ManifestEntry> &entries);
QByteArray BuildManifest(const std::vector<ManifestEntry> &entries);

// True when signature is a valid Ed25519 signature of message under the 32-byte public key.
bool VerifySignature(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

// Checks a package against publicKey, reading only the zip (nothing is written). Every file entry must be
// listed in the signed manifest exactly once with its digest, and nothing else may be listed.
PackageCheckResult VerifyReleasePackage(const QString &packagePath, const QByteArray &publicKey,
                                        const PackageLimits &limits = PackageLimits());

// The key built into this program (see releasekey.h): true when there is none, otherwise true only for a
// package that verifies with it.
bool ReleaseSignatureAccepted(const QString &packagePath);

// Signing side, for the release tool and tests.
QByteArray GenerateSigningKeyPem(); // PKCS#8 PEM of a new Ed25519 private key; empty on failure
QByteArray PublicKeyOfPem(const QByteArray &privateKeyPem); // 32 bytes; empty when the PEM is no Ed25519 key
QByteArray SignMessage(const QByteArray &privateKeyPem, const QByteArray &message); // 64 bytes or empty
// Adds the manifest and signature entries to an unsigned package. False with error set when the package
// cannot be read, is over the limits, already holds a signature entry, or holds a name the manifest cannot
// carry or twice.
bool SignReleasePackage(const QString &packagePath, const QByteArray &privateKeyPem, QString &error,
                        const PackageLimits &limits = PackageLimits());
