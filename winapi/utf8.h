// UTF-8 <-> UTF-16 conversion as the Windows stand-ins need it.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace winapi {

// One step of decoding: a scalar value, or U+FFFD standing for a maximal
// ill-formed subpart, and the number of bytes it consumed (at least 1).
struct Utf8Step {
    char32_t value;
    std::size_t length;
    bool wellFormed;
};

// Decodes the sequence that starts at the front of `bytes` (which must not be
// empty), following the Unicode practice for ill-formed input: the longest
// prefix of a well-formed sequence is replaced by one U+FFFD.
Utf8Step decodeUtf8(std::span<const unsigned char> bytes);

// Converts a NUL-terminated UTF-16 string to UTF-8. Unpaired surrogates
// become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);

}  // namespace winapi
