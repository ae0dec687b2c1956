#include "authenticode/reading/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace authenticode {

namespace {

constexpr std::uint32_t localHeaderSignature = 0x04034B50;
constexpr std::uint32_t centralRecordSignature = 0x02014B50;
constexpr std::uint32_t endRecordSignature = 0x06054B50;
constexpr std::uint32_t zip64RecordSignature = 0x06064B50;
constexpr std::uint32_t zip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t dataDescriptorSignature = 0x08074B50;

constexpr std::size_t localHeaderSize = 30;
constexpr std::size_t centralRecordSize = 46;
constexpr std::size_t endRecordSize = 22;
constexpr std::size_t zip64LocatorSize = 20;
constexpr std::size_t zip64RecordSize = 56;  // without its extensible data
constexpr std::size_t maxCommentSize = 0xFFFF;

constexpr std::uint16_t zip64ExtraId = 0x0001;
constexpr std::uint16_t dataDescriptorFlag = 0x0008;
constexpr std::uint32_t marker32 = 0xFFFFFFFF;
constexpr std::uint16_t marker16 = 0xFFFF;

std::optional<std::uint64_t> readU64(Bytes data, std::size_t offset) {
    const auto low = readU32(data, offset);
    const auto high = readU32(data, offset + 4);
    if (!low || !high) {
        return std::nullopt;
    }
    return std::uint64_t{*low} | (std::uint64_t{*high} << 32);
}

// The end of central directory record: the last one whose comment runs
// exactly to the end of the file.
std::optional<std::size_t> findEndRecord(Bytes file) {
    if (file.size() < endRecordSize) {
        return std::nullopt;
    }
    const std::size_t lowest = file.size() - endRecordSize - std::min(file.size() - endRecordSize, maxCommentSize);
    for (std::size_t position = file.size() - endRecordSize + 1; position-- > lowest;) {
        if (readU32(file, position) == endRecordSignature &&
            readU16(file, position + 20) == file.size() - position - endRecordSize) {
            return position;
        }
    }
    return std::nullopt;
}

// The values a central directory record defers to its ZIP64 extra field, in
// the field's fixed order, each present only if its short field is the
// marker.
bool readZip64Extra(Bytes extra, ZipEntry& entry, std::uint32_t& diskStart, bool wantUncompressed, bool wantCompressed,
                    bool wantOffset, bool wantDisk) {
    std::size_t position = 0;
    while (position + 4 <= extra.size()) {
        const std::uint16_t id = *readU16(extra, position);
        const std::uint16_t size = *readU16(extra, position + 2);
        const auto field = slice(extra, position + 4, size);
        if (!field) {
            return false;
        }
        if (id == zip64ExtraId) {
            std::size_t at = 0;
            const auto take64 = [&](std::uint64_t& value) {
                const auto read = readU64(*field, at);
                at += 8;
                return read ? (value = *read, true) : false;
            };
            if ((wantUncompressed && !take64(entry.uncompressedSize)) ||
                (wantCompressed && !take64(entry.compressedSize)) || (wantOffset && !take64(entry.localHeaderOffset))) {
                return false;
            }
            if (wantDisk) {
                const auto disk = readU32(*field, at);
                if (!disk) {
                    return false;
                }
                diskStart = *disk;
            }
            return true;
        }
        position += 4 + std::size_t{size};
    }
    return !(wantUncompressed || wantCompressed || wantOffset || wantDisk);
}

std::optional<ZipEntry> readCentralRecord(Bytes directory, std::size_t position) {
    const auto fixed = slice(directory, position, centralRecordSize);
    if (!fixed || readU32(*fixed, 0) != centralRecordSignature) {
        return std::nullopt;
    }
    const std::size_t nameLength = *readU16(*fixed, 28);
    const std::size_t extraLength = *readU16(*fixed, 30);
    const std::size_t commentLength = *readU16(*fixed, 32);
    const auto record = slice(directory, position, centralRecordSize + nameLength + extraLength + commentLength);
    if (!record) {
        return std::nullopt;
    }
    ZipEntry entry{};
    const Bytes name = record->subspan(centralRecordSize, nameLength);
    entry.name = std::string_view(reinterpret_cast<const char*>(name.data()), name.size());
    entry.flags = *readU16(*fixed, 8);
    entry.method = *readU16(*fixed, 10);
    const std::uint32_t compressed = *readU32(*fixed, 20);
    const std::uint32_t uncompressed = *readU32(*fixed, 24);
    const std::uint16_t disk = *readU16(*fixed, 34);
    const std::uint32_t offset = *readU32(*fixed, 42);
    entry.compressedSize = compressed;
    entry.uncompressedSize = uncompressed;
    entry.localHeaderOffset = offset;
    entry.centralRecord = *record;
    std::uint32_t diskStart = disk;
    if (!readZip64Extra(record->subspan(centralRecordSize + nameLength, extraLength), entry, diskStart,
                        uncompressed == marker32, compressed == marker32, offset == marker32, disk == marker16)) {
        return std::nullopt;
    }
    if (diskStart != 0) {
        return std::nullopt;
    }
    return entry;
}

struct DirectoryBounds {
    std::uint64_t entries;
    std::uint64_t size;
    std::uint64_t offset;
    std::size_t end;  // where the records after the directory begin
};

// Reads the ZIP64 end record and its locator, which must sit directly
// before the end record. Nothing if they are not there or not well formed.
std::optional<DirectoryBounds> readZip64End(Bytes file, std::size_t endRecord, ZipEndRecords& records) {
    if (endRecord < zip64LocatorSize) {
        return std::nullopt;
    }
    const std::size_t locatorOffset = endRecord - zip64LocatorSize;
    const Bytes locator = file.subspan(locatorOffset, zip64LocatorSize);
    const auto recordOffset = readU64(locator, 8);
    if (readU32(locator, 0) != zip64LocatorSignature || readU32(locator, 4) != 0 || readU32(locator, 16) > 1 ||
        !recordOffset || *recordOffset > locatorOffset || locatorOffset - *recordOffset < zip64RecordSize) {
        return std::nullopt;
    }
    const std::size_t recordStart = static_cast<std::size_t>(*recordOffset);
    const Bytes record = file.subspan(recordStart, locatorOffset - recordStart);
    // The record's own size field counts everything after itself; nothing
    // may hide between the record and the locator.
    const auto declared = readU64(record, 4);
    if (readU32(record, 0) != zip64RecordSignature || !declared || *declared != record.size() - 12 ||
        readU32(record, 16) != 0 || readU32(record, 20) != 0 || readU64(record, 24) != readU64(record, 32)) {
        return std::nullopt;
    }
    records.zip64Record = record;
    records.zip64Locator = locator;
    return DirectoryBounds{*readU64(record, 32), *readU64(record, 40), *readU64(record, 48), recordStart};
}

}  // namespace

std::optional<ZipArchive> readZipArchive(Bytes file) {
    const auto endOffset = findEndRecord(file);
    if (!endOffset) {
        return std::nullopt;
    }
    ZipArchive archive{};
    const Bytes end = file.subspan(*endOffset);
    archive.end.record = end;
    const std::uint16_t disk = *readU16(end, 4);
    const std::uint16_t directoryDisk = *readU16(end, 6);
    const std::uint16_t entriesOnDisk = *readU16(end, 8);
    const std::uint16_t entries = *readU16(end, 10);
    const std::uint32_t size = *readU32(end, 12);
    const std::uint32_t offset = *readU32(end, 16);
    if (disk != directoryDisk || (disk != 0 && disk != marker16) || entriesOnDisk != entries) {
        return std::nullopt;
    }

    DirectoryBounds bounds{entries, size, offset, *endOffset};
    if (const auto zip64 = readZip64End(file, *endOffset, archive.end)) {
        // The short fields either agree or defer to the ZIP64 record.
        if ((entries != marker16 && entries != zip64->entries) || (size != marker32 && size != zip64->size) ||
            (offset != marker32 && offset != zip64->offset)) {
            return std::nullopt;
        }
        bounds = *zip64;
    } else if (disk != 0) {
        return std::nullopt;
    }

    // The directory ends exactly where the end records begin, and cannot
    // hold more entries than its size has room for.
    if (bounds.offset > bounds.end || bounds.size != bounds.end - bounds.offset ||
        bounds.entries > bounds.size / centralRecordSize) {
        return std::nullopt;
    }
    archive.centralDirectoryOffset = bounds.offset;
    archive.centralDirectorySize = bounds.size;
    const Bytes directory =
        file.subspan(static_cast<std::size_t>(bounds.offset), static_cast<std::size_t>(bounds.size));
    archive.entries.reserve(static_cast<std::size_t>(bounds.entries));
    std::size_t position = 0;
    for (std::uint64_t i = 0; i < bounds.entries; ++i) {
        auto entry = readCentralRecord(directory, position);
        if (!entry || entry->localHeaderOffset > bounds.offset ||
            bounds.offset - entry->localHeaderOffset < localHeaderSize) {
            return std::nullopt;
        }
        position += entry->centralRecord.size();
        archive.entries.push_back(*entry);
    }
    if (position != directory.size()) {
        return std::nullopt;
    }
    return archive;
}

std::optional<ZipEntryData> zipEntryData(Bytes file, const ZipEntry& entry) {
    const auto header = slice(file, static_cast<std::size_t>(entry.localHeaderOffset), localHeaderSize);
    if (!header || readU32(*header, 0) != localHeaderSignature || readU16(*header, 8) != entry.method) {
        return std::nullopt;
    }
    const std::uint16_t flags = *readU16(*header, 6);
    const std::uint32_t compressed = *readU32(*header, 18);
    const std::uint32_t uncompressed = *readU32(*header, 22);
    const std::size_t nameLength = *readU16(*header, 26);
    const std::size_t extraLength = *readU16(*header, 28);
    const std::size_t nameOffset = static_cast<std::size_t>(entry.localHeaderOffset) + localHeaderSize;
    const auto name = slice(file, nameOffset, nameLength);
    if (!name || std::string_view(reinterpret_cast<const char*>(name->data()), name->size()) != entry.name) {
        return std::nullopt;
    }
    const std::size_t dataOffset = nameOffset + nameLength + extraLength;
    if (entry.compressedSize > file.size()) {
        return std::nullopt;
    }
    const auto data = slice(file, dataOffset, static_cast<std::size_t>(entry.compressedSize));
    if (!data) {
        return std::nullopt;
    }
    // Sizes in the local header, where it has them, must agree; a ZIP64
    // marker defers them to the header's extra field, which the central
    // directory's values already stand for.
    if ((flags & dataDescriptorFlag) == 0 && ((compressed != marker32 && compressed != entry.compressedSize) ||
                                              (uncompressed != marker32 && uncompressed != entry.uncompressedSize))) {
        return std::nullopt;
    }
    std::size_t end = dataOffset + data->size();
    if ((flags & dataDescriptorFlag) != 0) {
        // crc-32, then the sizes in four or eight bytes each, optionally
        // after a signature: the form whose sizes match is the one there.
        const bool signature = readU32(file, end) == dataDescriptorSignature;
        const std::size_t sizes = end + (signature ? 8 : 4);
        if (readU64(file, sizes) == entry.compressedSize && readU64(file, sizes + 8) == entry.uncompressedSize) {
            end = sizes + 16;
        } else if (readU32(file, sizes) == entry.compressedSize && readU32(file, sizes + 4) == entry.uncompressedSize) {
            end = sizes + 8;
        } else {
            return std::nullopt;
        }
    }
    return ZipEntryData{dataOffset, *data, end};
}

bool readZipEntry(Bytes file, const ZipEntry& entry, const std::function<void(Bytes)>& sink) {
    const auto data = zipEntryData(file, entry);
    if (!data) {
        return false;
    }
    constexpr std::size_t inputBlock = 1 << 20;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize) {
            return false;
        }
        for (std::size_t offset = 0; offset < data->compressed.size(); offset += inputBlock) {
            sink(data->compressed.subspan(offset, std::min(inputBlock, data->compressed.size() - offset)));
        }
        return true;
    }
    if (entry.method != 8) {
        return false;
    }

    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return false;
    }
    struct Cleanup {
        z_stream& stream;
        ~Cleanup() { inflateEnd(&stream); }
    } cleanup{stream};

    std::array<std::uint8_t, 64 * 1024> output{};
    std::uint64_t produced = 0;
    std::size_t consumed = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0 && consumed < data->compressed.size()) {
            const std::size_t length = std::min(inputBlock, data->compressed.size() - consumed);
            stream.next_in = const_cast<Bytef*>(data->compressed.data() + consumed);
            stream.avail_in = static_cast<uInt>(length);
            consumed += length;
        }
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        const uInt inputBefore = stream.avail_in;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            return false;
        }
        const std::size_t length = output.size() - stream.avail_out;
        if (length > entry.uncompressedSize - produced) {
            return false;
        }
        produced += length;
        if (length > 0) {
            sink(Bytes(output.data(), length));
        }
        // No progress and no more input: the stream is cut short.
        if (status != Z_STREAM_END && length == 0 && stream.avail_in == inputBefore &&
            consumed == data->compressed.size()) {
            return false;
        }
    }
    // The deflate stream must fill the entry's data exactly.
    return produced == entry.uncompressedSize && stream.avail_in == 0 && consumed == data->compressed.size();
}

}  // namespace authenticode
