// The parts of a PE image's headers that locate and cover its signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "authenticode/reading/bytes.h"

namespace authenticode {

struct PeImage {
    // File offsets of the two header fields that the image digest skips.
    std::size_t checksumOffset;                             // 4 bytes
    std::optional<std::size_t> certificateDirectoryOffset;  // 8 bytes; absent if the directory has no entry 4
    // First byte after the optional header.
    std::size_t headersEnd;
    // The certificate table as the directory names it: a file offset (not an
    // RVA) and a size. Both zero when there is none.
    std::uint32_t certificateTableOffset;
    std::uint32_t certificateTableSize;
};

// Parses the headers of a PE32 or PE32+ image of any machine type. Nothing if
// the bytes are not one: no "MZ", no "PE\0\0" where e_lfanew points, an
// unknown optional header magic, or headers cut short by the end of the file.
std::optional<PeImage> parsePeImage(Bytes file);

}  // namespace authenticode
