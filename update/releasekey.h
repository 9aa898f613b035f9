#pragma once
// The Ed25519 public key that release packages must be signed with. It belongs to the executable: the
// build adds a generated source holding a ReleaseKeyRegistration to a program configured with a key.

#include <QByteArray>
#include <cstdint>

struct ReleaseKey
{
    bool present = false; // a key was built in
    QByteArray key;       // 32 bytes, or empty when the built-in text was no key (then nothing verifies)
    uint64_t release = 0; // this program's release number: a package must carry a higher one
};

const ReleaseKey &BuiltInReleaseKey();

struct ReleaseKeyRegistration
{
    // text: 64 hex digits or the base64 of the 32 key bytes; release: the program's release number.
    ReleaseKeyRegistration(const char *text, uint64_t release);
};

// The 32 key bytes of a hex or base64 text, or empty when it is neither.
QByteArray DecodeReleaseKeyText(const QByteArray &text);
