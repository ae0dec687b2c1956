// Walks text as UTF-8: each well-formed character, or each byte that does not
// start one, goes to `visit` with whether it was well formed.
#pragma once

#include <cstddef>
#include <string_view>

namespace inspect {

// The length of the well-formed UTF-8 character at the start of `text`, or 0.
inline std::size_t utf8Length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (first < 0x80) {
        return 1;
    } else if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = first == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

template <typename Visit>
void forEachUtf8(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t length = utf8Length(text);
        visit(text.substr(0, length == 0 ? 1 : length), length != 0);
        text.remove_prefix(length == 0 ? 1 : length);
    }
}

}  // namespace inspect
