// No false accept: every single-byte change and every truncation of a signed
// file is verified again. A change to a byte the image digest covers must
// never verify; a change anywhere else must verify or fail with a known
// code. The counts are printed for the record.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/pe_image.h"
#include "authenticode/reason.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"

namespace {

using authenticode::Reason;

constexpr std::time_t pinnedNow = 1893456000;  // 2030-01-01

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch copy of the file that the sweep changes in place.
class ScratchCopy {
public:
    explicit ScratchCopy(const std::vector<std::uint8_t>& bytes) {
        path_ = (std::filesystem::temp_directory_path() / ("trustcheck-sweep-" + std::to_string(::getpid()))).string();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        fd_ = ::open(path_.c_str(), O_RDWR);
    }
    ~ScratchCopy() {
        ::close(fd_);
        std::filesystem::remove(path_);
    }
    void put(std::size_t offset, std::uint8_t value) const {
        ASSERT_EQ(::pwrite(fd_, &value, 1, static_cast<off_t>(offset)), 1);
    }
    void truncate(std::size_t size) const { ASSERT_EQ(::ftruncate(fd_, static_cast<off_t>(size)), 0); }
    Reason verify() const { return authenticode::verifyFileReason(path_, pinnedNow); }

private:
    std::string path_;
    int fd_ = -1;
};

struct Regions {
    std::size_t checksum;
    std::size_t directory;
    std::size_t table;

    bool hashed(std::size_t offset) const {
        return offset < table && !(offset >= checksum && offset < checksum + 4) &&
               !(offset >= directory && offset < directory + 8);
    }
};

Regions regionsOf(const std::string& path) {
    const auto file = authenticode::MappedFile::open(path);
    const auto image = authenticode::parsePeImage(file->bytes());
    return {image->checksumOffset, *image->certificateDirectoryOffset, image->certificateTableOffset};
}

TEST(TamperSweep, NoChangedOrTruncatedFileVerifies) {
    testing_support::useFixtureTrust("trusted.pem");
    for (const char* fixture : {"pe/signed64-sha256.exe", "pe/signed32-sha1.exe", "pe/trust-timestamped.exe"}) {
        SCOPED_TRACE(fixture);
        const std::string original = testing_support::fixturePath(fixture);
        const std::vector<std::uint8_t> bytes = readAll(original);
        const Regions regions = regionsOf(original);
        ScratchCopy copy(bytes);
        ASSERT_EQ(copy.verify(), Reason::Trusted);

        // Counted by result code: several reasons share a code.
        std::map<unsigned, std::size_t> hashedResults;
        std::map<unsigned, std::size_t> otherResults;
        const auto code = [](Reason reason) { return static_cast<unsigned>(authenticode::resultCodeFor(reason)); };
        for (std::size_t offset = 0; offset < bytes.size(); ++offset) {
            copy.put(offset, static_cast<std::uint8_t>(bytes[offset] ^ 0xA5));
            const Reason reason = copy.verify();
            copy.put(offset, bytes[offset]);
            if (regions.hashed(offset)) {
                ++hashedResults[code(reason)];
                ASSERT_NE(reason, Reason::Trusted) << "a change at offset " << offset << " verified";
            } else {
                ++otherResults[code(reason)];
            }
            ASSERT_LE(static_cast<int>(reason), static_cast<int>(Reason::SystemError));
        }

        std::size_t truncationsAccepted = 0;
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            copy.truncate(size);
            truncationsAccepted += copy.verify() == Reason::Trusted ? 1 : 0;
        }
        EXPECT_EQ(truncationsAccepted, 0u);

        std::printf("%s: %zu bytes, %zu truncations, none accepted\n", fixture, bytes.size(), bytes.size());
        for (const auto& [title, results] : {std::pair{"hashed", &hashedResults}, std::pair{"not hashed", &otherResults}}) {
            for (const auto& [result, count] : *results) {
                std::printf("  %-10s 0x%08X x %zu\n", title, result, count);
            }
        }
    }
}

}  // namespace
