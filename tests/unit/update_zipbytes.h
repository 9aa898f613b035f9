#pragma once
// Zip files changed at the byte level, into what no zip library would write: the tests' raw packages.

#include <QByteArray>

namespace zipbytes {

inline quint32 Read32(const QByteArray &zip, int at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | quint8(zip[at + i]);
    }
    return value;
}

inline quint16 Read16(const QByteArray &zip, int at)
{
    return quint16(quint8(zip[at]) | (quint8(zip[at + 1]) << 8));
}

inline void Write32(QByteArray &zip, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i) {
        zip[at + i] = char((value >> (8 * i)) & 0xff);
    }
}

inline void Write16(QByteArray &zip, int at, quint16 value)
{
    zip[at] = char(value & 0xff);
    zip[at + 1] = char(value >> 8);
}

// The zip with one more directory record: a copy of the record of name, renamed to alias, so that two
// records describe the same data. alias may differ from name in length.
inline QByteArray WithSecondRecord(QByteArray zip, const QByteArray &name, const QByteArray &alias)
{
    const int end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0) {
        return QByteArray();
    }
    const int directory = int(Read32(zip, end + 16));
    const int directoryBytes = int(Read32(zip, end + 12));
    for (int at = directory; at < directory + directoryBytes;) {
        const int nameLength = Read16(zip, at + 28);
        const int recordLength = 46 + nameLength + Read16(zip, at + 30) + Read16(zip, at + 32);
        if (zip.mid(at + 46, nameLength) == name) {
            QByteArray record = zip.mid(at, recordLength);
            record.replace(46, nameLength, alias);
            Write16(record, 28, quint16(alias.size()));
            zip.insert(directory + directoryBytes, record);
            const int newEnd = end + record.size();
            Write16(zip, newEnd + 8, quint16(Read16(zip, newEnd + 8) + 1));
            Write16(zip, newEnd + 10, quint16(Read16(zip, newEnd + 10) + 1));
            Write32(zip, newEnd + 12, quint32(directoryBytes + record.size()));
            return zip;
        }
        at += recordLength;
    }
    return QByteArray();
}

// Sets what the local header and the directory record of the first entry declare: its uncompressed
// size, and its CRC-32.
inline QByteArray WithFirstEntryDeclaring(QByteArray zip, quint32 size, quint32 crc)
{
    const int local = zip.indexOf(QByteArray("PK\x03\x04", 4));
    const int record = zip.indexOf(QByteArray("PK\x01\x02", 4));
    Write32(zip, local + 14, crc);
    Write32(zip, local + 22, size);
    Write32(zip, record + 16, crc);
    Write32(zip, record + 24, size);
    return zip;
}

inline quint32 FirstEntryCrc(const QByteArray &zip)
{
    return Read32(zip, zip.indexOf(QByteArray("PK\x01\x02", 4)) + 16);
}

inline quint32 FirstEntrySize(const QByteArray &zip)
{
    return Read32(zip, zip.indexOf(QByteArray("PK\x01\x02", 4)) + 24);
}

} // namespace zipbytes
