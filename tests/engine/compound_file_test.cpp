// Compound files built in memory: the reader on damaged tables, chains and
// directory trees; the order and content of the MSI digest; how the engine
// answers for a damaged or odd signature stream; and the digest of every
// good fixture against values osslsigncode and tools/cfbtool.py computed.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "authenticode/formats/msi_subject.h"
#include "authenticode/reading/compound_file.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Bytes;
using authenticode::CompoundFile;
using authenticode::DirectoryEntry;
using authenticode::DirectoryWalk;
using authenticode::EntryType;
using authenticode::Reason;
using testing_support::putU16;
using testing_support::putU32;
using Image = std::vector<std::uint8_t>;

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr std::uint32_t fatSector = 0xFFFFFFFD;
constexpr std::uint32_t difatSector = 0xFFFFFFFC;
constexpr std::uint32_t noStream = 0xFFFFFFFF;

Image bytesOf(const std::string& text) {
    return Image(text.begin(), text.end());
}

// Lays out a compound file: header, FAT, DIFAT, directory, mini FAT, mini
// stream, then each large stream in consecutive sectors. Each storage's
// entries hang off its child link as a chain of right siblings, in the order
// they were added. Offsets of everything a test may want to damage are kept.
class CompoundBuilder {
public:
    explicit CompoundBuilder(int major = 3) : major_(major), sectorSize_(major == 3 ? 512 : 4096) {
        entries_.push_back({u"Root Entry", EntryType::Root, {}, {}, {}});
    }

    std::uint32_t stream(std::uint32_t parent, const std::u16string& name, Image data) {
        return add(parent, {name, EntryType::Stream, std::move(data), {}, {}});
    }
    std::uint32_t storage(std::uint32_t parent, const std::u16string& name, std::uint8_t classIdByte = 0) {
        Entry entry{name, EntryType::Storage, {}, {}, {}};
        entry.classId.fill(classIdByte);
        return add(parent, std::move(entry));
    }
    void rootClassId(std::uint8_t value) { entries_[0].classId.fill(value); }

    std::size_t extraFatSectors = 0;  // unused FAT sectors, to need a DIFAT sector
    std::size_t paddingSectors = 0;   // unused sectors before the large streams

    Image build() {
        const std::size_t perFat = sectorSize_ / 4;
        const std::size_t perEntry = sectorSize_ / 128;
        Image mini;
        std::vector<std::uint32_t> miniFat;
        std::size_t largeSectors = 0;
        for (Entry& entry : entries_) {
            if (entry.type != EntryType::Stream || entry.data.empty()) {
                continue;
            }
            if (entry.data.size() < 4096) {
                entry.start = static_cast<std::uint32_t>(mini.size() / 64);
                const std::size_t count = (entry.data.size() + 63) / 64;
                for (std::size_t i = 1; i < count; ++i) {
                    miniFat.push_back(entry.start + static_cast<std::uint32_t>(i));
                }
                miniFat.push_back(endOfChain);
                mini.insert(mini.end(), entry.data.begin(), entry.data.end());
                mini.resize(count * 64 + entry.start * std::size_t{64}, 0);
            } else {
                largeSectors += sectors(entry.data.size());
            }
        }
        const std::size_t directorySectors = (entries_.size() + perEntry - 1) / perEntry;
        const std::size_t miniFatSectors = sectors(miniFat.size() * 4);
        const std::size_t miniSectors = sectors(mini.size());
        const std::size_t body = directorySectors + miniFatSectors + miniSectors + paddingSectors + largeSectors;
        std::size_t fatCount = 1;
        std::size_t difatCount = 0;
        while (true) {
            difatCount =
                fatCount + extraFatSectors > 109 ? (fatCount + extraFatSectors - 109 + perFat - 2) / (perFat - 1) : 0;
            if (fatCount * perFat >= fatCount + extraFatSectors + difatCount + body) {
                break;
            }
            ++fatCount;
        }
        fatCount += extraFatSectors;

        std::vector<std::uint32_t> fat;
        fat.insert(fat.end(), fatCount, fatSector);
        fat.insert(fat.end(), difatCount, difatSector);
        const auto chain = [&](std::size_t count) {
            const auto first = static_cast<std::uint32_t>(fat.size());
            for (std::size_t i = 1; i < count; ++i) {
                fat.push_back(first + static_cast<std::uint32_t>(i));
            }
            fat.push_back(endOfChain);
            return first;
        };
        directoryFirst_ = chain(directorySectors);
        const std::uint32_t miniFatFirst = miniFat.empty() ? endOfChain : chain(miniFatSectors);
        const std::uint32_t miniFirst = mini.empty() ? endOfChain : chain(miniSectors);
        fat.insert(fat.end(), paddingSectors, freeSector);
        for (Entry& entry : entries_) {
            if (entry.type == EntryType::Stream && entry.data.size() >= 4096) {
                entry.start = chain(sectors(entry.data.size()));
            }
        }
        const std::size_t totalSectors = fat.size();
        fat.resize(fatCount * perFat, freeSector);
        entries_[0].start = miniFirst;

        Image file((1 + totalSectors) * sectorSize_, 0);
        // Header.
        const std::array<std::uint8_t, 8> magic{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::copy(magic.begin(), magic.end(), file.begin());
        putU16(file, 0x18, 0x3E);
        putU16(file, 0x1A, static_cast<std::uint16_t>(major_));
        putU16(file, 0x1C, 0xFFFE);
        putU16(file, 0x1E, major_ == 3 ? 9 : 12);
        putU16(file, 0x20, 6);
        putU32(file, 0x28, major_ == 3 ? 0 : static_cast<std::uint32_t>(directorySectors));
        putU32(file, 0x2C, static_cast<std::uint32_t>(fatCount));
        putU32(file, 0x30, directoryFirst_);
        putU32(file, 0x38, 4096);
        putU32(file, 0x3C, miniFatFirst);
        putU32(file, 0x40, static_cast<std::uint32_t>(miniFatSectors));
        putU32(file, 0x44, difatCount > 0 ? static_cast<std::uint32_t>(fatCount) : endOfChain);
        putU32(file, 0x48, static_cast<std::uint32_t>(difatCount));
        for (std::size_t i = 0; i < 109; ++i) {
            putU32(file, 0x4C + 4 * i, i < fatCount ? static_cast<std::uint32_t>(i) : freeSector);
        }
        // DIFAT sectors: the FAT sectors after the first 109, then a link.
        for (std::size_t d = 0; d < difatCount; ++d) {
            const std::size_t base = sectorOffset(fatCount + d);
            for (std::size_t i = 0; i < perFat - 1; ++i) {
                const std::size_t index = 109 + d * (perFat - 1) + i;
                putU32(file, base + 4 * i, index < fatCount ? static_cast<std::uint32_t>(index) : freeSector);
            }
            putU32(file, base + sectorSize_ - 4,
                   d + 1 < difatCount ? static_cast<std::uint32_t>(fatCount + d + 1) : endOfChain);
        }
        for (std::size_t i = 0; i < fat.size(); ++i) {
            putU32(file, fatEntryOffset(static_cast<std::uint32_t>(i)), fat[i]);
        }
        // Directory, with unused entries after the last one.
        for (std::uint32_t id = 0; id < directorySectors * perEntry; ++id) {
            const std::size_t base = entryOffset(id);
            putU32(file, base + 0x44, noStream);
            putU32(file, base + 0x48, noStream);
            putU32(file, base + 0x4C, noStream);
            if (id >= entries_.size()) {
                continue;
            }
            const Entry& entry = entries_[id];
            for (std::size_t i = 0; i < entry.name.size(); ++i) {
                putU16(file, base + 2 * i, static_cast<std::uint16_t>(entry.name[i]));
            }
            putU16(file, base + 0x40, static_cast<std::uint16_t>(2 * entry.name.size() + 2));
            file[base + 0x42] = static_cast<std::uint8_t>(entry.type);
            file[base + 0x43] = 1;
            if (!entry.children.empty()) {
                putU32(file, base + 0x4C, entry.children.front());
            }
            std::copy(entry.classId.begin(), entry.classId.end(),
                      file.begin() + static_cast<std::ptrdiff_t>(base + 0x50));
            const bool hasData = entry.type == EntryType::Root ? !mini.empty() : !entry.data.empty();
            putU32(file, base + 0x74, hasData ? entry.start : endOfChain);
            putU32(file, base + 0x78,
                   static_cast<std::uint32_t>(entry.type == EntryType::Root ? mini.size() : entry.data.size()));
        }
        for (const Entry& entry : entries_) {
            for (std::size_t i = 0; i + 1 < entry.children.size(); ++i) {
                putU32(file, entryOffset(entry.children[i]) + 0x48, entry.children[i + 1]);
            }
        }
        for (std::size_t i = 0; i < miniFat.size(); ++i) {
            putU32(file, sectorOffset(miniFatFirst) + 4 * i, miniFat[i]);
        }
        if (!mini.empty()) {
            std::copy(mini.begin(), mini.end(), file.begin() + static_cast<std::ptrdiff_t>(sectorOffset(miniFirst)));
        }
        for (const Entry& entry : entries_) {
            if (entry.type == EntryType::Stream && entry.data.size() >= 4096) {
                std::copy(entry.data.begin(), entry.data.end(),
                          file.begin() + static_cast<std::ptrdiff_t>(sectorOffset(entry.start)));
            }
        }
        fatCount_ = fatCount;
        return file;
    }

    std::size_t sectorOffset(std::size_t sector) const { return (sector + 1) * sectorSize_; }
    std::size_t fatEntryOffset(std::uint32_t sector) const {
        // FAT sectors are the first sectors, in order.
        return sectorOffset(sector / (sectorSize_ / 4)) + (sector % (sectorSize_ / 4)) * 4;
    }
    std::size_t entryOffset(std::uint32_t id) const {
        const std::size_t perEntry = sectorSize_ / 128;
        return sectorOffset(directoryFirst_ + id / perEntry) + (id % perEntry) * 128;
    }
    std::uint32_t start(std::uint32_t id) const { return entries_[id].start; }
    std::uint32_t directoryFirst() const { return directoryFirst_; }
    std::size_t fatCount() const { return fatCount_; }
    std::size_t sectorSize() const { return sectorSize_; }

private:
    struct Entry {
        std::u16string name;
        EntryType type;
        Image data;
        std::vector<std::uint32_t> children;
        std::array<std::uint8_t, 16> classId{};
        std::uint32_t start = endOfChain;
    };

    std::uint32_t add(std::uint32_t parent, Entry entry) {
        const auto id = static_cast<std::uint32_t>(entries_.size());
        entries_.push_back(std::move(entry));
        entries_[parent].children.push_back(id);
        return id;
    }
    std::size_t sectors(std::size_t bytes) const { return (bytes + sectorSize_ - 1) / sectorSize_; }

    int major_;
    std::size_t sectorSize_;
    std::vector<Entry> entries_;
    std::uint32_t directoryFirst_ = 0;
    std::size_t fatCount_ = 0;
};

Image pattern(std::size_t size, std::uint8_t seed) {
    Image data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
    }
    return data;
}

// A small file: a mini stream, a large stream, an empty stream and a storage
// holding one of each size.
struct Sample {
    CompoundBuilder builder;
    std::uint32_t small = 0, large = 0, empty = 0, folder = 0, inner = 0, innerLarge = 0;
    Image bytes;

    explicit Sample(int major = 3) : builder(major) {
        small = builder.stream(0, u"small", pattern(300, 1));
        large = builder.stream(0, u"large", pattern(5000, 2));
        empty = builder.stream(0, u"empty", {});
        folder = builder.storage(0, u"folder", 0x11);
        inner = builder.stream(folder, u"inner", pattern(100, 3));
        innerLarge = builder.stream(folder, u"innerLarge", pattern(4096, 4));
        bytes = builder.build();
    }
};

std::optional<Image> readAll(const CompoundFile& file, const DirectoryEntry& entry) {
    return file.streamBytes(entry);
}

std::vector<std::u16string> names(const std::vector<DirectoryEntry>& entries) {
    std::vector<std::u16string> result;
    for (const auto& entry : entries) {
        std::u16string name;
        for (std::size_t i = 0; i + 1 < entry.name.size(); i += 2) {
            name += static_cast<char16_t>(entry.name[i] | (entry.name[i + 1] << 8));
        }
        result.push_back(name);
    }
    return result;
}

// ---------------------------------------------------------------------------
// Reading good files
// ---------------------------------------------------------------------------

class GoodFile : public testing::TestWithParam<int> {};

TEST_P(GoodFile, ReadsEveryStreamAndStorage) {
    Sample sample(GetParam());
    const auto file = CompoundFile::open(sample.bytes);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->majorVersion(), GetParam());
    EXPECT_EQ(file->root().type, EntryType::Root);

    DirectoryWalk walk(*file);
    const auto top = walk.children(file->root());
    ASSERT_TRUE(top.has_value());
    EXPECT_EQ(names(*top), (std::vector<std::u16string>{u"small", u"large", u"empty", u"folder"}));
    EXPECT_EQ(readAll(*file, (*top)[0]), pattern(300, 1));
    EXPECT_EQ(readAll(*file, (*top)[1]), pattern(5000, 2));
    EXPECT_EQ(readAll(*file, (*top)[2]), Image{});
    const auto inside = walk.children((*top)[3]);
    ASSERT_TRUE(inside.has_value());
    EXPECT_EQ(names(*inside), (std::vector<std::u16string>{u"inner", u"innerLarge"}));
    EXPECT_EQ(readAll(*file, (*inside)[0]), pattern(100, 3));
    EXPECT_EQ(readAll(*file, (*inside)[1]), pattern(4096, 4));
}

INSTANTIATE_TEST_SUITE_P(Versions, GoodFile, testing::Values(3, 4));

TEST(CompoundFile, FindsFatSectorsThroughTheDifat) {
    // More FAT sectors than the header lists, and a stream far enough in
    // that its FAT entries live in a FAT sector only the DIFAT names.
    CompoundBuilder builder;
    builder.extraFatSectors = 120;
    builder.paddingSectors = 128 * 112;
    const auto id = builder.stream(0, u"far", pattern(6000, 9));
    const Image bytes = builder.build();
    ASSERT_GT(builder.fatCount(), 109u);
    ASSERT_GT(builder.start(id) / 128, 109u);
    const auto file = CompoundFile::open(bytes);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(readAll(*file, *file->entry(id)), pattern(6000, 9));

    Image broken = bytes;
    putU32(broken, 0x44, 0x00100000);  // the DIFAT sector past the end
    EXPECT_FALSE(CompoundFile::open(broken).has_value());

    // A DIFAT sector whose every entry names a FAT sector and whose link
    // leads back to itself, while more FAT sectors are still to come.
    broken = bytes;
    const std::size_t difat = builder.sectorOffset(builder.fatCount());
    for (std::uint32_t i = 0; i < 127; ++i) {
        putU32(broken, difat + 4 * i, static_cast<std::uint32_t>(builder.fatCount() + 2 + i));
    }
    putU32(broken, difat + 127 * 4, static_cast<std::uint32_t>(builder.fatCount()));
    putU32(broken, 0x2C, 109 + 127 + 1);
    EXPECT_FALSE(CompoundFile::open(broken).has_value());
}

TEST(CompoundFile, IgnoresTheHighHalfOfAVersion3Size) {
    for (const int major : {3, 4}) {
        Sample sample(major);
        putU32(sample.bytes, sample.builder.entryOffset(sample.small) + 0x7C, 0x00000001);
        const auto file = CompoundFile::open(sample.bytes);
        ASSERT_TRUE(file.has_value());
        const auto read = readAll(*file, *file->entry(sample.small));
        if (major == 3) {
            EXPECT_EQ(read, pattern(300, 1));
        } else {
            EXPECT_FALSE(read.has_value()) << "a 4 GiB stream in a small version 4 file";
        }
    }
}

// ---------------------------------------------------------------------------
// Damage: what can no longer be read, and that nothing else is spoilt
// ---------------------------------------------------------------------------

enum class Spoilt { Open, RootTree, FolderTree, Small, Large, Inner, Nothing };

struct Damage {
    const char* name;
    std::function<void(Sample&)> apply;
    Spoilt expected;
};

// What of the sample can still be read, as the first thing that fails.
Spoilt firstFailure(const Image& bytes, const Sample& sample) {
    const auto file = CompoundFile::open(bytes);
    if (!file) {
        return Spoilt::Open;
    }
    DirectoryWalk walk(*file);
    const auto top = walk.children(file->root());
    if (!top) {
        return Spoilt::RootTree;
    }
    const auto folder = std::find_if(top->begin(), top->end(), [&](const auto& e) { return e.id == sample.folder; });
    if (folder == top->end() || !walk.children(*folder)) {
        return Spoilt::FolderTree;
    }
    const auto entryOf = [&](std::uint32_t id) { return *file->entry(id); };
    if (!readAll(*file, entryOf(sample.small))) {
        return Spoilt::Small;
    }
    if (!readAll(*file, entryOf(sample.large))) {
        return Spoilt::Large;
    }
    if (!readAll(*file, entryOf(sample.inner))) {
        return Spoilt::Inner;
    }
    return Spoilt::Nothing;
}

const Damage damages[] = {
    {"no_damage", [](Sample&) {}, Spoilt::Nothing},
    {"shorter_than_header", [](Sample& s) { s.bytes.resize(511); }, Spoilt::Open},
    {"not_a_compound_file", [](Sample& s) { s.bytes[0] = 'M'; }, Spoilt::Open},
    {"big_endian", [](Sample& s) { putU16(s.bytes, 0x1C, 0xFEFF); }, Spoilt::Open},
    {"version_5", [](Sample& s) { putU16(s.bytes, 0x1A, 5); }, Spoilt::Open},
    {"version_3_with_4k_sectors", [](Sample& s) { putU16(s.bytes, 0x1E, 12); }, Spoilt::Open},
    {"sector_shift_30", [](Sample& s) { putU16(s.bytes, 0x1E, 30); }, Spoilt::Open},
    {"mini_sector_shift_7", [](Sample& s) { putU16(s.bytes, 0x20, 7); }, Spoilt::Open},
    {"mini_cutoff_8k", [](Sample& s) { putU32(s.bytes, 0x38, 8192); }, Spoilt::Open},
    {"no_fat_sectors", [](Sample& s) { putU32(s.bytes, 0x2C, 0); }, Spoilt::Open},
    {"billions_of_fat_sectors", [](Sample& s) { putU32(s.bytes, 0x2C, 0x7FFFFFFF); }, Spoilt::Open},
    {"fat_sector_past_end", [](Sample& s) { putU32(s.bytes, 0x4C, 0x00100000); }, Spoilt::Open},
    {"fat_sector_listed_twice",
     [](Sample& s) {
         putU32(s.bytes, 0x2C, 2);
         putU32(s.bytes, 0x50, 0);
     },
     Spoilt::Open},
    {"directory_past_end", [](Sample& s) { putU32(s.bytes, 0x30, 0x00100000); }, Spoilt::Open},
    {"directory_chain_loops",
     [](Sample& s) {
         putU32(s.bytes, s.builder.fatEntryOffset(s.builder.directoryFirst()), s.builder.directoryFirst());
     },
     Spoilt::Open},
    {"directory_chain_into_free_sector",
     [](Sample& s) { putU32(s.bytes, s.builder.fatEntryOffset(s.builder.directoryFirst()), freeSector); },
     Spoilt::Open},
    {"root_is_a_storage", [](Sample& s) { s.bytes[s.builder.entryOffset(0) + 0x42] = 1; }, Spoilt::Open},
    {"root_child_is_the_root", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(0) + 0x4C, 0); },
     Spoilt::RootTree},
    {"sibling_loop", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.folder) + 0x48, s.small); },
     Spoilt::RootTree},
    {"left_link_to_itself", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.large) + 0x44, s.large); },
     Spoilt::RootTree},
    {"sibling_outside_directory", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.small) + 0x44, 5000); },
     Spoilt::RootTree},
    {"sibling_is_unallocated",
     [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.small) + 0x44, s.innerLarge + 1); }, Spoilt::RootTree},
    {"name_length_odd", [](Sample& s) { putU16(s.bytes, s.builder.entryOffset(s.large) + 0x40, 11); },
     Spoilt::RootTree},
    {"name_length_past_field", [](Sample& s) { putU16(s.bytes, s.builder.entryOffset(s.large) + 0x40, 66); },
     Spoilt::RootTree},
    {"storage_contains_itself", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.folder) + 0x4C, s.folder); },
     Spoilt::FolderTree},
    {"storage_claims_a_root_stream",
     [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.innerLarge) + 0x48, s.small); }, Spoilt::FolderTree},
    {"mini_chain_loops",
     [](Sample& s) {
         const auto miniFat = authenticode::CompoundFileHeader::read(s.bytes)->firstMiniFatSector;
         putU32(s.bytes, s.builder.sectorOffset(miniFat) + 4 * s.builder.start(s.small), s.builder.start(s.small));
     },
     Spoilt::Small},
    {"mini_chain_ends_early",
     [](Sample& s) {
         const auto miniFat = authenticode::CompoundFileHeader::read(s.bytes)->firstMiniFatSector;
         putU32(s.bytes, s.builder.sectorOffset(miniFat) + 4 * s.builder.start(s.small), endOfChain);
     },
     Spoilt::Small},
    {"mini_start_past_mini_stream",
     [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.small) + 0x74, 0x00100000); }, Spoilt::Small},
    {"mini_stream_past_end", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(0) + 0x74, 0x00100000); },
     Spoilt::Small},
    {"mini_fat_loops",
     [](Sample& s) {
         const auto miniFat = authenticode::CompoundFileHeader::read(s.bytes)->firstMiniFatSector;
         putU32(s.bytes, s.builder.fatEntryOffset(miniFat), miniFat);
     },
     Spoilt::Small},
    {"fat_chain_loops",
     [](Sample& s) { putU32(s.bytes, s.builder.fatEntryOffset(s.builder.start(s.large)), s.builder.start(s.large)); },
     Spoilt::Large},
    {"fat_chain_into_free_sector",
     [](Sample& s) { putU32(s.bytes, s.builder.fatEntryOffset(s.builder.start(s.large)), freeSector); }, Spoilt::Large},
    {"fat_chain_ends_early",
     [](Sample& s) { putU32(s.bytes, s.builder.fatEntryOffset(s.builder.start(s.large)), endOfChain); }, Spoilt::Large},
    {"large_start_past_end", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.large) + 0x74, 0x00100000); },
     Spoilt::Large},
    {"large_size_past_end", [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.large) + 0x78, 0x7FFFFFFF); },
     Spoilt::Large},
    {"file_cut_inside_large_stream",
     [](Sample& s) { s.bytes.resize(s.builder.sectorOffset(s.builder.start(s.large)) + 700); }, Spoilt::Large},
    {"inner_start_past_mini_stream",
     [](Sample& s) { putU32(s.bytes, s.builder.entryOffset(s.inner) + 0x74, 0x00100000); }, Spoilt::Inner},
};

class DamagedFile : public testing::TestWithParam<Damage> {};

TEST_P(DamagedFile, SpoilsOnlyWhatItTouchesAndQuickly) {
    Sample sample;
    GetParam().apply(sample);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(firstFailure(sample.bytes, sample), GetParam().expected);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedFile, testing::ValuesIn(damages),
                         [](const testing::TestParamInfo<Damage>& param) { return std::string(param.param.name); });

TEST(CompoundFile, APassReadsNoSectorTwice) {
    // Two streams sharing their sectors: each reads on its own, but one pass
    // over both (as the digest makes) refuses the second.
    Sample sample;
    putU32(sample.bytes, sample.builder.entryOffset(sample.innerLarge) + 0x74, sample.builder.start(sample.large));
    const auto file = CompoundFile::open(sample.bytes);
    ASSERT_TRUE(file.has_value());
    EXPECT_TRUE(readAll(*file, *file->entry(sample.large)));
    EXPECT_TRUE(readAll(*file, *file->entry(sample.innerLarge)));
    auto visits = file->beginPass();
    const auto ignore = [](std::size_t, std::size_t) {};
    EXPECT_TRUE(file->readStream(*file->entry(sample.large), visits, ignore));
    EXPECT_FALSE(file->readStream(*file->entry(sample.innerLarge), visits, ignore));
}

TEST(CompoundFile, JoinsAdjacentSectorsIntoOneRun) {
    Sample sample;
    const auto file = CompoundFile::open(sample.bytes);
    ASSERT_TRUE(file.has_value());
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    auto visits = file->beginPass();
    ASSERT_TRUE(file->readStream(*file->entry(sample.large), visits,
                                 [&](std::size_t offset, std::size_t length) { runs.emplace_back(offset, length); }));
    EXPECT_EQ(runs, (std::vector<std::pair<std::size_t, std::size_t>>{
                        {sample.builder.sectorOffset(sample.builder.start(sample.large)), 5000}}));
}

// ---------------------------------------------------------------------------
// The digest
// ---------------------------------------------------------------------------

std::variant<Image, Reason> digestOf(const Image& bytes) {
    const std::string path = testing_support::writeTempFile("digest.msi", bytes);
    const auto mapped = authenticode::MappedFile::open(path);
    const auto file = CompoundFile::open(mapped->bytes());
    if (!file) {
        return Reason::CompoundFileUnreadable;
    }
    return authenticode::msiDigest(*mapped, *file, EVP_sha256());
}

Image sha256(const Image& data) {
    Image out(32);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr);
    return out;
}

Image concat(std::initializer_list<Image> parts) {
    Image out;
    for (const Image& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TEST(MsiDigest, TakesEntriesInByteOrderAndClassIdsAfterEachStorage) {
    CompoundBuilder builder;
    builder.rootClassId(0xAA);
    builder.stream(0, u"b", bytesOf("[b]"));
    builder.stream(0, u"AB", bytesOf("[AB]"));
    builder.stream(0, u"A", bytesOf("[A]"));
    builder.stream(0, u"\u0100", bytesOf("[U+0100]"));  // bytes 00 01: before "A" (41 00)
    const auto folder = builder.storage(0, u"Folder", 0xBB);
    builder.stream(folder, u"z", bytesOf("[z]"));
    builder.stream(folder, u"Y", pattern(5000, 5));
    builder.stream(0,
                   u"\x05"
                   u"DigitalSignature",
                   bytesOf("left out"));
    builder.stream(0, u"empty", {});
    const Image expected = sha256(concat({bytesOf("[U+0100][A][AB]"), pattern(5000, 5), bytesOf("[z]"), Image(16, 0xBB),
                                          bytesOf("[b]"), Image(16, 0xAA)}));
    const auto digest = digestOf(builder.build());
    ASSERT_TRUE(std::holds_alternative<Image>(digest));
    EXPECT_EQ(std::get<Image>(digest), expected);
}

TEST(MsiDigest, NeedsTheMetadataDigestWhereMsiDigitalSignatureExStands) {
    CompoundBuilder builder;
    builder.stream(0, u"A", bytesOf("[A]"));
    const auto stored = builder.stream(0,
                                       u"\x05"
                                       u"MsiDigitalSignatureEx",
                                       Image(32, 0));
    Image bytes = builder.build();

    // Root class id and state bits; the stream's name, size (low 4 bytes),
    // state bits and two times.
    const Image metadata = sha256(concat({Image(20, 0), bytesOf(std::string("A\0", 2)), {3, 0, 0, 0}, Image(20, 0)}));
    EXPECT_EQ(std::get<Reason>(digestOf(bytes)), Reason::DigestMismatch) << "zeros are not the metadata digest";

    const std::size_t storedAt = builder.sectorOffset(builder.start(0)) + 64 * std::size_t{builder.start(stored)};
    std::copy(metadata.begin(), metadata.end(), bytes.begin() + static_cast<std::ptrdiff_t>(storedAt));
    const auto digest = digestOf(bytes);
    ASSERT_TRUE(std::holds_alternative<Image>(digest));
    EXPECT_EQ(std::get<Image>(digest), sha256(concat({metadata, bytesOf("[A]"), Image(16, 0)})));
}

TEST(MsiDigest, FailsOnWhatCannotBeRead) {
    Sample sample;
    Image bytes = sample.bytes;
    putU32(bytes, sample.builder.fatEntryOffset(sample.builder.start(sample.innerLarge)),
           sample.builder.start(sample.innerLarge));
    EXPECT_EQ(std::get<Reason>(digestOf(bytes)), Reason::SignedStreamsUnreadable);
    bytes = sample.bytes;
    putU32(bytes, sample.builder.entryOffset(sample.inner) + 0x48, sample.folder);
    EXPECT_EQ(std::get<Reason>(digestOf(bytes)), Reason::SignedStreamsUnreadable);
}

TEST(MsiDigest, MatchesTheIndependentlyComputedValues) {
    const auto rows = testing_support::readFixtureTable("digests-msi.tsv");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const auto mapped = authenticode::MappedFile::open(testing_support::fixturePath(row[0]));
        ASSERT_TRUE(mapped.has_value()) << row[0];
        const auto file = CompoundFile::open(mapped->bytes());
        ASSERT_TRUE(file.has_value()) << row[0];
        const auto digest = authenticode::msiDigest(*mapped, *file, EVP_get_digestbyname(row[1].c_str()));
        ASSERT_TRUE(std::holds_alternative<Image>(digest)) << row[0];
        std::string hex;
        for (const std::uint8_t b : std::get<Image>(digest)) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
        EXPECT_EQ(hex, row[2]) << row[0];
    }
}

// ---------------------------------------------------------------------------
// The signature stream
// ---------------------------------------------------------------------------

struct SignatureCase {
    const char* name;
    std::function<Image()> make;
    Reason expected;
};

Image withSignature(const Image& content, bool asStorage = false) {
    CompoundBuilder builder;
    builder.stream(0, u"content", bytesOf("anything"));
    if (asStorage) {
        builder.storage(0,
                        u"\x05"
                        u"DigitalSignature");
    } else {
        builder.stream(0,
                       u"\x05"
                       u"DigitalSignature",
                       content);
    }
    return builder.build();
}

Image cut(Image bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// A DER SEQUENCE that OpenSSL cannot read as PKCS#7.
const Image junkSequence{0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07};

const SignatureCase signatureCases[] = {
    {"no_signature_stream", [] { return Sample().bytes; }, Reason::NoSignature},
    {"signature_is_a_storage", [] { return withSignature({}, true); }, Reason::NoSignature},
    {"empty_signature_stream", [] { return withSignature({}); }, Reason::NoSignature},
    {"not_der", [] { return withSignature(bytesOf("not a signature")); }, Reason::MalformedMessage},
    {"junk_sequence", [] { return withSignature(junkSequence); }, Reason::MalformedMessage},
    {"junk_sequence_then_zeros",
     [] {
         return withSignature(concat({junkSequence, Image(8, 0)}));
     },
     Reason::MalformedMessage},
    {"junk_sequence_then_data",
     [] {
         return withSignature(concat({junkSequence, Image{0, 1}}));
     },
     Reason::HiddenDataInSignature},
    {"truncated_header", [] { return cut(Sample().bytes, 300); }, Reason::CompoundFileUnreadable},
    {"only_the_magic", [] { return cut(Sample().bytes, 8); }, Reason::CompoundFileUnreadable},
};

class SignatureStream : public testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureStream, GivesItsReason) {
    const std::string path = testing_support::writeTempFile(std::string(GetParam().name) + ".msi", GetParam().make());
    EXPECT_EQ(authenticode::verifyFileReason(path, 1700000000), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureStream, testing::ValuesIn(signatureCases),
                         [](const testing::TestParamInfo<SignatureCase>& param) {
                             return std::string(param.param.name);
                         });

// ---------------------------------------------------------------------------
// The damaged fixtures
// ---------------------------------------------------------------------------

// The first stage at which the reader gives up on a file. The codes these
// stages lead to are the project's best knowledge and are asserted, with that
// note, in tests/fixtures/expected-msi.tsv; what is checked here is that the
// reader refuses each damaged fixture where its note says it does.
enum class Refusal { None, Open, RootDirectory, SignatureStream, SignedStreams };

bool isSignatureStream(const DirectoryEntry& entry) {
    const std::u16string name = u"\x05"
                                u"DigitalSignature";
    if (entry.name.size() != 2 * name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (entry.name[2 * i] != (name[i] & 0xFF) || entry.name[2 * i + 1] != (name[i] >> 8)) {
            return false;
        }
    }
    return true;
}

Refusal firstRefusal(const std::string& fixture) {
    const auto mapped = authenticode::MappedFile::open(testing_support::fixturePath(fixture));
    if (!mapped) {
        ADD_FAILURE() << fixture << " does not open";
        return Refusal::Open;
    }
    const auto file = CompoundFile::open(mapped->bytes());
    if (!file) {
        return Refusal::Open;
    }
    DirectoryWalk walk(*file);
    const auto entries = walk.children(file->root());
    if (!entries) {
        return Refusal::RootDirectory;
    }
    const auto signature = std::find_if(entries->begin(), entries->end(), isSignatureStream);
    if (signature == entries->end() || !file->streamBytes(*signature)) {
        return Refusal::SignatureStream;
    }
    const auto digest = authenticode::msiDigest(*mapped, *file, EVP_sha256());
    return std::holds_alternative<Reason>(digest) ? Refusal::SignedStreams : Refusal::None;
}

TEST(DamagedFixtures, TheReaderRefusesWhereTheTableSays) {
    const struct {
        const char* fixture;
        Refusal expected;
        const char* note;
    } rows[] = {
        {"msi/signed.msi", Refusal::None, "the undamaged file reads to the end"},
        {"msi/truncated-header.msi", Refusal::Open, "no whole header: not a compound file at all"},
        {"msi/directory-loop.msi", Refusal::Open, "the directory's chain loops: not openable"},
        {"msi/sibling-loop.msi", Refusal::RootDirectory, "opens, but the root's tree loops"},
        {"msi/signature-sector-past-end.msi", Refusal::SignatureStream,
         "the tree reads, the signature stream's sectors do not"},
        {"msi/fat-loop.msi", Refusal::SignedStreams, "the signature reads, a signed stream's chain loops"},
        {"msi/sector-past-end.msi", Refusal::SignedStreams, "a signed stream starts past the end"},
        {"msi/stream-size-past-eof.msi", Refusal::SignedStreams, "a signed stream claims more than the file"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(firstRefusal(row.fixture), row.expected) << row.fixture << ": " << row.note;
    }
}

}  // namespace
