#include "update/releasekey.h"

#include <algorithm>
#include <cstring>

const char kReleaseIdentityPrefix[] = "quillmark-release-identity:";

namespace {

// The longest identity text after its prefix: three names, their values and separators.
constexpr size_t kIdentityBodyLimit = 128;

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

// "name=" at text[at], then the value up to the next ';', which is passed.
bool TakeField(const std::string &text, size_t &at, const char *name, std::string &value)
{
    const size_t length = std::strlen(name);
    if (text.compare(at, length, name) != 0 || at + length >= text.size() || text[at + length] != '=') {
        return false;
    }
    const size_t begin = at + length + 1;
    const size_t end = text.find(';', begin);
    if (end == std::string::npos) {
        return false;
    }
    value = text.substr(begin, end - begin);
    at = end + 1;
    return true;
}

} // namespace

const ReleaseKey &BuiltInReleaseKey()
{
    return Storage();
}

ReleaseKeyRegistration::ReleaseKeyRegistration(const char *key, const char *identity)
{
    // A text that is no key still counts as a key: nothing verifies with it, so nothing is installed.
    Storage().present = true;
    Storage().key = DecodeReleaseKeyText(QByteArray(key).trimmed());
    const std::string text(identity);
    const size_t prefix = std::strlen(kReleaseIdentityPrefix);
    if (text.compare(0, prefix, kReleaseIdentityPrefix) != 0 ||
        !ParseReleaseIdentity(text.substr(prefix), Storage().identity)) {
        Storage().identity = ReleaseIdentity();
    }
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

bool IsScopeName(const std::string &name)
{
    if (name.empty() || name.size() > 32) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && (i == 0 || (c != '.' && c != '_' && c != '-'))) {
            return false;
        }
    }
    return true;
}

uint64_t ParseDecimalRelease(const std::string &digits)
{
    if (digits.empty() || digits.size() > 18 || digits[0] == '0') {
        return 0;
    }
    uint64_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + uint64_t(c - '0');
    }
    return number;
}

bool ParseReleaseIdentity(const std::string &text, ReleaseIdentity &identity)
{
    size_t at = 0;
    std::string release;
    ReleaseIdentity parsed;
    if (!TakeField(text, at, "release", release) || !TakeField(text, at, "platform", parsed.platform) ||
        !TakeField(text, at, "channel", parsed.channel) || at != text.size()) {
        return false;
    }
    parsed.release = ParseDecimalRelease(release);
    if (parsed.release == 0 || !IsScopeName(parsed.platform) || !IsScopeName(parsed.channel)) {
        return false;
    }
    identity = parsed;
    return true;
}

std::string ReleaseIdentityText(const ReleaseIdentity &identity)
{
    return kReleaseIdentityPrefix + ("release=" + std::to_string(identity.release) +
                                     ";platform=" + identity.platform + ";channel=" + identity.channel + ";");
}

void ReleaseIdentityScanner::Feed(const char *data, size_t n)
{
    window_.append(data, n);
    const std::string prefix(kReleaseIdentityPrefix);
    size_t from = 0;
    for (;;) {
        const size_t at = window_.find(prefix, from);
        if (at == std::string::npos) {
            // Only the start of a prefix that the next piece may complete is kept.
            from = window_.size() >= prefix.size() ? window_.size() - prefix.size() + 1 : 0;
            break;
        }
        const size_t body = at + prefix.size();
        size_t end = body;
        int separators = 0;
        while (end < window_.size() && end - body < kIdentityBodyLimit && separators < 3) {
            separators += window_[end++] == ';' ? 1 : 0;
        }
        if (separators < 3 && end == window_.size() && end - body < kIdentityBodyLimit) {
            from = at; // the rest may come with the next piece
            break;
        }
        ReleaseIdentity identity;
        if (separators == 3 && ParseReleaseIdentity(window_.substr(body, end - body), identity) &&
            std::none_of(found_.begin(), found_.end(), [&](const ReleaseIdentity &seen) {
                return seen.release == identity.release && seen.platform == identity.platform &&
                       seen.channel == identity.channel;
            })) {
            found_.push_back(identity);
        }
        from = at + 1;
    }
    window_.erase(0, from);
}
