#include "update/releasekey.h"

#include <cstring>

namespace {

ReleaseKey &Storage()
{
    static ReleaseKey key;
    return key;
}

bool AllOf(const QByteArray &text, const char *alphabet)
{
    for (const char c : text) {
        if (std::strchr(alphabet, c) == nullptr || c == '\0') {
            return false;
        }
    }
    return true;
}

} // namespace

const ReleaseKey &BuiltInReleaseKey()
{
    return Storage();
}

ReleaseKeyRegistration::ReleaseKeyRegistration(const char *text, uint64_t release)
{
    Storage().release = release;
    // A text that is no key still counts as a key: nothing verifies with it, so nothing is installed.
    Storage().present = true;
    Storage().key = DecodeReleaseKeyText(QByteArray(text).trimmed());
}

QByteArray DecodeReleaseKeyText(const QByteArray &text)
{
    QByteArray key;
    if (text.size() == 64 && AllOf(text, "0123456789abcdefABCDEF")) {
        key = QByteArray::fromHex(text);
    } else if (text.size() == 44 && text.endsWith('=') &&
               AllOf(text.left(43), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")) {
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        if (decoded) {
            key = *decoded;
        }
    }
    return key.size() == 32 ? key : QByteArray();
}
