#pragma once
// Signed release packages: a manifest of every file's name and SHA-256 inside the package, and a detached
// Ed25519 signature over the manifest's bytes. The format is described in update/README.md. This is the
// verifying half, the only one the program carries; making keys and signing is in releasesigning.h.

#include "update/packagereader.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <utility>
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
// A listed file of every signed package: what the release is for, "platform=P\nchannel=C\n".
extern const char kScopeEntryName[];

constexpr int kEd25519PublicKeyBytes = 32;
constexpr int kEd25519SignatureBytes = 64;

struct ManifestEntry
{
    std::string name;      // the entry's name bytes as stored in the zip directory
    std::string sha256Hex; // 64 lowercase hex digits
};

// The largest package, the same for the download and the check: QUILLMARK_UPDATE_MAX_DOWNLOAD_MIB.
int64_t DefaultMaxPackageBytes();

struct PackageLimits
{
    int64_t maxPackageBytes = DefaultMaxPackageBytes();
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
    Scope,         // the platform and channel are missing, malformed, or not the ones required
};

struct PackageCheckResult
{
    PackageCheck check = PackageCheck::Unreadable;
    QString detail;       // for people: which entry, which limit
    uint64_t release = 0; // the package's release number once it was read
    std::string platform; // and its platform and channel
    std::string channel;
};

// What the checking program requires of a package: a release number above releaseAbove, and (when not
// empty) this platform and channel.
struct ReleaseExpectation
{
    ReleaseExpectation(uint64_t above = 0, std::string forPlatform = std::string(),
                       std::string forChannel = std::string())
        : releaseAbove(above), platform(std::move(forPlatform)), channel(std::move(forChannel))
    {
    }
    uint64_t releaseAbove;
    std::string platform;
    std::string channel;
};

// Parses a manifest: the header line, then one line per file, "<64 lowercase hex>  <name>", every line
// ended by LF. Names are non-empty, hold no NUL, CR or LF, and occur once. False (entries cleared) for
// anything else.
bool ParseManifest(const QByteArray &text, std::vector<ManifestEntry> &entries);

// The number a release file holds: a positive decimal without leading zeros and at most 18 digits, then
// one LF and nothing else. 0 for anything else.
uint64_t ParseReleaseNumber(const QByteArray &text);

// The scope file's text, and the platform and channel of one: exactly "platform=P\nchannel=C\n" with two
// scope names (releasekey.h). False for anything else.
QByteArray ScopeText(const std::string &platform, const std::string &channel);
bool ParseScope(const QByteArray &text, std::string &platform, std::string &channel);

// True when signature is a valid Ed25519 signature of message under the 32-byte public key.
bool VerifySignature(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);

// Checks a package against publicKey, reading only the zip (nothing is written). Every file entry must be
// listed in the signed manifest exactly once with its digest, nothing else may be listed, every folder
// entry must be a folder of a listed file, the listed release file must hold a number above
// expected.releaseAbove, and the listed scope file must name the expected platform and channel.
PackageCheckResult VerifyReleasePackage(PackageReader &package, int64_t packageBytes,
                                        const QByteArray &publicKey, const ReleaseExpectation &expected,
                                        const PackageLimits &limits = PackageLimits());
PackageCheckResult VerifyReleasePackage(const QString &packagePath, const QByteArray &publicKey,
                                        const ReleaseExpectation &expected = ReleaseExpectation(),
                                        const PackageLimits &limits = PackageLimits());

// What the key built into this program (see releasekey.h) requires: a release above its own, for its
// platform and channel.
ReleaseExpectation BuiltInExpectation();
// The key built into this program: true when there is none, otherwise true only for a package that
// verifies with it and that BuiltInExpectation() allows.
bool ReleaseSignatureAccepted(PackageReader &package, int64_t packageBytes);
