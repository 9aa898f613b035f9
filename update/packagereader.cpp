#include "update/packagereader.h"

#include <algorithm>
#include <quazip.h>
#include <unzip.h>
#include <utility>
#include <zlib.h>

struct PackageReader::Zip
{
    explicit Zip(QIODevice *device) : zip(device) {}
    QuaZip zip;
};

PackageReader::PackageReader(QIODevice *device) : zip_(new Zip(device))
{
    // The device belongs to the caller: it stays open for the next reader of the same file.
    zip_->zip.setAutoClose(false);
    zip_->zip.open(QuaZip::mdUnzip);
}

PackageReader::~PackageReader()
{
    if (zip_->zip.isOpen()) {
        zip_->zip.close();
    }
}

bool PackageReader::isOpen() const
{
    return zip_->zip.isOpen();
}

namespace {

constexpr uLong kUtf8NameFlag = 1u << 11;

bool CurrentRecord(unzFile file, std::vector<char> &name, unz_file_info64 &info)
{
    return unzGetCurrentFileInfo64(file, &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) ==
           UNZ_OK;
}

} // namespace

DirectoryWalk PackageReader::ReadDirectory(int maxEntries, std::vector<PackageEntry> &entries)
{
    entries.clear();
    if (!isOpen()) {
        return DirectoryWalk::Damaged;
    }
    unzFile file = zip_->zip.getUnzFile();
    // Where each record's data lies, to find records that share it.
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    std::vector<char> name(65536);
    int status = unzGoToFirstFile(file);
    for (; status == UNZ_OK; status = unzGoToNextFile(file)) {
        if (int(entries.size()) >= maxEntries) {
            entries.clear();
            return DirectoryWalk::TooMany;
        }
        unz_file_info64 info;
        if (!CurrentRecord(file, name, info) || unzOpenCurrentFile(file) != UNZ_OK) {
            entries.clear();
            return DirectoryWalk::Damaged;
        }
        const uint64_t start = unzGetCurrentFileZStreamPos64(file);
        unzCloseCurrentFile(file);
        spans.emplace_back(start, start + info.compressed_size);

        PackageEntry entry;
        entry.name.assign(name.data(), std::min<size_t>(info.size_filename, name.size()));
        entry.size = info.uncompressed_size;
        entry.crc = uint32_t(info.crc);
        entry.markedUtf8 = (info.flag & kUtf8NameFlag) != 0;
        entry.symbolicLink = ((info.external_fa >> 16) & 0170000u) == 0120000u;
        entry.executable = (info.version >> 8) == 3 && ((info.external_fa >> 16) & 0100u) != 0;
        entry.directory = !entry.name.empty() && entry.name.back() == '/';
        entry.record = unzGetOffset64(file);
        entries.push_back(std::move(entry));
    }
    if (status != UNZ_END_OF_LIST_OF_FILE) {
        entries.clear();
        return DirectoryWalk::Damaged;
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first == spans[i - 1].first || spans[i].first < spans[i - 1].second) {
            entries.clear();
            return DirectoryWalk::Damaged;
        }
    }
    return DirectoryWalk::Read;
}

bool PackageReader::ReadEntry(const PackageEntry &entry,
                              const std::function<bool(const char *, size_t)> &sink)
{
    if (!isOpen()) {
        return false;
    }
    unzFile file = zip_->zip.getUnzFile();
    std::vector<char> name(65536);
    unz_file_info64 info;
    if (unzSetOffset64(file, entry.record) != UNZ_OK || !CurrentRecord(file, name, info) ||
        std::string(name.data(), std::min<size_t>(info.size_filename, name.size())) != entry.name ||
        info.uncompressed_size != entry.size || uint32_t(info.crc) != entry.crc ||
        unzOpenCurrentFile(file) != UNZ_OK) {
        return false;
    }
    // The library compares the CRC only when the data reaches its declared end; data that ends early
    // would pass unchecked. Size and CRC are counted here for every entry.
    std::vector<char> block(65536);
    uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool whole = true;
    for (;;) {
        const int n = unzReadCurrentFile(file, block.data(), unsigned(block.size()));
        if (n < 0) {
            whole = false;
            break;
        }
        if (n == 0) {
            break;
        }
        total += uint64_t(n);
        if (total > entry.size) {
            whole = false;
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef *>(block.data()), uInt(n));
        if (!sink(block.data(), size_t(n))) {
            whole = false;
            break;
        }
    }
    const int closed = unzCloseCurrentFile(file);
    return whole && closed == UNZ_OK && total == entry.size && uint32_t(crc) == entry.crc;
}
