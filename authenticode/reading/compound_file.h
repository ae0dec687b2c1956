// A reader for compound files (structured storage: MSI packages, patches,
// transforms, old Office documents). Everything in one is found through
// tables of sector numbers that the file itself supplies, so every table and
// chain is checked: sector numbers must lie inside the file, and no chain,
// FAT list or directory tree may visit anything twice. Work is bounded by
// the number of sectors and directory entries the file really has, whatever
// its fields claim.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "authenticode/reading/bytes.h"

namespace authenticode {

inline constexpr std::uint32_t noStream = 0xFFFFFFFF;  // NOSTREAM: no sibling or child
inline constexpr std::uint32_t rootEntryId = 0;

enum class EntryType : std::uint8_t {
    Unallocated = 0,
    Storage = 1,
    Stream = 2,
    Root = 5,
};

struct DirectoryEntry {
    std::uint32_t id = 0;
    Bytes name;  // UTF-16LE code units as stored, without the terminating null
    EntryType type = EntryType::Unallocated;
    std::uint32_t left = noStream;
    std::uint32_t right = noStream;
    std::uint32_t child = noStream;
    Bytes classId;       // 16 bytes
    Bytes stateBits;     // 4 bytes
    Bytes creationTime;  // 8 bytes, FILETIME
    Bytes modifiedTime;  // 8 bytes, FILETIME
    Bytes sizeField;     // the 8 bytes of the stream size as stored
    std::uint32_t startSector = 0;
    std::uint64_t size = 0;  // the stream size as read: the low 32 bits only in a version 3 file
};

// Sectors and mini sectors already read in one pass over a file's streams.
// A pass may read each at most once, which catches a chain that loops and
// streams that share sectors, and bounds a pass by the size of the file.
// Made by CompoundFile::beginPass.
class SectorVisits {
public:
    SectorVisits(std::size_t sectors, std::size_t miniSectors) : sectors_(sectors), miniSectors_(miniSectors) {}

    // False if the sector is outside the file or was already visited.
    bool visitSector(std::uint32_t sector) { return visit(sectors_, sector); }
    bool visitMiniSector(std::uint32_t miniSector) { return visit(miniSectors_, miniSector); }

private:
    static bool visit(std::vector<bool>& visited, std::uint32_t index) {
        if (index >= visited.size() || visited[index]) {
            return false;
        }
        visited[index] = true;
        return true;
    }

    std::vector<bool> sectors_;
    std::vector<bool> miniSectors_;
};

// The header's fields (MS-CFB 2.2), after the signature and the class id.
struct CompoundFileHeader {
    static constexpr std::size_t classIdSize = 16;
    std::uint16_t minorVersion;
    std::uint16_t majorVersion;
    std::uint16_t byteOrder;
    std::uint16_t sectorShift;
    std::uint16_t miniSectorShift;
    std::uint16_t reserved1;
    std::uint32_t reserved2;
    std::uint32_t directorySectorCount;
    std::uint32_t fatSectorCount;
    std::uint32_t firstDirectorySector;
    std::uint32_t transactionSignature;
    std::uint32_t miniStreamCutoff;
    std::uint32_t firstMiniFatSector;
    std::uint32_t miniFatSectorCount;
    std::uint32_t firstDifatSector;
    std::uint32_t difatSectorCount;
    Bytes difat;  // the first 109 FAT sector numbers

    // Nothing if the file is too short for a header or lacks the signature.
    static std::optional<CompoundFileHeader> read(Bytes file);
};

class CompoundFile {
public:
    // The header, the FAT (through the DIFAT), the directory's chain and the
    // root entry. Nothing if any of them cannot be read: then this is not a
    // compound file that can be opened at all. A damaged mini stream or mini
    // FAT does not stop the file from opening; it spoils only the reading of
    // small streams.
    static std::optional<CompoundFile> open(Bytes file);

    SectorVisits beginPass() const { return SectorVisits(sectorCount_, miniSectorCount_); }

    int majorVersion() const { return majorVersion_; }
    std::size_t entryCount() const { return directorySectors_.size() * (sectorSize_ / entrySize); }

    // The directory entry with this number. Nothing if it lies outside the
    // directory, or if it is a storage or stream with an impossible name
    // length.
    std::optional<DirectoryEntry> entry(std::uint32_t id) const;
    const DirectoryEntry& root() const { return root_; }

    // Calls `piece` with the file offset and length of each run of the
    // stream's bytes, in stream order (adjacent sectors come as one run).
    // False, possibly after some pieces, if the stream's chain is damaged:
    // a sector outside the file, an early end, a sector already read in this
    // pass, or a size the file cannot hold.
    bool readStream(const DirectoryEntry& stream, SectorVisits& visits,
                    const std::function<void(std::size_t offset, std::size_t length)>& piece) const;

    // The whole stream copied out; nothing if its chain is damaged.
    std::optional<std::vector<std::uint8_t>> streamBytes(const DirectoryEntry& stream) const;

    static constexpr std::size_t entrySize = 128;
    static constexpr std::uint64_t miniStreamCutoff = 4096;

private:
    CompoundFile() = default;

    bool readHeader(const CompoundFileHeader& header);
    bool readFatSectors(const CompoundFileHeader& header);
    bool readDirectory(std::uint32_t firstSector);
    void readMiniStream(std::uint32_t firstMiniFatSector);
    std::optional<std::uint32_t> fatEntry(std::uint32_t sector) const;
    std::optional<std::uint32_t> miniFatEntry(std::uint32_t miniSector) const;
    // Entry `index` of a table (the FAT or the mini FAT) kept in these
    // sectors, four bytes an entry.
    std::optional<std::uint32_t> tableEntry(const std::vector<std::uint32_t>& tableSectors, std::uint32_t index) const;
    // The sectors of a chain that ends with ENDOFCHAIN, each once.
    std::optional<std::vector<std::uint32_t>> wholeChain(std::uint32_t start) const;
    bool readRegular(std::uint32_t start, std::uint64_t size, SectorVisits& visits,
                     const std::function<void(std::size_t, std::size_t)>& piece) const;
    bool readMini(std::uint32_t start, std::uint64_t size, SectorVisits& visits,
                  const std::function<void(std::size_t, std::size_t)>& piece) const;
    // Follows a chain of sectors or mini sectors of `unit` bytes each, for
    // `size` bytes: `visit` marks each as read, `locate` gives its file
    // offset, `next` its successor.
    template <typename Visit, typename Locate, typename Next>
    bool readChain(std::uint32_t start, std::uint64_t size, std::size_t unit,
                   const std::function<void(std::size_t, std::size_t)>& piece, Visit visit, Locate locate,
                   Next next) const;

    Bytes file_;
    int majorVersion_ = 3;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;  // sectors that start inside the file
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> directorySectors_;
    DirectoryEntry root_;
    bool miniUsable_ = false;
    std::size_t miniSectorCount_ = 0;  // mini sectors that start inside the mini stream
    std::vector<std::uint32_t> miniFatSectors_;
    std::vector<std::uint32_t> miniStreamSectors_;
};

// Walks a file's directory one storage at a time. Each entry may be met
// once in a walk, so a sibling link that loops, a child that points back up
// the tree, or two storages claiming the same entry are all damage.
class DirectoryWalk {
public:
    explicit DirectoryWalk(const CompoundFile& file);

    // The entries directly inside `storage`, in the order of its tree (left
    // subtree, node, right subtree). Nothing if that tree is damaged: a link
    // outside the directory, to an entry that is neither a storage nor a
    // stream, or to an entry this walk has already met.
    std::optional<std::vector<DirectoryEntry>> children(const DirectoryEntry& storage);

private:
    const CompoundFile& file_;
    std::vector<bool> met_;
};

}  // namespace authenticode
