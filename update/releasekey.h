#pragma once
// The Ed25519 public key that release packages must be signed with. It belongs to the executable: the
// build adds a generated source holding a ReleaseKeyRegistration to a program configured with a key.

#include <QByteArray>

struct ReleaseKey
{
    bool present = false; // a key was built in
    QByteArray key;       // 32 bytes, or empty when the built-in text was no key (then nothing verifies)
};

const ReleaseKey &BuiltInReleaseKey();

struct ReleaseKeyRegistration
{
    // text: 64 hex digits or the base64 of the 32 key bytes.
    explicit ReleaseKeyRegistration(const char *text);
};

// The 32 key bytes of a hex or base64 text, or empty when it is neither.
QByteArray DecodeReleaseKeyText(const QByteArray &text);
