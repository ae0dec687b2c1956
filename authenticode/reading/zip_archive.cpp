#include "authenticode/reading/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace authenticode {

namespace {

constexpr std::uint32_t dataDescriptorSignature = 0x08074B50;
constexpr std::size_t maxCommentSize = 0xFFFF;

constexpr std::uint16_t zip64ExtraId = 0x0001;
constexpr std::uint16_t dataDescriptorFlag = 0x0008;

// Reads a record's signature and then, through `readFields`, its fixed
// fields; fails, taking nothing, if the signature is another record's.
template <typename Record, typename ReadFields>
std::optional<Record> readRecord(ByteCursor& cursor, ReadFields readFields) {
    ByteCursor trial = cursor;
    std::uint32_t signature = 0;
    Record record{};
    if (!trial.fields(signature) || signature != Record::signature || !readFields(trial, record)) {
        return std::nullopt;
    }
    cursor = trial;
    return record;
}

bool readFileFields(ByteCursor& cursor, ZipFileFields& f) {
    return cursor.fields(f.versionNeeded, f.flags, f.method, f.modifiedTime, f.modifiedDate, f.crc32,
                         f.compressedSize, f.uncompressedSize, f.nameLength, f.extraLength);
}

// The end of central directory record: the last one whose comment runs
// exactly to the end of the file.
std::optional<std::size_t> findEndRecord(Bytes file) {
    if (file.size() < ZipEndRecord::size) {
        return std::nullopt;
    }
    const std::size_t last = file.size() - ZipEndRecord::size;
    const std::size_t lowest = last - std::min(last, maxCommentSize);
    for (std::size_t position = last + 1; position-- > lowest;) {
        ByteCursor cursor(file.subspan(position));
        const auto record = ZipEndRecord::read(cursor);
        if (record && record->commentLength == cursor.remaining()) {
            return position;
        }
    }
    return std::nullopt;
}

struct ExtraField {
    std::uint16_t id;
    Bytes data;
};

std::optional<ExtraField> readExtraField(ByteCursor& fields) {
    ExtraField field{};
    std::uint16_t size = 0;
    if (!fields.fields(field.id, size)) {
        return std::nullopt;
    }
    const auto data = fields.bytes(size);
    if (!data) {
        return std::nullopt;
    }
    field.data = *data;
    return field;
}

// The central record's values that may be deferred to its ZIP64 extra field.
struct Zip64Values {
    std::uint64_t uncompressedSize;
    std::uint64_t compressedSize;
    std::uint64_t localHeaderOffset;
    std::uint32_t diskStart;
};

// Which of them the record defers: those whose short field holds the marker.
struct Zip64Deferred {
    bool uncompressedSize;
    bool compressedSize;
    bool localHeaderOffset;
    bool diskStart;

    bool any() const { return uncompressedSize || compressedSize || localHeaderOffset || diskStart; }
};

// `values` with the deferred ones read from the ZIP64 extra field, where they
// stand in the field's fixed order; nothing if the field is malformed or
// lacks one of them.
std::optional<Zip64Values> readZip64Extra(Bytes extra, Zip64Values values, Zip64Deferred deferred) {
    ByteCursor fields(extra);
    // Fewer than four bytes left cannot start a field; they are ignored.
    while (fields.remaining() >= 4) {
        const auto field = readExtraField(fields);
        if (!field) {
            return std::nullopt;
        }
        if (field->id == zip64ExtraId) {
            ByteCursor stored(field->data);
            const auto take = [&stored](bool wanted, auto& value) { return !wanted || stored.fields(value); };
            if (take(deferred.uncompressedSize, values.uncompressedSize) &&
                take(deferred.compressedSize, values.compressedSize) &&
                take(deferred.localHeaderOffset, values.localHeaderOffset) &&
                take(deferred.diskStart, values.diskStart)) {
                return values;
            }
            return std::nullopt;
        }
    }
    if (deferred.any()) {
        return std::nullopt;
    }
    return values;
}

std::string_view asText(Bytes bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::optional<ZipEntry> readCentralRecord(ByteCursor& directory) {
    const Bytes start = directory.rest();
    const auto header = ZipCentralHeader::read(directory);
    const auto name = header ? directory.bytes(header->file.nameLength) : std::nullopt;
    const auto extra = name ? directory.bytes(header->file.extraLength) : std::nullopt;
    if (!extra || !directory.skip(header->commentLength)) {
        return std::nullopt;
    }
    ZipEntry entry{};
    entry.name = asText(*name);
    entry.flags = header->file.flags;
    entry.method = header->file.method;
    const auto values = readZip64Extra(
        *extra,
        Zip64Values{header->file.uncompressedSize, header->file.compressedSize, header->localHeaderOffset,
                    header->diskStart},
        Zip64Deferred{header->file.uncompressedSize == zipMarker32, header->file.compressedSize == zipMarker32,
                      header->localHeaderOffset == zipMarker32, header->diskStart == zipMarker16});
    if (!values || values->diskStart != 0) {
        return std::nullopt;
    }
    entry.compressedSize = values->compressedSize;
    entry.uncompressedSize = values->uncompressedSize;
    entry.localHeaderOffset = values->localHeaderOffset;
    entry.centralRecord = start.first(start.size() - directory.remaining());
    return entry;
}

struct DirectoryBounds {
    std::uint64_t entries;
    std::uint64_t size;
    std::uint64_t offset;
    std::size_t end;  // where the records after the directory begin
};

struct Zip64End {
    DirectoryBounds bounds;
    Bytes record;   // as the file has them
    Bytes locator;
};

// Reads the ZIP64 end record and its locator, which must sit directly
// before the end record. Nothing if they are not there or not well formed.
std::optional<Zip64End> readZip64End(Bytes file, std::size_t endRecord) {
    if (endRecord < Zip64Locator::size) {
        return std::nullopt;
    }
    const std::size_t locatorOffset = endRecord - Zip64Locator::size;
    const Bytes locatorBytes = file.subspan(locatorOffset, Zip64Locator::size);
    ByteCursor locatorCursor(locatorBytes);
    const auto locator = Zip64Locator::read(locatorCursor);
    if (!locator || locator->recordDisk != 0 || locator->totalDisks > 1 || locator->recordOffset > locatorOffset ||
        locatorOffset - locator->recordOffset < Zip64EndRecord::size) {
        return std::nullopt;
    }
    const std::size_t recordStart = static_cast<std::size_t>(locator->recordOffset);
    const Bytes recordBytes = file.subspan(recordStart, locatorOffset - recordStart);
    ByteCursor recordCursor(recordBytes);
    const auto record = Zip64EndRecord::read(recordCursor);
    // The record's own size field counts everything after itself; nothing
    // may hide between the record and the locator.
    if (!record || record->recordSize != recordBytes.size() - 12 || record->disk != 0 || record->directoryDisk != 0 ||
        record->entriesOnDisk != record->entries) {
        return std::nullopt;
    }
    return Zip64End{DirectoryBounds{record->entries, record->directorySize, record->directoryOffset, recordStart},
                    recordBytes, locatorBytes};
}

}  // namespace

std::optional<ZipLocalHeader> ZipLocalHeader::read(ByteCursor& cursor) {
    return readRecord<ZipLocalHeader>(cursor,
                                      [](ByteCursor& c, ZipLocalHeader& h) { return readFileFields(c, h.file); });
}

std::optional<ZipCentralHeader> ZipCentralHeader::read(ByteCursor& cursor) {
    return readRecord<ZipCentralHeader>(cursor, [](ByteCursor& c, ZipCentralHeader& h) {
        return c.fields(h.versionMadeBy) && readFileFields(c, h.file) &&
               c.fields(h.commentLength, h.diskStart, h.internalAttributes, h.externalAttributes,
                        h.localHeaderOffset);
    });
}

std::optional<ZipEndRecord> ZipEndRecord::read(ByteCursor& cursor) {
    return readRecord<ZipEndRecord>(cursor, [](ByteCursor& c, ZipEndRecord& r) {
        return c.fields(r.disk, r.directoryDisk, r.entriesOnDisk, r.entries, r.directorySize, r.directoryOffset,
                        r.commentLength);
    });
}

void ZipEndRecord::appendTo(std::vector<std::uint8_t>& out) const {
    appendLittleEndian(out, signature, disk, directoryDisk, entriesOnDisk, entries, directorySize, directoryOffset,
                       commentLength);
}

std::optional<Zip64EndRecord> Zip64EndRecord::read(ByteCursor& cursor) {
    return readRecord<Zip64EndRecord>(cursor, [](ByteCursor& c, Zip64EndRecord& r) {
        return c.fields(r.recordSize, r.versionMadeBy, r.versionNeeded, r.disk, r.directoryDisk, r.entriesOnDisk,
                        r.entries, r.directorySize, r.directoryOffset);
    });
}

void Zip64EndRecord::appendTo(std::vector<std::uint8_t>& out) const {
    appendLittleEndian(out, signature, recordSize, versionMadeBy, versionNeeded, disk, directoryDisk, entriesOnDisk,
                       entries, directorySize, directoryOffset);
}

std::optional<Zip64Locator> Zip64Locator::read(ByteCursor& cursor) {
    return readRecord<Zip64Locator>(cursor, [](ByteCursor& c, Zip64Locator& l) {
        return c.fields(l.recordDisk, l.recordOffset, l.totalDisks);
    });
}

void Zip64Locator::appendTo(std::vector<std::uint8_t>& out) const {
    appendLittleEndian(out, signature, recordDisk, recordOffset, totalDisks);
}

std::optional<ZipArchive> readZipArchive(Bytes file) {
    const auto endOffset = findEndRecord(file);
    if (!endOffset) {
        return std::nullopt;
    }
    ZipArchive archive{};
    archive.end.record = file.subspan(*endOffset);
    ByteCursor endCursor(archive.end.record);
    const auto end = ZipEndRecord::read(endCursor);
    if (!end || end->disk != end->directoryDisk || (end->disk != 0 && end->disk != zipMarker16) ||
        end->entriesOnDisk != end->entries) {
        return std::nullopt;
    }

    DirectoryBounds bounds{end->entries, end->directorySize, end->directoryOffset, *endOffset};
    if (const auto zip64 = readZip64End(file, *endOffset)) {
        // The short fields either agree or defer to the ZIP64 record.
        if ((end->entries != zipMarker16 && end->entries != zip64->bounds.entries) ||
            (end->directorySize != zipMarker32 && end->directorySize != zip64->bounds.size) ||
            (end->directoryOffset != zipMarker32 && end->directoryOffset != zip64->bounds.offset)) {
            return std::nullopt;
        }
        bounds = zip64->bounds;
        archive.end.zip64Record = zip64->record;
        archive.end.zip64Locator = zip64->locator;
    } else if (end->disk != 0) {
        return std::nullopt;
    }

    // The directory ends exactly where the end records begin, and cannot
    // hold more entries than its size has room for.
    if (bounds.offset > bounds.end || bounds.size != bounds.end - bounds.offset ||
        bounds.entries > bounds.size / ZipCentralHeader::size) {
        return std::nullopt;
    }
    archive.centralDirectoryOffset = bounds.offset;
    archive.centralDirectorySize = bounds.size;
    ByteCursor directory(
        file.subspan(static_cast<std::size_t>(bounds.offset), static_cast<std::size_t>(bounds.size)));
    archive.entries.reserve(static_cast<std::size_t>(bounds.entries));
    for (std::uint64_t i = 0; i < bounds.entries; ++i) {
        auto entry = readCentralRecord(directory);
        if (!entry || entry->localHeaderOffset > bounds.offset ||
            bounds.offset - entry->localHeaderOffset < ZipLocalHeader::size) {
            return std::nullopt;
        }
        archive.entries.push_back(*entry);
    }
    if (!directory.empty()) {
        return std::nullopt;
    }
    return archive;
}

std::optional<ZipEntryData> zipEntryData(Bytes file, const ZipEntry& entry) {
    if (entry.localHeaderOffset > file.size() || entry.compressedSize > file.size()) {
        return std::nullopt;
    }
    const auto offsetOf = [&file](const ByteCursor& cursor) { return file.size() - cursor.remaining(); };
    ByteCursor local(file.subspan(static_cast<std::size_t>(entry.localHeaderOffset)));
    const auto header = ZipLocalHeader::read(local);
    if (!header || header->file.method != entry.method) {
        return std::nullopt;
    }
    const ZipFileFields& stored = header->file;
    const auto name = local.bytes(stored.nameLength);
    if (!name || asText(*name) != entry.name || !local.skip(stored.extraLength)) {
        return std::nullopt;
    }
    const std::size_t dataOffset = offsetOf(local);
    const auto data = local.bytes(static_cast<std::size_t>(entry.compressedSize));
    if (!data) {
        return std::nullopt;
    }
    // Sizes in the local header, where it has them, must agree; a ZIP64
    // marker defers them to the header's extra field, which the central
    // directory's values already stand for.
    const bool hasDescriptor = (stored.flags & dataDescriptorFlag) != 0;
    if (!hasDescriptor &&
        ((stored.compressedSize != zipMarker32 && stored.compressedSize != entry.compressedSize) ||
         (stored.uncompressedSize != zipMarker32 && stored.uncompressedSize != entry.uncompressedSize))) {
        return std::nullopt;
    }
    std::size_t end = offsetOf(local);
    if (hasDescriptor) {
        // crc-32, then the sizes in four or eight bytes each, optionally
        // after a signature: the form whose sizes match is the one there.
        ByteCursor probe = local;
        const bool signature = probe.u32le() == dataDescriptorSignature;
        ByteCursor wide = local;
        if (!wide.skip(signature ? 8 : 4)) {
            return std::nullopt;
        }
        ByteCursor narrow = wide;
        std::uint64_t compressed64 = 0;
        std::uint64_t uncompressed64 = 0;
        std::uint32_t compressed32 = 0;
        std::uint32_t uncompressed32 = 0;
        if (wide.fields(compressed64, uncompressed64) && compressed64 == entry.compressedSize &&
            uncompressed64 == entry.uncompressedSize) {
            end = offsetOf(wide);
        } else if (narrow.fields(compressed32, uncompressed32) && compressed32 == entry.compressedSize &&
                   uncompressed32 == entry.uncompressedSize) {
            end = offsetOf(narrow);
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
