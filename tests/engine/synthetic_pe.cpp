#include "synthetic_pe.h"

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace testing_support {

void putU16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    putU16(bytes, offset, static_cast<std::uint16_t>(value));
    putU16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::vector<std::uint8_t> SyntheticPe::build() const {
    std::vector<std::uint8_t> image(imageSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    putU32(image, 0x3C, peOffset);
    image[peOffset] = 'P';
    image[peOffset + 1] = 'E';
    putU16(image, peOffset + 4, plus ? 0x8664 : 0x14C);  // Machine
    const std::size_t fixedPart = plus ? 112 : 96;
    const std::uint32_t entries = rvaCount < 16 ? rvaCount : 16;
    putU16(image, peOffset + 4 + 16, static_cast<std::uint16_t>(fixedPart + entries * 8));
    putU16(image, optionalOffset, plus ? 0x20B : 0x10B);
    putU32(image, optionalOffset + (plus ? 108 : 92), rvaCount);
    for (std::size_t i = optionalOffset + fixedPart + entries * 8; i < imageSize; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7);  // a body that is not all zeros
    }
    return image;
}

void appendCertificate(std::vector<std::uint8_t>& table, std::uint16_t type, const std::vector<std::uint8_t>& content,
                       std::uint32_t lengthOverride) {
    const std::size_t start = table.size();
    table.resize(start + 8);
    putU32(table, start, lengthOverride != 0 ? lengthOverride : static_cast<std::uint32_t>(content.size() + 8));
    putU16(table, start + 4, 0x0200);
    putU16(table, start + 6, type);
    table.insert(table.end(), content.begin(), content.end());
    table.resize((table.size() + 7) / 8 * 8, 0);
}

std::vector<std::uint8_t> withTable(const SyntheticPe& pe, std::vector<std::uint8_t> image,
                                    const std::vector<std::uint8_t>& table) {
    putU32(image, pe.directoryOffset(), static_cast<std::uint32_t>(image.size()));
    putU32(image, pe.directoryOffset() + 4, static_cast<std::uint32_t>(table.size()));
    image.insert(image.end(), table.begin(), table.end());
    return image;
}

std::string writeTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto directory = std::filesystem::temp_directory_path() / ("trustcheck-engine-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const auto path = directory / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

}  // namespace testing_support
