// Bounds-checked access to file bytes. Every read names an offset and a
// length, both checked against the view; a read that does not fit fails
// cleanly instead of touching memory outside the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace authenticode {

using Bytes = std::span<const std::uint8_t>;

// a + b, or nothing if the sum overflows.
inline std::optional<std::size_t> checkedAdd(std::size_t a, std::size_t b) {
    if (b > SIZE_MAX - a) {
        return std::nullopt;
    }
    return a + b;
}

// The `length` bytes at `offset`, or nothing if they are not all inside.
inline std::optional<Bytes> slice(Bytes data, std::size_t offset, std::size_t length) {
    if (offset > data.size() || length > data.size() - offset) {
        return std::nullopt;
    }
    return data.subspan(offset, length);
}

// Everything from `offset` to the end, or nothing if `offset` is past it.
inline std::optional<Bytes> sliceFrom(Bytes data, std::size_t offset) {
    if (offset > data.size()) {
        return std::nullopt;
    }
    return data.subspan(offset);
}

inline std::optional<std::uint16_t> readU16(Bytes data, std::size_t offset) {
    const auto field = slice(data, offset, 2);
    if (!field) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>((*field)[0] | ((*field)[1] << 8));
}

inline std::optional<std::uint32_t> readU32(Bytes data, std::size_t offset) {
    const auto field = slice(data, offset, 4);
    if (!field) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>((*field)[0]) | (static_cast<std::uint32_t>((*field)[1]) << 8) |
           (static_cast<std::uint32_t>((*field)[2]) << 16) | (static_cast<std::uint32_t>((*field)[3]) << 24);
}

inline bool allZero(Bytes data) {
    return std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace authenticode
