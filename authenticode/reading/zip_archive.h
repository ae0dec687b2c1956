// A bounds-checked reader of ZIP archives (single disk, ZIP64 included): the
// central directory, the end records, the local records, and the data of an
// entry, stored or deflated. Every offset and size is checked against the
// file; loops and allocations are bounded by the file's real size, never by
// a count or size the archive claims.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "authenticode/reading/bytes.h"

namespace authenticode {

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
