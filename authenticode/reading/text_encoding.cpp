#include "authenticode/reading/text_encoding.h"

#include <algorithm>
#include <array>
#include <optional>

#include "authenticode/reading/utf8.h"

namespace authenticode {

namespace {

// Windows-1252 from 0x80 to 0x9F; the rest of the code page is Latin-1.
// The five unassigned bytes (81, 8D, 8F, 90, 9D) keep their value, as the
// system's conversion does.
constexpr std::array<char16_t, 32> windows1252High{0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::optional<TextLayout> byteOrderMark(Bytes file) {
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE) {
        return TextLayout{TextEncoding::Utf16Le, 2};
    }
    if (file.size() >= 2 && file[0] == 0xFE && file[1] == 0xFF) {
        return TextLayout{TextEncoding::Utf16Be, 2};
    }
    if (file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF) {
        return TextLayout{TextEncoding::Utf8, 3};
    }
    return std::nullopt;
}

// Collects UTF-16LE bytes and hands them on in blocks.
class Utf16Writer {
public:
    explicit Utf16Writer(const Utf16Sink& sink) : sink_(sink) {}
    Utf16Writer(const Utf16Writer&) = delete;
    Utf16Writer& operator=(const Utf16Writer&) = delete;

    void unit(char16_t value) {
        if (used_ + 2 > buffer_.size()) {
            flush();
        }
        buffer_[used_++] = static_cast<std::uint8_t>(value & 0xFF);
        buffer_[used_++] = static_cast<std::uint8_t>(value >> 8);
        ++units_;
    }

    void codePoint(char32_t value) {
        const Utf16Units encoded = encodeUtf16(value);
        for (std::size_t i = 0; i < encoded.count; ++i) {
            unit(encoded.units[i]);
        }
    }

    // Text that already is UTF-16LE goes straight through.
    void raw(Bytes utf16le) {
        flush();
        if (!utf16le.empty()) {
            sink_(utf16le);
        }
        units_ += utf16le.size() / 2;
    }

    void flush() {
        if (used_ > 0) {
            sink_(Bytes(buffer_.data(), used_));
            used_ = 0;
        }
    }

    std::size_t units() const { return units_; }

private:
    const Utf16Sink& sink_;
    std::array<std::uint8_t, 32 * 1024> buffer_{};
    std::size_t used_ = 0;
    std::size_t units_ = 0;
};

// UTF-8 to UTF-16; ill-formed input decodes as utf8.h describes.
void decodeUtf8(Bytes text, Utf16Writer& out) {
    while (!text.empty()) {
        const Utf8Step step = decodeUtf8Step(text);
        out.codePoint(step.value);
        text = text.subspan(step.length);
    }
}

void decodeUtf16Be(Bytes text, Utf16Writer& out) {
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.unit(static_cast<char16_t>((text[i] << 8) | text[i + 1]));
    }
}

void decodeWindows1252(Bytes text, Utf16Writer& out) {
    for (const std::uint8_t byte : text) {
        out.unit(byte >= 0x80 && byte <= 0x9F ? windows1252High[byte - 0x80] : static_cast<char16_t>(byte));
    }
}

}  // namespace

TextLayout powerShellTextLayout(Bytes file) {
    return byteOrderMark(file).value_or(TextLayout{TextEncoding::Ansi, 0});
}

TextLayout windowsScriptTextLayout(Bytes file) {
    return byteOrderMark(file).value_or(TextLayout{TextEncoding::Ansi, 0});
}

std::size_t decodeToUtf16Le(Bytes text, TextEncoding encoding, const Utf16Sink& sink) {
    Utf16Writer out(sink);
    switch (encoding) {
        case TextEncoding::Utf8: decodeUtf8(text, out); break;
        case TextEncoding::Utf16Le: out.raw(text.first(text.size() & ~std::size_t{1})); break;
        case TextEncoding::Utf16Be: decodeUtf16Be(text, out); break;
        case TextEncoding::Ansi: decodeWindows1252(text, out); break;
    }
    if ((encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be) && text.size() % 2 != 0) {
        out.codePoint(replacementCharacter);
    }
    out.flush();
    return out.units();
}

std::size_t utf16Length(Bytes text, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be: return (text.size() + 1) / 2;
        case TextEncoding::Ansi: return text.size();
        case TextEncoding::Utf8: break;
    }
    return decodeToUtf16Le(text, encoding, [](Bytes) {});
}

}  // namespace authenticode
