#pragma once
// The Ed25519 public key that release packages must be signed with, and what this program is: its release
// number, platform and channel. They belong to the executable: the build adds a generated source holding a
// ReleaseKeyRegistration to a program configured with a key.

#include <QByteArray>
#include <cstdint>
#include <string>
#include <vector>

// What a program is, as its release file and its scope file say of a package, and as its executable carries
// it in a text the release tool finds: kReleaseIdentityPrefix, then "release=N;platform=P;channel=C;".
struct ReleaseIdentity
{
    uint64_t release = 0;
    std::string platform; // e.g. linux-x86_64, windows-x86
    std::string channel;  // e.g. stable
};
extern const char kReleaseIdentityPrefix[];

struct ReleaseKey
{
    bool present = false; // a key was built in
    QByteArray key;       // 32 bytes, or empty when the built-in text was no key (then nothing verifies)
    // This program: a package must carry a higher release number, and its platform and channel.
    ReleaseIdentity identity;
};

const ReleaseKey &BuiltInReleaseKey();

struct ReleaseKeyRegistration
{
    // key: 64 hex digits or the base64 of the 32 key bytes; identity: the program's identity text. A text
    // that does not parse leaves release 0, and nothing verifies.
    ReleaseKeyRegistration(const char *key, const char *identity);
};

// The 32 key bytes of a hex or base64 text, or empty when it is neither.
QByteArray DecodeReleaseKeyText(const QByteArray &text);

// A platform or channel name: 1 to 32 of a-z, 0-9, '.', '_' and '-', beginning with a letter or digit.
bool IsScopeName(const std::string &name);
// The release number of a text: a positive decimal without leading zeros, at most 18 digits. 0 otherwise.
uint64_t ParseDecimalRelease(const std::string &digits);
// The identity text without its prefix, exactly "release=N;platform=P;channel=C;". False otherwise.
bool ParseReleaseIdentity(const std::string &text, ReleaseIdentity &identity);
std::string ReleaseIdentityText(const ReleaseIdentity &identity); // with the prefix

// Collects every identity text in bytes fed in pieces (an executable read block by block).
class ReleaseIdentityScanner
{
public:
    void Feed(const char *data, size_t n);
    // The distinct identities found, in the order met.
    const std::vector<ReleaseIdentity> &Found() const { return found_; }

private:
    std::string window_;
    std::vector<ReleaseIdentity> found_;
};
