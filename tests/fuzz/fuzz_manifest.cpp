// The manifest, release-number, scope and identity parsers: whatever they accept, they accept exactly as
// the release tool would write it. The same bytes as the front of a downloading package, and as a swap's
// journal, are read without harm.

#include "update/releasekey.h"
#include "update/releaseprefix.h"
#include "update/releasesigning.h"
#include "update/swap.h"

#include <algorithm>
#include <cstdlib>

namespace {

// A ".." between separators (a name like "a..b" is fine).
bool HasParentPart(const std::string &path)
{
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", start);
        if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) {
            return true;
        }
        if (end == std::string::npos) {
            return false;
        }
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    std::vector<ManifestEntry> entries;
    if (ParseManifest(text, entries)) {
        if (BuildManifest(entries) != text) {
            std::abort();
        }
    } else if (!entries.empty()) {
        std::abort();
    }
    const uint64_t release = ParseReleaseNumber(text);
    if (release != 0 && QByteArray::number(qulonglong(release)) + '\n' != text) {
        std::abort();
    }
    // A signature cut from the input itself never verifies.
    static const QByteArray key =
        QByteArray::fromHex("14aaa55dd519e3cde708fd70e6fab43b3ff177df23511fb209e093b6528454a1");
    if (size >= 64 && VerifySignature(key, text.mid(64), text.left(64))) {
        std::abort();
    }
    std::string platform, channel;
    if (ParseScope(text, platform, channel) && ScopeText(platform, channel) != text) {
        std::abort();
    }
    ReleaseIdentity identity;
    if (ParseReleaseIdentity(text.toStdString(), identity) &&
        ReleaseIdentityText(identity) != kReleaseIdentityPrefix + text.toStdString()) {
        std::abort();
    }
    // Unsigned bytes never refuse a download, however they are cut.
    ReleasePrefixCheck front(key, ReleaseExpectation(7, "linux-x86_64", "stable"));
    for (int at = 0; at < text.size(); at += 7) {
        front.Feed(text.constData() + at, size_t(std::min(7, text.size() - at)));
    }
    if (front.Refused()) {
        std::abort();
    }
    SwapPlan plan;
    bool earlier = false;
    if (ParseSwapJournal(text.toStdString(), "/q/", "/q/Quillmark_update.x", plan, earlier)) {
        for (const auto &file : plan.files) {
            if (file.first.compare(0, 22, "/q/Quillmark_update.x/") != 0 ||
                file.second.compare(0, 3, "/q/") != 0 || HasParentPart(file.second)) {
                std::abort();
            }
        }
    }
    return 0;
}
