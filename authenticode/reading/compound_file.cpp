#include "authenticode/reading/compound_file.h"

#include <algorithm>
#include <array>

namespace authenticode {

namespace {

constexpr std::array<std::uint8_t, 8> signature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t headerSize = 512;
constexpr std::size_t headerFatEntries = 109;  // the first part of the DIFAT lives in the header
constexpr std::size_t miniSectorSize = 64;

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;        // ENDOFCHAIN
constexpr std::uint32_t maxRegularSector = 0xFFFFFFFA;  // MAXREGSECT

// Header fields.
constexpr std::size_t majorVersionField = 0x1A;
constexpr std::size_t byteOrderField = 0x1C;
constexpr std::size_t sectorShiftField = 0x1E;
constexpr std::size_t miniSectorShiftField = 0x20;
constexpr std::size_t fatSectorCountField = 0x2C;
constexpr std::size_t firstDirectorySectorField = 0x30;
constexpr std::size_t miniStreamCutoffField = 0x38;
constexpr std::size_t firstMiniFatSectorField = 0x3C;
constexpr std::size_t firstDifatSectorField = 0x44;
constexpr std::size_t headerDifatField = 0x4C;

// Directory entry fields.
constexpr std::size_t nameLengthField = 0x40;
constexpr std::size_t typeField = 0x42;
constexpr std::size_t leftField = 0x44;
constexpr std::size_t rightField = 0x48;
constexpr std::size_t childField = 0x4C;
constexpr std::size_t classIdField = 0x50;
constexpr std::size_t stateBitsField = 0x60;
constexpr std::size_t creationTimeField = 0x64;
constexpr std::size_t modifiedTimeField = 0x6C;
constexpr std::size_t startSectorField = 0x74;
constexpr std::size_t sizeField = 0x78;
constexpr std::size_t maxNameBytes = 64;  // including the terminating null

std::uint64_t roundUpDivide(std::uint64_t value, std::uint64_t divisor) {
    return value / divisor + (value % divisor != 0 ? 1 : 0);
}

// Collects the pieces of a stream, joining those that continue one another.
class Runs {
public:
    explicit Runs(const std::function<void(std::size_t, std::size_t)>& piece) : piece_(piece) {}

    void add(std::size_t offset, std::size_t length) {
        if (length_ != 0 && offset_ + length_ == offset) {
            length_ += length;
            return;
        }
        flush();
        offset_ = offset;
        length_ = length;
    }

    void flush() {
        if (length_ != 0) {
            piece_(offset_, length_);
        }
        length_ = 0;
    }

private:
    const std::function<void(std::size_t, std::size_t)>& piece_;
    std::size_t offset_ = 0;
    std::size_t length_ = 0;
};

}  // namespace

std::optional<CompoundFile> CompoundFile::open(Bytes file) {
    CompoundFile compound;
    compound.file_ = file;
    if (!compound.readHeader()) {
        return std::nullopt;
    }
    const Bytes header = file.first(headerSize);
    if (!compound.readFatSectors(header) || !compound.readDirectory(*readU32(header, firstDirectorySectorField))) {
        return std::nullopt;
    }
    const auto root = compound.entry(rootEntryId);
    if (!root || root->type != EntryType::Root) {
        return std::nullopt;
    }
    compound.root_ = *root;
    compound.readMiniStream(*readU32(header, firstMiniFatSectorField));
    return compound;
}

bool CompoundFile::readHeader() {
    if (file_.size() < headerSize || !std::equal(signature.begin(), signature.end(), file_.begin())) {
        return false;
    }
    const Bytes header = file_.first(headerSize);
    const std::uint16_t major = *readU16(header, majorVersionField);
    const std::uint16_t shift = *readU16(header, sectorShiftField);
    if (*readU16(header, byteOrderField) != 0xFFFE || *readU16(header, miniSectorShiftField) != 6 ||
        *readU32(header, miniStreamCutoffField) != miniStreamCutoff) {
        return false;
    }
    if (!(major == 3 && shift == 9) && !(major == 4 && shift == 12)) {
        return false;
    }
    majorVersion_ = major;
    sectorSize_ = std::size_t{1} << shift;
    // Sector n starts at (n + 1) * sectorSize; the header fills sector -1.
    const std::size_t inFile = file_.size() > sectorSize_ ? roundUpDivide(file_.size() - sectorSize_, sectorSize_) : 0;
    sectorCount_ = std::min<std::size_t>(inFile, std::size_t{maxRegularSector} + 1);
    return true;
}

bool CompoundFile::readFatSectors(Bytes header) {
    const std::uint32_t count = *readU32(header, fatSectorCountField);
    if (count == 0 || count > sectorCount_) {
        return false;
    }
    // FAT and DIFAT sectors are all distinct sectors of the file.
    SectorVisits seen(sectorCount_, 0);
    const auto take = [&](std::uint32_t sector) {
        if (!seen.visitSector(sector)) {
            return false;
        }
        fatSectors_.push_back(sector);
        return true;
    };
    for (std::size_t i = 0; i < headerFatEntries && fatSectors_.size() < count; ++i) {
        if (!take(*readU32(header, headerDifatField + 4 * i))) {
            return false;
        }
    }
    const std::size_t entriesPerDifatSector = sectorSize_ / 4 - 1;  // the last entry links to the next
    std::uint32_t difat = *readU32(header, firstDifatSectorField);
    while (fatSectors_.size() < count) {
        if (!seen.visitSector(difat)) {
            return false;
        }
        const auto sector = slice(file_, (std::size_t{difat} + 1) * sectorSize_, sectorSize_);
        if (!sector) {
            return false;
        }
        for (std::size_t i = 0; i < entriesPerDifatSector && fatSectors_.size() < count; ++i) {
            if (!take(*readU32(*sector, 4 * i))) {
                return false;
            }
        }
        difat = *readU32(*sector, sectorSize_ - 4);
    }
    return true;
}

bool CompoundFile::readDirectory(std::uint32_t firstSector) {
    auto sectors = wholeChain(firstSector);
    if (!sectors || sectors->empty()) {
        return false;
    }
    directorySectors_ = std::move(*sectors);
    return true;
}

void CompoundFile::readMiniStream(std::uint32_t firstMiniFatSector) {
    // The mini stream is the root entry's stream; its sectors are ordinary
    // ones, the mini FAT chains its 64-byte mini sectors.
    auto miniFat = wholeChain(firstMiniFatSector);
    const std::uint64_t needed = roundUpDivide(root_.size, sectorSize_);
    if (!miniFat || needed > sectorCount_) {
        return;
    }
    std::vector<std::uint32_t> sectors;
    SectorVisits seen(sectorCount_, 0);
    std::uint32_t sector = root_.startSector;
    for (std::uint64_t i = 0; i < needed; ++i) {
        if (!seen.visitSector(sector)) {
            return;
        }
        sectors.push_back(sector);
        if (i + 1 < needed) {
            const auto next = fatEntry(sector);
            if (!next) {
                return;
            }
            sector = *next;
        }
    }
    miniFatSectors_ = std::move(*miniFat);
    miniStreamSectors_ = std::move(sectors);
    miniSectorCount_ = static_cast<std::size_t>(roundUpDivide(root_.size, miniSectorSize));
    miniUsable_ = true;
}

std::optional<std::uint32_t> CompoundFile::fatEntry(std::uint32_t sector) const {
    const std::size_t perSector = sectorSize_ / 4;
    const std::size_t index = sector / perSector;
    if (index >= fatSectors_.size()) {
        return std::nullopt;
    }
    return readU32(file_, (std::size_t{fatSectors_[index]} + 1) * sectorSize_ + (sector % perSector) * 4);
}

std::optional<std::uint32_t> CompoundFile::miniFatEntry(std::uint32_t miniSector) const {
    const std::uint64_t position = std::uint64_t{miniSector} * 4;
    const std::uint64_t index = position / sectorSize_;
    if (index >= miniFatSectors_.size()) {
        return std::nullopt;
    }
    return readU32(file_, (std::size_t{miniFatSectors_[index]} + 1) * sectorSize_ + position % sectorSize_);
}

std::optional<std::vector<std::uint32_t>> CompoundFile::wholeChain(std::uint32_t start) const {
    std::vector<std::uint32_t> sectors;
    SectorVisits seen(sectorCount_, 0);
    for (std::uint32_t sector = start; sector != endOfChain;) {
        if (!seen.visitSector(sector)) {
            return std::nullopt;
        }
        sectors.push_back(sector);
        const auto next = fatEntry(sector);
        if (!next) {
            return std::nullopt;
        }
        sector = *next;
    }
    return sectors;
}

std::optional<DirectoryEntry> CompoundFile::entry(std::uint32_t id) const {
    const std::size_t perSector = sectorSize_ / entrySize;
    if (id >= entryCount()) {
        return std::nullopt;
    }
    const std::size_t offset =
        (std::size_t{directorySectors_[id / perSector]} + 1) * sectorSize_ + (id % perSector) * entrySize;
    const auto bytes = slice(file_, offset, entrySize);
    if (!bytes) {
        return std::nullopt;
    }
    const Bytes raw = *bytes;
    DirectoryEntry entry;
    entry.id = id;
    entry.type = static_cast<EntryType>(raw[typeField]);
    const std::uint16_t nameLength = *readU16(raw, nameLengthField);
    const bool nameValid = nameLength >= 2 && nameLength <= maxNameBytes && nameLength % 2 == 0;
    if ((entry.type == EntryType::Storage || entry.type == EntryType::Stream) && !nameValid) {
        return std::nullopt;
    }
    entry.name = nameValid ? raw.first(nameLength - 2u) : raw.first(0);
    entry.left = *readU32(raw, leftField);
    entry.right = *readU32(raw, rightField);
    entry.child = *readU32(raw, childField);
    entry.classId = raw.subspan(classIdField, 16);
    entry.stateBits = raw.subspan(stateBitsField, 4);
    entry.creationTime = raw.subspan(creationTimeField, 8);
    entry.modifiedTime = raw.subspan(modifiedTimeField, 8);
    entry.startSector = *readU32(raw, startSectorField);
    entry.sizeField = raw.subspan(sizeField, 8);
    const std::uint64_t low = *readU32(raw, sizeField);
    const std::uint64_t high = *readU32(raw, sizeField + 4);
    // Old writers left the high half of a version 3 size uninitialised;
    // readers ignore it.
    entry.size = majorVersion_ == 3 ? low : (high << 32 | low);
    return entry;
}

bool CompoundFile::readStream(const DirectoryEntry& stream, SectorVisits& visits,
                              const std::function<void(std::size_t, std::size_t)>& piece) const {
    if (stream.type != EntryType::Stream) {
        return false;
    }
    return stream.size < miniStreamCutoff ? readMini(stream.startSector, stream.size, visits, piece)
                                          : readRegular(stream.startSector, stream.size, visits, piece);
}

bool CompoundFile::readRegular(std::uint32_t start, std::uint64_t size, SectorVisits& visits,
                               const std::function<void(std::size_t, std::size_t)>& piece) const {
    const std::uint64_t needed = roundUpDivide(size, sectorSize_);
    if (needed > sectorCount_) {
        return false;
    }
    Runs runs(piece);
    std::uint64_t remaining = size;
    std::uint32_t sector = start;
    for (std::uint64_t i = 0; i < needed; ++i) {
        if (!visits.visitSector(sector)) {
            return false;
        }
        const std::size_t offset = (std::size_t{sector} + 1) * sectorSize_;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sectorSize_));
        if (!slice(file_, offset, length)) {
            return false;
        }
        runs.add(offset, length);
        remaining -= length;
        if (i + 1 < needed) {
            const auto next = fatEntry(sector);
            if (!next) {
                return false;
            }
            sector = *next;
        }
    }
    runs.flush();
    return true;
}

bool CompoundFile::readMini(std::uint32_t start, std::uint64_t size, SectorVisits& visits,
                            const std::function<void(std::size_t, std::size_t)>& piece) const {
    if (size == 0) {
        return true;
    }
    if (!miniUsable_ || roundUpDivide(size, miniSectorSize) > miniSectorCount_) {
        return false;
    }
    Runs runs(piece);
    std::uint64_t remaining = size;
    std::uint32_t miniSector = start;
    while (true) {
        if (!visits.visitMiniSector(miniSector)) {
            return false;
        }
        const std::uint64_t position = std::uint64_t{miniSector} * miniSectorSize;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, miniSectorSize));
        const std::uint64_t index = position / sectorSize_;
        if (position + length > root_.size || index >= miniStreamSectors_.size()) {
            return false;
        }
        const std::size_t offset = (std::size_t{miniStreamSectors_[index]} + 1) * sectorSize_ +
                                   static_cast<std::size_t>(position % sectorSize_);
        if (!slice(file_, offset, length)) {
            return false;
        }
        runs.add(offset, length);
        remaining -= length;
        if (remaining == 0) {
            break;
        }
        const auto next = miniFatEntry(miniSector);
        if (!next) {
            return false;
        }
        miniSector = *next;
    }
    runs.flush();
    return true;
}

std::optional<std::vector<std::uint8_t>> CompoundFile::streamBytes(const DirectoryEntry& stream) const {
    if (stream.size > file_.size()) {
        return std::nullopt;
    }
    // Grown as the sectors are read rather than reserved up front: a size
    // that the chain cannot back costs nothing.
    std::vector<std::uint8_t> bytes;
    SectorVisits visits = beginPass();
    const bool read = readStream(stream, visits, [&](std::size_t offset, std::size_t length) {
        const Bytes run = file_.subspan(offset, length);
        bytes.insert(bytes.end(), run.begin(), run.end());
    });
    if (!read) {
        return std::nullopt;
    }
    return bytes;
}

DirectoryWalk::DirectoryWalk(const CompoundFile& file) : file_(file), met_(file.entryCount()) {
    if (!met_.empty()) {
        met_[rootEntryId] = true;  // the root is nobody's child
    }
}

std::optional<std::vector<DirectoryEntry>> DirectoryWalk::children(const DirectoryEntry& storage) {
    // In-order traversal with a stack of its own, so that a degenerate tree
    // as deep as the directory is long needs no deep recursion.
    std::vector<DirectoryEntry> result;
    std::vector<DirectoryEntry> pending;
    std::uint32_t node = storage.child;
    while (node != noStream || !pending.empty()) {
        while (node != noStream) {
            if (node >= met_.size() || met_[node]) {
                return std::nullopt;
            }
            met_[node] = true;
            auto entry = file_.entry(node);
            if (!entry || (entry->type != EntryType::Storage && entry->type != EntryType::Stream)) {
                return std::nullopt;
            }
            node = entry->left;
            pending.push_back(std::move(*entry));
        }
        result.push_back(std::move(pending.back()));
        pending.pop_back();
        node = result.back().right;
    }
    return result;
}

}  // namespace authenticode
