#pragma once
// Signed release packages: a manifest of every file's name and SHA-256 inside the package, and a detached
// Ed25519 signature over the manifest's bytes. The format is described in update/README.md. This is the
// verifying half, the only one the program carries; making keys and signing is in releasesigning.h.

#include "update/packagereader.h"

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
// A listed file of every signed package: its release number in decimal and a LF.
extern const char kReleaseEntryName[];

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
    Unreadable,    // not a readable zip, a damaged entry, or two directory records of the same data
    TooLarge,      // over one of the limits
    Unsigned,      // manifest or signature entry missing
    BadSignature,  // the signature does not verify with the key (or the key is unusable)
    BadManifest,   // the manifest is not well formed, or names a file twice
    Mismatch,      // the files differ from the manifest: one missing, added, twice in the package or changed;
                   // or a folder entry that holds no listed file
    ReleaseNumber, // the release number is missing, malformed, or not above the one required
};

struct PackageCheckResult
{
    PackageCheck check = PackageCheck::Unreadable;
    QString detail;       // for people: which entry, which limit
    uint64_t release = 0; // the package's release number once it was read
};

// Parses a manifest: the header line, then one line per file, "<64 lowercase hex>  <name>", every line
// ended by LF. Names are non-empty, hold no NUL, CR or LF, and occur once. False (entries cleared) for
// anything else.
bool ParseManifest(const QByteArray &text, std::vector<ManifestEntry> &entries);

// The number a release file holds: a positive decimal without leading zeros and at most 18 digits, then
// one LF and nothing else. 0 for anything else.
uint64_t ParseReleaseNumber(const QByteArray &text);

// True when signature is a valid Ed25519 signature of message under the 32-byte public key.
bool VerifySignature(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

// Checks a package against publicKey, reading only the zip (nothing is written). Every file entry must be
// listed in the signed manifest exactly once with its digest, nothing else may be listed, every folder
// entry must be a folder of a listed file, and the listed release file must hold a number above
// releaseAbove.
PackageCheckResult VerifyReleasePackage(PackageReader &package, int64_t packageBytes,
                                        const QByteArray &publicKey, uint64_t releaseAbove,
                                        const PackageLimits &limits = PackageLimits());
PackageCheckResult VerifyReleasePackage(const QString &packagePath, const QByteArray &publicKey,
                                        uint64_t releaseAbove = 0,
                                        const PackageLimits &limits = PackageLimits());

// The key built into this program (see releasekey.h): true when there is none, otherwise true only for a
// package that verifies with it and whose release number is above the program's own.
bool ReleaseSignatureAccepted(PackageReader &package, int64_t packageBytes);
