// A downloaded package: the entry-name check and the signature check on the zip's bytes.

#include "update/packageinstall.h"
#include "update/releasesignature.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(PackagePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size)) {
        std::abort();
    }
    file.close();
    PackageEntriesSafe(PackagePath());
    // The public key of the seed packages' signing key.
    static const QByteArray key =
        QByteArray::fromHex("14aaa55dd519e3cde708fd70e6fab43b3ff177df23511fb209e093b6528454a1");
    PackageLimits limits;
    limits.maxUnpackedBytes = 1 << 20;
    VerifyReleasePackage(PackagePath(), key, limits);
    return 0;
}
