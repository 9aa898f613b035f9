// A downloaded package: the entry-name check, the install plan and the signature check on the zip's bytes.

#include "update/packagenames.h"
#include "update/packagereader.h"
#include "update/releasesignature.h"
#include "update/swap.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

const QString &PackagePath()
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("Quillmark.zip"));
    if (!dir.isValid()) {
        std::abort();
    }
    return path;
}

// The names as the zip's directory holds them, judged under both platforms' rules; what passes is planned.
// Every entry is read through as unpacking would.
void CheckNamesAndPlan()
{
    QFile file(PackagePath());
    if (!file.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    PackageReader zip(&file);
    std::vector<PackageEntry> entries;
    if (zip.ReadDirectory(64, entries) != DirectoryWalk::Read) {
        return;
    }
    std::vector<std::string> names;
    for (const PackageEntry &entry : entries) {
        names.push_back(entry.name);
        uint64_t read = 0;
        if (zip.ReadEntry(entry, [&read](const char *, size_t n) { return (read += n) <= (1u << 20); }) &&
            read != entry.size) {
            std::abort(); // an entry read whole is exactly as long as declared
        }
    }
    for (const bool windowsNames : {false, true}) {
        const PackageNameRules rules = RulesForProgram("/opt/q/Quillmark", "Quillmark", windowsNames);
        std::vector<CheckedEntry> checked;
        if (CheckPackageNames(names, rules, checked)) {
            SwapPlan plan;
            // Whatever the names, the plan's journal reads back as the same plan.
            if (PlanSwap(checked, rules, "/opt/q/Quillmark_update.x", "/opt/q/", "/opt/q/Quillmark", plan)) {
                SwapPlan read;
                bool earlier = false;
                if (!ParseSwapJournal(SwapJournalText(plan, true), "/opt/q/", "/opt/q/Quillmark_update.x",
                                      read, earlier) ||
                    read.files != plan.files || read.folders != plan.folders || !earlier) {
                    std::abort();
                }
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(PackagePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size)) {
        std::abort();
    }
    file.close();
    CheckNamesAndPlan();
    // The public key of the seed packages' signing key.
    static const QByteArray key =
        QByteArray::fromHex("14aaa55dd519e3cde708fd70e6fab43b3ff177df23511fb209e093b6528454a1");
    PackageLimits limits;
    limits.maxUnpackedBytes = 1 << 20;
    VerifyReleasePackage(PackagePath(), key, 0, limits);
    return 0;
}
