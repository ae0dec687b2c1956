// Builds small PE images in memory, so that tests can shape every header
// field and certificate-table entry the engine reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct SyntheticPe {
    static constexpr std::size_t peOffset = 0x80;
    static constexpr std::size_t optionalOffset = peOffset + 4 + 20;

    bool plus = true;                 // PE32+ or PE32
    std::uint32_t rvaCount = 16;      // NumberOfRvaAndSizes
    std::size_t imageSize = 0x400;    // headers and body before any table

    std::size_t checksumOffset() const { return optionalOffset + 64; }
    std::size_t directoryOffset() const { return optionalOffset + (plus ? 144 : 128); }

    // The image without a certificate table.
    std::vector<std::uint8_t> build() const;
};

void putU16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void putU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// Appends one WIN_CERTIFICATE entry (header and `content`) padded to 8 bytes.
void appendCertificate(std::vector<std::uint8_t>& table, std::uint16_t type, const std::vector<std::uint8_t>& content,
                       std::uint32_t lengthOverride = 0);

// Puts `table` at the end of `image` and points the directory at it.
std::vector<std::uint8_t> withTable(const SyntheticPe& pe, std::vector<std::uint8_t> image,
                                    const std::vector<std::uint8_t>& table);

// Writes bytes to a fresh file in the test's temporary directory and
// returns its path.
std::string writeTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes);

}  // namespace testing_support
