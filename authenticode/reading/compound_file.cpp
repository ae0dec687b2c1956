#include "authenticode/reading/compound_file.h"

#include <algorithm>
#include <array>

namespace authenticode {

namespace {

constexpr std::array<std::uint8_t, 8> signature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t headerFatEntries = 109;  // the first part of the DIFAT lives in the header
constexpr std::size_t miniSectorSize = 64;

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;        // ENDOFCHAIN
constexpr std::uint32_t maxRegularSector = 0xFFFFFFFA;  // MAXREGSECT

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

std::optional<CompoundFileHeader> CompoundFileHeader::read(Bytes file) {
    ByteCursor cursor(file);
    const auto magic = cursor.bytes(signature.size());
    CompoundFileHeader h{};
    if (!magic || !std::equal(signature.begin(), signature.end(), magic->begin()) || !cursor.skip(classIdSize) ||
        !cursor.fields(h.minorVersion, h.majorVersion, h.byteOrder, h.sectorShift, h.miniSectorShift, h.reserved1,
                       h.reserved2, h.directorySectorCount, h.fatSectorCount, h.firstDirectorySector,
                       h.transactionSignature, h.miniStreamCutoff, h.firstMiniFatSector, h.miniFatSectorCount,
                       h.firstDifatSector, h.difatSectorCount)) {
        return std::nullopt;
    }
    const auto difat = cursor.bytes(4 * headerFatEntries);
    if (!difat) {
        return std::nullopt;
    }
    h.difat = *difat;
    return h;
}

std::optional<CompoundFile> CompoundFile::open(Bytes file) {
    const auto header = CompoundFileHeader::read(file);
    CompoundFile compound;
    compound.file_ = file;
    if (!header || !compound.readHeader(*header) || !compound.readFatSectors(*header) ||
        !compound.readDirectory(header->firstDirectorySector)) {
        return std::nullopt;
    }
    const auto root = compound.entry(rootEntryId);
    if (!root || root->type != EntryType::Root) {
        return std::nullopt;
    }
    compound.root_ = *root;
    compound.readMiniStream(header->firstMiniFatSector);
    return compound;
}

bool CompoundFile::readHeader(const CompoundFileHeader& header) {
    const std::uint16_t major = header.majorVersion;
    const std::uint16_t shift = header.sectorShift;
    if (header.byteOrder != 0xFFFE || header.miniSectorShift != 6 || header.miniStreamCutoff != miniStreamCutoff) {
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

bool CompoundFile::readFatSectors(const CompoundFileHeader& header) {
    const std::uint32_t count = header.fatSectorCount;
    if (count == 0 || count > sectorCount_) {
        return false;
    }
    // FAT and DIFAT sectors are all distinct sectors of the file.
    SectorVisits seen(sectorCount_, 0);
    // Takes FAT sector numbers from a DIFAT list until there are enough.
    const auto takeFrom = [&](ByteCursor list) {
        std::uint32_t sector = 0;
        while (fatSectors_.size() < count && list.fields(sector)) {
            if (!seen.visitSector(sector)) {
                return false;
            }
            fatSectors_.push_back(sector);
        }
        return true;
    };
    if (!takeFrom(ByteCursor(header.difat))) {
        return false;
    }
    std::uint32_t difat = header.firstDifatSector;
    while (fatSectors_.size() < count) {
        if (!seen.visitSector(difat)) {
            return false;
        }
        const auto sector = slice(file_, (std::size_t{difat} + 1) * sectorSize_, sectorSize_);
        if (!sector) {
            return false;
        }
        // The last entry links to the next DIFAT sector.
        ByteCursor link(sector->last(4));
        if (!takeFrom(ByteCursor(sector->first(sectorSize_ - 4))) || !link.fields(difat)) {
            return false;
        }
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
    return tableEntry(fatSectors_, sector);
}

std::optional<std::uint32_t> CompoundFile::miniFatEntry(std::uint32_t miniSector) const {
    return tableEntry(miniFatSectors_, miniSector);
}

std::optional<std::uint32_t> CompoundFile::tableEntry(const std::vector<std::uint32_t>& tableSectors,
                                                      std::uint32_t index) const {
    const std::size_t perSector = sectorSize_ / 4;
    if (index / perSector >= tableSectors.size()) {
        return std::nullopt;
    }
    const std::size_t sectorOffset = (std::size_t{tableSectors[index / perSector]} + 1) * sectorSize_;
    const auto word = slice(file_, sectorOffset + 4 * (index % perSector), 4);
    if (!word) {
        return std::nullopt;
    }
    return ByteCursor(*word).u32le();
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
    // MS-CFB 2.6: the name, its length, type and colour, the three links,
    // the class id, state bits, two times, the start sector and the size.
    ByteCursor fields(*bytes);
    const auto name = fields.bytes(maxNameBytes);
    std::uint16_t nameLength = 0;
    std::uint8_t type = 0;
    std::uint8_t colour = 0;
    const auto view = [&fields](Bytes& out, std::size_t n) {
        const auto taken = fields.bytes(n);
        out = taken.value_or(Bytes());
        return taken.has_value();
    };
    DirectoryEntry entry;
    entry.id = id;
    std::uint32_t sizeLow = 0;
    std::uint32_t sizeHigh = 0;
    if (!name || !fields.fields(nameLength, type, colour, entry.left, entry.right, entry.child) ||
        !view(entry.classId, 16) || !view(entry.stateBits, 4) || !view(entry.creationTime, 8) ||
        !view(entry.modifiedTime, 8) || !fields.fields(entry.startSector) || !view(entry.sizeField, 8) ||
        !ByteCursor(entry.sizeField).fields(sizeLow, sizeHigh)) {
        return std::nullopt;
    }
    entry.type = static_cast<EntryType>(type);
    const bool nameValid = nameLength >= 2 && nameLength <= maxNameBytes && nameLength % 2 == 0;
    if ((entry.type == EntryType::Storage || entry.type == EntryType::Stream) && !nameValid) {
        return std::nullopt;
    }
    entry.name = nameValid ? name->first(nameLength - 2u) : name->first(0);
    // Old writers left the high half of a version 3 size uninitialised;
    // readers ignore it.
    entry.size = majorVersion_ == 3 ? sizeLow : (std::uint64_t{sizeHigh} << 32 | sizeLow);
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
    if (roundUpDivide(size, sectorSize_) > sectorCount_) {
        return false;
    }
    return readChain(
        start, size, sectorSize_, piece, [&](std::uint32_t sector) { return visits.visitSector(sector); },
        [&](std::uint32_t sector, std::size_t) -> std::optional<std::size_t> {
            return (std::size_t{sector} + 1) * sectorSize_;
        },
        [&](std::uint32_t sector) { return fatEntry(sector); });
}

bool CompoundFile::readMini(std::uint32_t start, std::uint64_t size, SectorVisits& visits,
                            const std::function<void(std::size_t, std::size_t)>& piece) const {
    if (size == 0) {
        return true;
    }
    if (!miniUsable_ || roundUpDivide(size, miniSectorSize) > miniSectorCount_) {
        return false;
    }
    return readChain(
        start, size, miniSectorSize, piece, [&](std::uint32_t miniSector) { return visits.visitMiniSector(miniSector); },
        [&](std::uint32_t miniSector, std::size_t length) -> std::optional<std::size_t> {
            // A mini sector lies inside the mini stream, which lies in the
            // root entry's ordinary sectors.
            const std::uint64_t position = std::uint64_t{miniSector} * miniSectorSize;
            const std::uint64_t index = position / sectorSize_;
            if (position + length > root_.size || index >= miniStreamSectors_.size()) {
                return std::nullopt;
            }
            return (std::size_t{miniStreamSectors_[index]} + 1) * sectorSize_ +
                   static_cast<std::size_t>(position % sectorSize_);
        },
        [&](std::uint32_t miniSector) { return miniFatEntry(miniSector); });
}

template <typename Visit, typename Locate, typename Next>
bool CompoundFile::readChain(std::uint32_t start, std::uint64_t size, std::size_t unit,
                             const std::function<void(std::size_t, std::size_t)>& piece, Visit visit, Locate locate,
                             Next next) const {
    Runs runs(piece);
    std::uint64_t remaining = size;
    std::uint32_t current = start;
    while (remaining > 0) {
        if (!visit(current)) {
            return false;
        }
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, unit));
        const auto offset = locate(current, length);
        if (!offset || !slice(file_, *offset, length)) {
            return false;
        }
        runs.add(*offset, length);
        remaining -= length;
        if (remaining > 0) {
            const auto following = next(current);
            if (!following) {
                return false;
            }
            current = *following;
        }
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
