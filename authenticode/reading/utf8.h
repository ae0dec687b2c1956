// UTF-8 decoding and UTF-16 encoding, one code point at a time. Header-only
// and free of everything else in the engine, so that the script reader and
// the Windows stand-ins decode ill-formed text the same way from one place
// without the engine depending on the stand-ins.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace authenticode {

inline constexpr char32_t replacementCharacter = 0xFFFD;

// One step of decoding: a scalar value, or U+FFFD standing for a maximal
// ill-formed subpart, and the number of bytes it consumed (at least 1).
struct Utf8Step {
    char32_t value;
    std::size_t length;
    bool wellFormed;
};

// Decodes the sequence that starts at the front of `bytes` (which must not be
// empty), following the Unicode practice for ill-formed input: the longest
// prefix of a well-formed sequence is replaced by one U+FFFD, and decoding
// resumes at the byte that broke it.
inline Utf8Step decodeUtf8Step(std::span<const std::uint8_t> bytes) {
    const unsigned lead = bytes[0];
    if (lead < 0x80) {
        return {lead, 1, true};
    }

    // The lead byte fixes how many continuation bytes follow and narrows the
    // range of the first one, which rules out overlong forms, surrogates and
    // values above U+10FFFF.
    std::size_t continuations = 0;
    char32_t value = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {replacementCharacter, 1, false};
    }

    std::size_t length = 1;
    for (std::size_t i = 0; i < continuations; ++i) {
        if (length >= bytes.size()) {
            return {replacementCharacter, length, false};
        }
        const unsigned next = bytes[length];
        if (next < low || next > high) {
            return {replacementCharacter, length, false};
        }
        value = (value << 6) | (next & 0x3F);
        ++length;
        low = 0x80;
        high = 0xBF;
    }
    return {value, length, true};
}

// A scalar value as UTF-16: one code unit, or a surrogate pair above U+FFFF.
struct Utf16Units {
    std::array<char16_t, 2> units;
    std::size_t count;
};

inline Utf16Units encodeUtf16(char32_t value) {
    if (value < 0x10000) {
        return {{static_cast<char16_t>(value), 0}, 1};
    }
    const char32_t offset = value - 0x10000;
    return {{static_cast<char16_t>(0xD800 + (offset >> 10)), static_cast<char16_t>(0xDC00 + (offset & 0x3FF))}, 2};
}

}  // namespace authenticode
