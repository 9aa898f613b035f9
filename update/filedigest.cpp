#include "update/filedigest.h"

#include <QCryptographicHash>
#include <cstdio>

int FileMd5Hex(const char *filePath, char *digestHex)
{
    std::FILE *f = std::fopen(filePath, "rb");
    if (f == nullptr) {
        return -1;
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    char block[1024];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        md5.addData(block, static_cast<int>(n));
    }
    std::fclose(f);
    const QByteArray digest = md5.result();
    for (int i = 0; i < digest.size(); ++i) {
        std::snprintf(digestHex + 2 * i, 3, "%02x", static_cast<unsigned char>(digest[i]));
    }
    return 0;
}
