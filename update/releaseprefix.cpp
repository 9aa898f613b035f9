#include "update/releaseprefix.h"

#include <QCryptographicHash>
#include <map>
#include <string>

namespace {

// The front entries are small: a 64-byte signature, a manifest of at most 1 MiB, two short files.
constexpr int kFrontLimit = (1 << 20) + 64 * 1024;
constexpr int kFrontEntries = 4;
constexpr int kLocalHeaderBytes = 30;

uint32_t Le(const QByteArray &bytes, int at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | uint8_t(bytes[at + i]);
    }
    return value;
}

QByteArray Sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

ReleasePrefixCheck::ReleasePrefixCheck(const QByteArray &publicKey, const ReleaseExpectation &expected)
    : key_(publicKey), expected_(expected)
{
}

bool ReleasePrefixCheck::Feed(const char *data, size_t n)
{
    if (done_) {
        return !refused_;
    }
    front_.append(data, int(std::min<size_t>(n, size_t(kFrontLimit))));
    Judge();
    if (!done_ && front_.size() >= kFrontLimit) {
        done_ = true;
    }
    if (done_) {
        front_.clear();
    }
    return !refused_;
}

// Walks the local headers at the front. Waits while an entry is incomplete; gives up (done, no refusal)
// as soon as the front is not what the release tool writes.
void ReleasePrefixCheck::Judge()
{
    std::map<std::string, QByteArray> found;
    int at = 0;
    for (int entry = 0; entry < kFrontEntries; ++entry) {
        if (front_.size() < at + kLocalHeaderBytes) {
            return;
        }
        const uint32_t flags = Le(front_, at + 6, 2);
        const uint32_t method = Le(front_, at + 8, 2);
        const uint32_t size = Le(front_, at + 18, 4);
        const int nameLength = int(Le(front_, at + 26, 2));
        const int extraLength = int(Le(front_, at + 28, 2));
        // Encrypted, sizes after the data, compressed, or too large: not the release tool's front.
        if (Le(front_, at, 4) != 0x04034b50u || (flags & 0x9u) != 0 || method != 0 ||
            size != Le(front_, at + 22, 4) || size > uint32_t(kFrontLimit)) {
            done_ = true;
            return;
        }
        const int dataAt = at + kLocalHeaderBytes + nameLength + extraLength;
        if (front_.size() < dataAt + int(size)) {
            return;
        }
        const std::string name = front_.mid(at + kLocalHeaderBytes, nameLength).toStdString();
        if (name != kSignatureEntryName && name != kManifestEntryName && name != kScopeEntryName &&
            name != kReleaseEntryName) {
            break;
        }
        found[name] = front_.mid(dataAt, int(size));
        at = dataAt + int(size);
    }
    done_ = true;
    if (found.count(kSignatureEntryName) == 0 || found.count(kManifestEntryName) == 0 ||
        !VerifySignature(key_, found[kManifestEntryName], found[kSignatureEntryName])) {
        return;
    }
    std::vector<ManifestEntry> listed;
    if (!ParseManifest(found[kManifestEntryName], listed)) {
        return;
    }
    // Believed only when the signed manifest lists exactly these bytes.
    const auto signedText = [&](const char *name, QByteArray &text) {
        if (found.count(name) == 0) {
            return false;
        }
        for (const ManifestEntry &line : listed) {
            if (line.name == name) {
                text = found[name];
                return Sha256Hex(text).toStdString() == line.sha256Hex;
            }
        }
        return false;
    };
    QByteArray text;
    std::string platform, channel;
    if (signedText(kScopeEntryName, text) && ParseScope(text, platform, channel) &&
        ((!expected_.platform.empty() && platform != expected_.platform) ||
         (!expected_.channel.empty() && channel != expected_.channel))) {
        refused_ = true;
        return;
    }
    if (signedText(kReleaseEntryName, text)) {
        const uint64_t release = ParseReleaseNumber(text);
        refused_ = release != 0 && release <= expected_.releaseAbove;
    }
}
