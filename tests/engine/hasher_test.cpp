// Hashing a range of a file block by block: the digest is that of the
// bytes, wherever the range starts and ends; the file's pages do not stay
// resident; and a file that no longer holds the range gives no digest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature/hasher.h"

namespace {

using authenticode::Bytes;
using authenticode::Hasher;
using authenticode::MappedFile;

constexpr std::size_t mib = std::size_t{1} << 20;

// A scratch file of the given size with bytes that differ from block to
// block, removed at the end of the test.
class ScratchFile {
public:
    explicit ScratchFile(std::size_t size)
        : path_((std::filesystem::temp_directory_path() / ("trustcheck-hasher-" + std::to_string(::getpid())))
                    .string()) {
        std::vector<char> bytes(size);
        std::uint32_t state = 0x9E3779B9;
        for (char& byte : bytes) {
            state = state * 1664525 + 1013904223;
            byte = static_cast<char>(state >> 24);
        }
        // Written a page at a time, so that the page cache holds it in small
        // pages, as it usually holds a file that was copied or downloaded.
        std::ofstream out(path_, std::ios::binary);
        for (std::size_t done = 0; done < size; done += 4096) {
            out.write(bytes.data() + done, static_cast<std::streamsize>(std::min<std::size_t>(4096, size - done)));
            out.flush();
        }
    }
    ~ScratchFile() { std::filesystem::remove(path_); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::vector<std::uint8_t> hashRange(const MappedFile& file, std::size_t offset, std::size_t length) {
    Hasher hasher(EVP_sha256());
    hashFileRange(file, offset, length, hasher);
    return hasher.finish();
}

struct Range {
    std::size_t offset;
    std::size_t length;
};

void PrintTo(const Range& range, std::ostream* out) { *out << range.offset << "+" << range.length; }

class HashFileRange : public testing::TestWithParam<Range> {};

// Starts and ends on and off page and block boundaries (blocks read are
// 256 KiB; ranges under 64 KiB are hashed where they are mapped).
TEST_P(HashFileRange, DigestIsThatOfTheBytes) {
    static const ScratchFile scratch(7 * mib + 123);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    const Range range = GetParam();
    EXPECT_EQ(hashRange(*file, range.offset, range.length),
              authenticode::digestOf(EVP_sha256(), file->bytes().subspan(range.offset, range.length)));
}

INSTANTIATE_TEST_SUITE_P(Ranges, HashFileRange,
                         testing::Values(Range{0, 0}, Range{0, 1}, Range{0, 7 * mib + 123}, Range{416, 7 * mib - 293},
                                         Range{4095, 2 * mib + 2}, Range{2 * mib - 1, 2}, Range{2 * mib, 2 * mib},
                                         Range{2 * mib + 1, 5 * mib + 122}, Range{7 * mib + 122, 1},
                                         Range{7 * mib + 123, 0}, Range{100, 64 * 1024 - 1},
                                         Range{100, 64 * 1024}, Range{256 * 1024 - 1, 256 * 1024 + 2}));

// From 8 MiB on, a second thread reads 1 MiB blocks ahead into a ring of two: the
// digest must still see every block once and in order, through many turns of
// the ring and a last block of any length.
TEST(HashFileRangeReadAhead, DigestIsThatOfTheBytes) {
    const ScratchFile scratch(21 * mib + 5);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    const Range ranges[] = {
        {0, 8 * mib - 1},            // the longest range read on one thread
        {0, 8 * mib},                // the shortest read ahead, whole blocks only
        {416, 21 * mib - 411},       // to the file's last byte, a short last block
        {3 * mib + 7, 9 * mib + 1},  // a last block of one byte
    };
    for (const Range& range : ranges) {
        EXPECT_EQ(hashRange(*file, range.offset, range.length),
                  authenticode::digestOf(EVP_sha256(), file->bytes().subspan(range.offset, range.length)))
            << range.offset << "+" << range.length;
    }
}

TEST(HashFileRangeBounds, RangePastTheEndGivesNoDigest) {
    const ScratchFile scratch(4096);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    EXPECT_TRUE(hashRange(*file, 4000, 97).empty());
    EXPECT_TRUE(hashRange(*file, 4097, 0).empty());
}

// The file is cut short after it was opened, as by another process while it
// is verified: reading what it no longer holds fails, and the digest with it.
TEST(HashFileRangeBounds, FileThatShrankGivesNoDigest) {
    const ScratchFile scratch(4 * mib);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    std::filesystem::resize_file(scratch.path(), mib);
    EXPECT_TRUE(hashRange(*file, 0, 4 * mib).empty());
    EXPECT_TRUE(hashRange(*file, 2 * mib, mib).empty());
    EXPECT_FALSE(hashRange(*file, 0, mib).empty());
    std::vector<std::uint8_t> buffer(16);
    EXPECT_FALSE(file->read(4 * mib - 8, buffer)) << "past the end as opened";
    EXPECT_FALSE(file->read(SIZE_MAX - 4, buffer)) << "an offset that would overflow";
}

// The same while a second thread reads ahead: the reader stops at the short
// read and the digest is abandoned, with no wait for blocks that never come.
TEST(HashFileRangeBounds, LongRangeOfAFileThatShrankGivesNoDigest) {
    const ScratchFile scratch(12 * mib);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    std::filesystem::resize_file(scratch.path(), 9 * mib + 3);
    EXPECT_TRUE(hashRange(*file, 0, 12 * mib).empty());
    EXPECT_TRUE(hashRange(*file, mib, 10 * mib).empty());
    EXPECT_FALSE(hashRange(*file, 0, 9 * mib + 3).empty());
}

// The resident size of this process's mappings inside [start, start + size),
// from /proc/self/smaps. Advice on part of a mapping splits it in several.
std::size_t residentKiB(const void* start, std::size_t size) {
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    std::size_t total = 0;
    while (std::getline(smaps, line)) {
        std::istringstream fields(line);
        std::string field;
        fields >> field;
        if (const auto dash = field.find('-'); dash != std::string::npos && field.back() != ':') {
            const auto begin = std::stoull(field.substr(0, dash), nullptr, 16);
            inside = begin >= first && begin < first + size;
        } else if (inside && field == "Rss:") {
            std::size_t kib = 0;
            fields >> kib;
            total += kib;
        }
    }
    return total;
}

// Hashing from an offset inside a page, as the image digest of a PE does
// after the header fields it leaves out: a long range is read, not faulted
// into the mapping, so almost none of it becomes resident.
TEST(HashFileRangeMemory, HashedPagesDoNotStayResident) {
    const std::size_t size = 64 * mib;
    const ScratchFile scratch(size);
    const auto file = MappedFile::open(scratch.path());
    ASSERT_TRUE(file);
    EXPECT_FALSE(hashRange(*file, 416, size - 416).empty());
    EXPECT_LE(residentKiB(file->bytes().data(), size), 32u);
}

}  // namespace
