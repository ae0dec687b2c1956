#include "winapi/utf8.h"

namespace winapi {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

void appendUtf8(std::string& out, char32_t value) {
    auto put = [&out](unsigned bits) { out.push_back(static_cast<char>(bits)); };
    if (value < 0x80) {
        put(value);
    } else if (value < 0x800) {
        put(0xC0 | (value >> 6));
        put(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        put(0xE0 | (value >> 12));
        put(0x80 | ((value >> 6) & 0x3F));
        put(0x80 | (value & 0x3F));
    } else {
        put(0xF0 | (value >> 18));
        put(0x80 | ((value >> 12) & 0x3F));
        put(0x80 | ((value >> 6) & 0x3F));
        put(0x80 | (value & 0x3F));
    }
}

}  // namespace

Utf8Step decodeUtf8(std::span<const unsigned char> bytes) {
    const unsigned lead = bytes[0];
    if (lead < 0x80) {
        return {lead, 1, true};
    }

    // The well-formed sequences: the lead byte fixes how many continuation
    // bytes follow and narrows the range of the first one, which rules out
    // overlong forms, surrogates and values above U+10FFFF.
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

std::string utf16ToUtf8(const char16_t* text) {
    std::string out;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, replacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace winapi
