#pragma once
// Reads a release package from one open file: its directory entry by entry with the names' bytes exactly
// as stored, and each entry's data checked against the size and CRC the directory declares. The check
// of a package and its unpacking both read through one reader, so they see the same bytes.

#include <QIODevice>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct PackageEntry
{
    std::string name;  // the name's bytes as the directory stores them
    uint64_t size = 0; // uncompressed size the directory declares
    uint32_t crc = 0;  // CRC-32 the directory declares
    bool markedUtf8 = false;
    bool symbolicLink = false;
    bool executable = false; // made on Unix with the owner's execute bit
    bool directory = false;  // the name ends in '/'
    uint64_t record = 0;     // where its directory record is
};

enum class DirectoryWalk
{
    Read,
    Damaged, // not a zip, a record that cannot be read, or two records of the same data
    TooMany, // more entries than allowed
};

class PackageReader
{
public:
    // device must be open for reading and stays open until it is closed by its owner.
    explicit PackageReader(QIODevice *device);
    ~PackageReader();
    PackageReader(const PackageReader &) = delete;
    PackageReader &operator=(const PackageReader &) = delete;

    bool isOpen() const;
    // Walks the directory and stops at the first entry beyond maxEntries, so that memory stays bounded
    // whatever the directory holds. Every record must describe data of its own: a second record for the
    // same (or overlapping) data is refused.
    DirectoryWalk ReadDirectory(int maxEntries, std::vector<PackageEntry> &entries);
    // Reads one entry of the last walk through, into sink (false from sink stops the read). True only when
    // exactly the declared number of bytes arrived and their CRC matches the directory's.
    bool ReadEntry(const PackageEntry &entry, const std::function<bool(const char *, size_t)> &sink);

private:
    struct Zip;
    std::unique_ptr<Zip> zip_;
};
