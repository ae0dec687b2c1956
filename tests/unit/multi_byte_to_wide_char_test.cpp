// MultiByteToWideChar for CP_UTF8: decoding (ill-formed input follows the
// Unicode "maximal subpart" practice) and the rules for the output buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

constexpr WCHAR canary = 0xCCCC;

// Converts with the explicit byte count, checking that the size query and
// the conversion agree.
std::u16string convert(std::string_view bytes) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(size), canary);
    const int written =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), size);
    EXPECT_EQ(written, size);
    return out;
}

struct Case {
    const char* name;
    std::string_view utf8;
    std::u16string_view utf16;
};

// clang-format off
const Case cases[] = {
    {"ascii", "abc", u"abc"},
    {"two bytes", "\xC3\xA9", u"\u00E9"},
    {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
    {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
    {"first after surrogates", "\xEE\x80\x80", u"\uE000"},
    {"U+FFFF", "\xEF\xBF\xBF", u"\uFFFF"},
    {"four bytes to a pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
    {"U+10000", "\xF0\x90\x80\x80", u"\xD800\xDC00"},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    {"embedded NUL", "a\0b"sv, u"a\0b"sv},
    {"overlong two bytes", "\xC0\x80", u"\xFFFD\xFFFD"},
    {"overlong C1", "\xC1\xBF", u"\xFFFD\xFFFD"},
    {"overlong three bytes", "\xE0\x80\x80", u"\xFFFD\xFFFD\xFFFD"},
    {"overlong three bytes, high", "\xE0\x9F\xBF", u"\xFFFD\xFFFD\xFFFD"},
    {"overlong four bytes", "\xF0\x8F\xBF\xBF", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"high surrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},
    {"low surrogate", "\xED\xBF\xBF", u"\xFFFD\xFFFD\xFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"lead F5", "\xF5\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"lead FF", "a\xFF" "b", u"a\xFFFD" "b"},
    {"lone continuation", "\x80", u"\xFFFD"},
    {"continuations between ASCII", "a\xBF\x80" "b", u"a\xFFFD\xFFFD" "b"},
    {"truncated two at end", "a\xC3", u"a\xFFFD"},
    {"truncated three at end", "a\xE2\x82", u"a\xFFFD"},
    {"truncated four at end", "\xF0\x9F\x98", u"\xFFFD"},
    {"truncated three in middle", "\xE2\x82" "b", u"\xFFFD" "b"},
    {"truncated four before two", "\xF0\x9F\xC3\xA9", u"\xFFFD\u00E9"},
    {"truncated before complete", "\xE2\x82\xE2\x82\xAC", u"\xFFFD\u20AC"},
    {"Latin-1 byte", "caf\xE9", u"caf\xFFFD"},
    // The worked example of the Unicode Standard, chapter 3 (U+FFFD substitution).
    {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     u"\x0061\xFFFD\xFFFD\xFFFD\x0062\xFFFD\x0063\xFFFD\xFFFD\x0064"},
};
// clang-format on

TEST(MultiByteToWideChar, DecodesWellAndIllFormedInput) {
    for (const Case& c : cases) {
        EXPECT_EQ(convert(c.utf8), c.utf16) << c.name;
    }
}

TEST(MultiByteToWideChar, StrictModeFailsOnlyOnIllFormedInput) {
    for (const Case& c : cases) {
        const bool wellFormed = c.utf16.find(u'\xFFFD') == std::u16string_view::npos;
        std::vector<WCHAR> out(16, canary);
        const int size = static_cast<int>(c.utf8.size());
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.utf8.data(), size, nullptr, 0),
                  wellFormed ? static_cast<int>(c.utf16.size()) : 0)
            << c.name;
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.utf8.data(), size, out.data(), 16),
                  wellFormed ? static_cast<int>(c.utf16.size()) : 0)
            << c.name;
    }
}

TEST(MultiByteToWideChar, HonoursTheCountAndWritesNoTerminator) {
    std::vector<WCHAR> out(8, canary);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdef", 3, out.data(), 8), 3);
    EXPECT_EQ(std::u16string(out.begin(), out.begin() + 4), u"abc\xCCCC");

    // A count that ends inside a sequence leaves it truncated.
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", 1, out.data(), 8), 1);
    EXPECT_EQ(out[0], u'\xFFFD');
}

TEST(MultiByteToWideChar, MinusOneIncludesTheTerminator) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, nullptr, 0), 3);
    std::vector<WCHAR> out(5, canary);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, out.data(), 5), 3);
    EXPECT_EQ(std::u16string(out.begin(), out.end()), std::u16string(u"a\u00E9\0\xCCCC\xCCCC", 5));
}

TEST(MultiByteToWideChar, TooSmallABufferFailsWithoutWritingPastIt) {
    struct Small {
        std::string_view utf8;
        int room;
    };
    for (const Small& s : {Small{"abcd", 3}, Small{"\xF0\x9F\x98\x80", 1}, Small{"a\xF0\x9F\x98\x80", 2}}) {
        std::vector<WCHAR> out(8, canary);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, s.utf8.data(), static_cast<int>(s.utf8.size()), out.data(), s.room),
                  0)
            << s.utf8;
        for (std::size_t i = static_cast<std::size_t>(s.room); i < out.size(); ++i) {
            EXPECT_EQ(out[i], canary) << s.utf8 << " unit " << i;
        }
    }
    // Exactly enough room succeeds.
    std::vector<WCHAR> out(3, canary);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, out.data(), 3), 3);
}

TEST(MultiByteToWideChar, ZeroBytesGiveZero) {
    std::vector<WCHAR> out(4, canary);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, out.data(), 4), 0);
    EXPECT_EQ(out[0], canary);
}

}  // namespace
