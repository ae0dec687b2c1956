#include "authenticode/reading/pe_image.h"

namespace authenticode {

namespace {

constexpr std::size_t dosHeaderSize = 64;
constexpr std::size_t lfanewOffset = 0x3C;
constexpr std::size_t coffHeaderSize = 20;
constexpr std::size_t sizeOfOptionalHeaderOffset = 16;  // inside the COFF header

constexpr std::uint16_t pe32Magic = 0x10B;
constexpr std::uint16_t pe32PlusMagic = 0x20B;

constexpr std::size_t checksumFieldOffset = 64;  // inside the optional header, both kinds
constexpr std::size_t directoryEntrySize = 8;
constexpr std::size_t certificateDirectoryIndex = 4;

struct OptionalHeaderLayout {
    std::size_t rvaCountOffset;   // NumberOfRvaAndSizes
    std::size_t directoriesOffset;
};

}  // namespace

std::optional<PeImage> parsePeImage(Bytes file) {
    if (file.size() < dosHeaderSize || file[0] != 'M' || file[1] != 'Z') {
        return std::nullopt;
    }

    const auto peOffset = readU32(file, lfanewOffset);
    const auto signature = peOffset ? slice(file, *peOffset, 4) : std::nullopt;
    if (!signature || (*signature)[0] != 'P' || (*signature)[1] != 'E' || (*signature)[2] != 0 ||
        (*signature)[3] != 0) {
        return std::nullopt;
    }

    const std::size_t coffOffset = *peOffset + 4;  // cannot overflow: the signature fitted
    const auto coffHeader = slice(file, coffOffset, coffHeaderSize);
    if (!coffHeader) {
        return std::nullopt;
    }
    const std::uint16_t optionalHeaderSize = *readU16(*coffHeader, sizeOfOptionalHeaderOffset);
    const std::size_t optionalOffset = coffOffset + coffHeaderSize;
    const auto optionalHeader = slice(file, optionalOffset, optionalHeaderSize);
    const auto magic = optionalHeader ? readU16(*optionalHeader, 0) : std::nullopt;
    if (!magic) {
        return std::nullopt;
    }

    OptionalHeaderLayout layout{};
    if (*magic == pe32Magic) {
        layout = {92, 96};
    } else if (*magic == pe32PlusMagic) {
        layout = {108, 112};
    } else {
        return std::nullopt;
    }
    // The fixed part of the optional header, through NumberOfRvaAndSizes,
    // must be present; the directories that follow are counted below.
    if (optionalHeader->size() < layout.directoriesOffset) {
        return std::nullopt;
    }

    PeImage image{};
    image.checksumOffset = optionalOffset + checksumFieldOffset;
    image.headersEnd = optionalOffset + optionalHeaderSize;

    // The directory has NumberOfRvaAndSizes entries, but never more than the
    // optional header holds.
    const std::uint32_t rvaCount = *readU32(*optionalHeader, layout.rvaCountOffset);
    const std::size_t certificateEntry =
        layout.directoriesOffset + certificateDirectoryIndex * directoryEntrySize;
    if (rvaCount > certificateDirectoryIndex) {
        if (const auto entry = slice(*optionalHeader, certificateEntry, directoryEntrySize)) {
            image.certificateDirectoryOffset = optionalOffset + certificateEntry;
            image.certificateTableOffset = *readU32(*entry, 0);
            image.certificateTableSize = *readU32(*entry, 4);
        }
    }
    return image;
}

}  // namespace authenticode
