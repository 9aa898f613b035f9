// The manifest and release-number parsers: whatever they accept, they accept exactly as the release tool
// would write it.

#include "update/releasesigning.h"

#include <cstdlib>

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
    return 0;
}
