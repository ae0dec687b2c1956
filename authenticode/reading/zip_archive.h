// A bounds-checked reader of ZIP archives (single disk, ZIP64 included): the
// central directory, the end records, the local records, and the data of an
// entry, stored or deflated. Every offset and size is checked against the
// file; loops and allocations are bounded by the file's real size, never by
// a count or size the archive claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "authenticode/reading/bytes.h"

namespace authenticode {

// The fixed part of each ZIP record (APPNOTE 4.3), its fields named once.
// Each read takes the record from the front of the cursor and fails, taking
// nothing, if the bytes run out or the record's signature is not there.
// Variable parts (names, extra fields, comments) follow the fixed part and
// are left to the caller.

// The fields a local header and a central directory header share, in the
// order both have them.
struct ZipFileFields {
    std::uint16_t versionNeeded;
    std::uint16_t flags;
    std::uint16_t method;
    std::uint16_t modifiedTime;
    std::uint16_t modifiedDate;
    std::uint32_t crc32;
    std::uint32_t compressedSize;
    std::uint32_t uncompressedSize;
    std::uint16_t nameLength;
    std::uint16_t extraLength;
};

struct ZipLocalHeader {
    static constexpr std::uint32_t signature = 0x04034B50;
    static constexpr std::size_t size = 30;
    ZipFileFields file;
    static std::optional<ZipLocalHeader> read(ByteCursor& cursor);
};

struct ZipCentralHeader {
    static constexpr std::uint32_t signature = 0x02014B50;
    static constexpr std::size_t size = 46;
    std::uint16_t versionMadeBy;
    ZipFileFields file;
    std::uint16_t commentLength;
    std::uint16_t diskStart;
    std::uint16_t internalAttributes;
    std::uint32_t externalAttributes;
    std::uint32_t localHeaderOffset;
    static std::optional<ZipCentralHeader> read(ByteCursor& cursor);
};

// End of central directory record, without its comment. A count, size or
// offset too large for its field holds the marker (zipMarker16 or
// zipMarker32) and defers to the ZIP64 record; a signed package's digest
// keeps the marker, so a rewritten record must too.
struct ZipEndRecord {
    static constexpr std::uint32_t signature = 0x06054B50;
    static constexpr std::size_t size = 22;
    std::uint16_t disk;
    std::uint16_t directoryDisk;  // where the central directory starts
    std::uint16_t entriesOnDisk;
    std::uint16_t entries;
    std::uint32_t directorySize;
    std::uint32_t directoryOffset;
    std::uint16_t commentLength;  // the comment runs to the end of the file
    static std::optional<ZipEndRecord> read(ByteCursor& cursor);
    void appendTo(std::vector<std::uint8_t>& out) const;
};

// ZIP64 end of central directory record, without its extensible data.
struct Zip64EndRecord {
    static constexpr std::uint32_t signature = 0x06064B50;
    static constexpr std::size_t size = 56;
    std::uint64_t recordSize;  // counts everything after this field, extensible data included
    std::uint16_t versionMadeBy;
    std::uint16_t versionNeeded;
    std::uint32_t disk;
    std::uint32_t directoryDisk;  // where the central directory starts
    std::uint64_t entriesOnDisk;  // single disk only: always the same as entries
    std::uint64_t entries;
    std::uint64_t directorySize;
    std::uint64_t directoryOffset;
    static std::optional<Zip64EndRecord> read(ByteCursor& cursor);
    void appendTo(std::vector<std::uint8_t>& out) const;
};

struct Zip64Locator {
    static constexpr std::uint32_t signature = 0x07064B50;
    static constexpr std::size_t size = 20;
    std::uint32_t recordDisk;  // the disk that holds the ZIP64 end record
    std::uint64_t recordOffset;
    std::uint32_t totalDisks;
    static std::optional<Zip64Locator> read(ByteCursor& cursor);
    void appendTo(std::vector<std::uint8_t>& out) const;
};

// Values that defer to a ZIP64 field.
inline constexpr std::uint16_t zipMarker16 = 0xFFFF;
inline constexpr std::uint32_t zipMarker32 = 0xFFFFFFFF;

struct ZipEntry {
    std::string_view name;         // as stored, a view into the file
    std::uint16_t flags;           // general purpose bit flag
    std::uint16_t method;          // 0 stored, 8 deflated
    std::uint64_t compressedSize;  // ZIP64 values where the record defers to them
    std::uint64_t uncompressedSize;
    std::uint64_t localHeaderOffset;
    Bytes centralRecord;  // the entry's whole central directory record
};

// The records after the central directory, exactly as the file has them.
struct ZipEndRecords {
    Bytes zip64Record;   // ZIP64 end of central directory record; empty without one
    Bytes zip64Locator;  // its locator; empty without one
    Bytes record;        // end of central directory record, comment included
};

struct ZipArchive {
    std::vector<ZipEntry> entries;  // in central directory order
    std::uint64_t centralDirectoryOffset;
    std::uint64_t centralDirectorySize;
    ZipEndRecords end;
};

// Reads the archive's structure. Nothing if it is not a well-formed ZIP: the
// end record must close the file, the central directory must hold exactly
// the entries and bytes the end records claim and be followed directly by
// the end records, and every local header must lie before the central
// directory with its data inside the file.
std::optional<ZipArchive> readZipArchive(Bytes file);

// Where an entry's data is: after its local header, `compressedSize` bytes.
struct ZipEntryData {
    std::uint64_t offset;
    Bytes compressed;
    std::uint64_t end;  // just past the data and its data descriptor, if any
};

// Nothing if the local header is broken or disagrees with the central
// directory about the name, the method or (when it records them) the sizes,
// or if a data descriptor the flags announce is not there.
std::optional<ZipEntryData> zipEntryData(Bytes file, const ZipEntry& entry);

// Feeds the entry's uncompressed data to `sink` a block at a time (deflate
// through zlib). False if the method is neither stored nor deflated, the
// data is corrupt, or it does not come to exactly `uncompressedSize` bytes;
// inflating stops as soon as it would exceed that.
bool readZipEntry(Bytes file, const ZipEntry& entry, const std::function<void(Bytes)>& sink);

}  // namespace authenticode
