// Scripts: how their text is decoded, where the signature block is, what the
// block's lines carry, and exactly which text is signed. Synthetic files,
// plus the fixtures' digests recomputed by tools/scripttool.py.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <chrono>
#include <string>

#include "authenticode/formats/script_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/text_encoding.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using authenticode::ScriptKind;
using authenticode::TextEncoding;
using Data = std::vector<std::uint8_t>;

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

Data utf16le(std::u16string_view text, bool mark = true) {
    Data out;
    if (mark) {
        out = {0xFF, 0xFE};
    }
    for (const char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::u16string decoded(const Data& text, TextEncoding encoding) {
    std::u16string out;
    authenticode::decodeToUtf16Le(text, encoding, [&](authenticode::Bytes block) {
        for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
            out.push_back(static_cast<char16_t>(block[i] | (block[i + 1] << 8)));
        }
    });
    return out;
}

// The byte order mark decides; without one every script is read in the ANSI
// code page, UTF-8 or not.
TEST(ScriptText, EncodingFollowsTheByteOrderMarkElseAnsi) {
    struct Case {
        const char* name;
        Data file;
        TextEncoding powerShell;
        TextEncoding windowsScript;
        std::size_t mark;
    };
    const std::string ascii32(32, 'a');
    const Case cases[] = {
        {"UTF-16LE mark", {0xFF, 0xFE, 'a', 0}, TextEncoding::Utf16Le, TextEncoding::Utf16Le, 2},
        {"UTF-16BE mark", {0xFE, 0xFF, 0, 'a'}, TextEncoding::Utf16Be, TextEncoding::Utf16Be, 2},
        {"UTF-8 mark", {0xEF, 0xBB, 0xBF, 'a'}, TextEncoding::Utf8, TextEncoding::Utf8, 3},
        {"plain ASCII", bytesOf("Write-Host 1"), TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"UTF-8 early",
         bytesOf("# Gr\xC3\xBC\xC3\x9F"
                 "e"),
         TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"Windows-1252 early", bytesOf("# Caf\xE9 x"), TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"UTF-8 only after 32 bytes", bytesOf(ascii32 + "\xC3\xBC"), TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"sequence cut by the 32-byte window", bytesOf(std::string(31, 'a') + "\xC3\xBC"), TextEncoding::Ansi,
         TextEncoding::Ansi, 0},
        {"lone continuation byte",
         bytesOf("a\x80"
                 "b\xC3\xBC"),
         TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"overlong shape", bytesOf("a\xC0\x80"), TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"empty", {}, TextEncoding::Ansi, TextEncoding::Ansi, 0},
        {"half a UTF-16 mark", {0xFF}, TextEncoding::Ansi, TextEncoding::Ansi, 0},
    };
    for (const Case& c : cases) {
        const auto powerShell = authenticode::powerShellTextLayout(c.file);
        const auto windowsScript = authenticode::windowsScriptTextLayout(c.file);
        EXPECT_EQ(powerShell.encoding, c.powerShell) << c.name;
        EXPECT_EQ(windowsScript.encoding, c.windowsScript) << c.name;
        EXPECT_EQ(powerShell.byteOrderMarkSize, c.mark) << c.name;
        EXPECT_EQ(windowsScript.byteOrderMarkSize, c.mark) << c.name;
    }
}

TEST(ScriptText, DecodesTheWayTheSystemDoes) {
    struct Case {
        const char* name;
        Data text;
        TextEncoding encoding;
        std::u16string expected;
    };
    const Case cases[] = {
        {"UTF-8 two, three and four bytes", bytesOf("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), TextEncoding::Utf8,
         u"\u00E9\u20AC\U0001F600"},
        {"UTF-8 mark is a character", {0xEF, 0xBB, 0xBF, 'a'}, TextEncoding::Utf8, u"\uFEFFa"},
        {"truncated sequence, then ASCII",
         bytesOf("\xE2\x82"
                 "a"),
         TextEncoding::Utf8, u"\uFFFDa"},
        {"lone continuation bytes", bytesOf("\x80\x80"), TextEncoding::Utf8, u"\uFFFD\uFFFD"},
        {"overlong form", bytesOf("\xC0\xAF"), TextEncoding::Utf8, u"\uFFFD\uFFFD"},
        {"encoded surrogate", bytesOf("\xED\xA0\x80"), TextEncoding::Utf8, u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", bytesOf("\xF4\x90\x80\x80"), TextEncoding::Utf8, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"sequence cut at the end", bytesOf("a\xF0\x9F\x98"), TextEncoding::Utf8, u"a\uFFFD"},
        {"Windows-1252 high half",
         {0x80, 0x81, 0x8D, 0x9F, 0xA9, 0xE9},
         TextEncoding::Ansi,
         u"\u20AC\u0081\u008D\u0178\u00A9\u00E9"},
        {"UTF-16BE", {0xFE, 0xFF, 0x00, 'a', 0xD8, 0x3D, 0xDE, 0x00}, TextEncoding::Utf16Be, u"\uFEFFa\U0001F600"},
        {"UTF-16LE odd last byte", {'a', 0, 'b'}, TextEncoding::Utf16Le, u"a\uFFFD"},
        {"UTF-16BE odd last byte", {0, 'a', 'b'}, TextEncoding::Utf16Be, u"a\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decoded(c.text, c.encoding), c.expected) << c.name;
        EXPECT_EQ(authenticode::utf16Length(c.text, c.encoding), c.expected.size()) << c.name;
    }
}

// A signature block around `payload` (base64 text), in ASCII.
std::string powerShellBlock(const std::string& payload) {
    return "\r\n# SIG # Begin signature block\r\n# " + payload + "\r\n# SIG # End signature block\r\n";
}

std::string jScriptBlock(const std::string& payload) {
    return "\r\n// SIG // Begin signature block\r\n// SIG // " + payload + "\r\n// SIG // End signature block\r\n";
}

TEST(ScriptBlock, IsFoundOnlyWhenWhole) {
    struct Case {
        const char* name;
        ScriptKind kind;
        Data file;
        bool found;
    };
    const std::string text = "Write-Host 1";
    const std::u16string wide =
        u"Write-Host 1\r\n# SIG # Begin signature block\r\n# AAAA\r\n# SIG # End signature block\r\n";
    const Case cases[] = {
        {"PowerShell", ScriptKind::PowerShell, bytesOf(text + powerShellBlock("AAAA")), true},
        {"no block", ScriptKind::PowerShell, bytesOf(text), false},
        {"begin line only", ScriptKind::PowerShell, bytesOf(text + "\r\n# SIG # Begin signature block\r\n# AAAA"),
         false},
        {"begin line not after a line break", ScriptKind::PowerShell,
         bytesOf("# SIG # Begin signature block\r\n# AAAA\r\n# SIG # End signature block\r\n"), false},
        {"end line without a line break", ScriptKind::PowerShell,
         bytesOf(text + "\r\n# SIG # Begin signature block\r\n# AAAA\r\n# SIG # End signature block"), false},
        {"end line, LF CR", ScriptKind::PowerShell,
         bytesOf(text + "\r\n# SIG # Begin signature block\r\n# AAAA\r\n# SIG # End signature block\n\r"), true},
        {"end line, three line breaks", ScriptKind::PowerShell, bytesOf(text + powerShellBlock("AAAA") + "\n"), false},
        {"text after the block", ScriptKind::PowerShell, bytesOf(text + powerShellBlock("AAAA") + "x\r\n"), false},
        {"UTF-16LE", ScriptKind::PowerShell, utf16le(wide), true},
        // The same text one byte off: the markers no longer sit on code units.
        {"UTF-16LE misaligned", ScriptKind::PowerShell,
         [&] {
             Data file = utf16le(wide, true);
             file.insert(file.begin() + 2, 'x');
             return file;
         }(),
         false},
        {"JScript", ScriptKind::JScript, bytesOf(text + jScriptBlock("AAAA")), true},
        {"JScript, text after the block", ScriptKind::JScript, bytesOf(text + jScriptBlock("AAAA") + "x();"), true},
        {"JScript, end line without CR LF", ScriptKind::JScript,
         bytesOf(text + "\r\n// SIG // Begin signature block\r\n// SIG // AAAA\r\n// SIG // End signature block"),
         false},
        {"JScript file read as PowerShell", ScriptKind::PowerShell, bytesOf(text + jScriptBlock("AAAA")), false},
        {"VBScript", ScriptKind::VBScript,
         bytesOf(text + "\r\n'' SIG '' Begin signature block\r\n'' SIG '' AAAA\r\n'' SIG '' End signature block\r\n"),
         true},
        {"Windows Script File", ScriptKind::WindowsScriptFile,
         bytesOf("<job>\r\n<signature>\r\n** SIG ** AAAA\r\n</signature>\r\n</job>"), true},
        {"PowerShell XML", ScriptKind::PowerShellXml,
         bytesOf("<Types/>\r\n<!-- SIG # Begin signature block -->\r\n<!-- AAAA -->\r\n"
                 "<!-- SIG # End signature block -->\r\n"),
         true},
    };
    for (const Case& c : cases) {
        const auto block = authenticode::findScriptSignatureBlock(c.file, c.kind);
        EXPECT_EQ(std::holds_alternative<authenticode::ScriptSignatureBlock>(block), c.found) << c.name;
        if (!c.found) {
            EXPECT_EQ(std::get<Reason>(block), Reason::NoSignature) << c.name;
        }
    }
}

TEST(ScriptBlock, WindowsScriptHostUsesTheLastBeginLinePowerShellTheFirst) {
    const std::string first = jScriptBlock("AAAA");
    const Data file = bytesOf("a();" + first + "b();" + jScriptBlock("BBBB"));
    const auto block =
        std::get<authenticode::ScriptSignatureBlock>(authenticode::findScriptSignatureBlock(file, ScriptKind::JScript));
    EXPECT_EQ(block.blockStart, 4 + first.size() + 4);
    EXPECT_EQ(block.blockEnd, file.size());

    // std::string first: GCC 12 at -O3 wrongly reports overlapping copies
    // (-Wrestrict) for a literal + a temporary string.
    const Data twice = bytesOf(std::string("a") + powerShellBlock("AAAA") + "b" + powerShellBlock("BBBB"));
    // The first begin line starts the block, which then must run to the end.
    EXPECT_EQ(std::get<Reason>(authenticode::findScriptSignatureBlock(twice, ScriptKind::PowerShell)),
              Reason::NoSignature);
}

TEST(ScriptBlock, LinesCarryStrictBase64) {
    struct Case {
        const char* name;
        ScriptKind kind;
        std::string file;
        std::optional<Data> der;
    };
    const std::string begin = "x\r\n# SIG # Begin signature block";
    const std::string end = "\r\n# SIG # End signature block\r\n";
    const Case cases[] = {
        {"two lines", ScriptKind::PowerShell, begin + "\r\n# MAEC\r\n# AwQ=" + end, Data{0x30, 0x01, 0x02, 0x03, 0x04}},
        {"empty lines are skipped", ScriptKind::PowerShell, begin + "\r\n\r\n# MAEC\r\n\r\n" + end,
         Data{0x30, 0x01, 0x02}},
        {"LF only between lines", ScriptKind::PowerShell, begin + "\n# MAEC\n# AwQ=" + end,
         Data{0x30, 0x01, 0x02, 0x03, 0x04}},
        {"line without its comment", ScriptKind::PowerShell, begin + "\r\nMAEC" + end, std::nullopt},
        {"padding in the middle", ScriptKind::PowerShell, begin + "\r\n# MA==\r\n# MAEC" + end, std::nullopt},
        {"not a multiple of four", ScriptKind::PowerShell, begin + "\r\n# MAE" + end, std::nullopt},
        {"space inside", ScriptKind::PowerShell, begin + "\r\n# MA EC" + end, std::nullopt},
        {"non-ASCII letter", ScriptKind::PowerShell,
         begin +
             "\r\n# MA\xC3\xA9"
             "E" +
             end,
         std::nullopt},
        {"XML comment needs its end", ScriptKind::PowerShellXml,
         "x\r\n<!-- SIG # Begin signature block -->\r\n<!-- MAEC\r\n<!-- SIG # End signature block -->\r\n",
         std::nullopt},
        {"XML comment", ScriptKind::PowerShellXml,
         "x\r\n<!-- SIG # Begin signature block -->\r\n<!-- MAEC -->\r\n<!-- SIG # End signature block -->\r\n",
         Data{0x30, 0x01, 0x02}},
        {"nothing inside", ScriptKind::PowerShell, begin + end, Data{}},
    };
    for (const Case& c : cases) {
        const Data file = bytesOf(c.file);
        const auto block = authenticode::findScriptSignatureBlock(file, c.kind);
        ASSERT_TRUE(std::holds_alternative<authenticode::ScriptSignatureBlock>(block)) << c.name;
        const auto der = authenticode::signatureInBlock(std::get<authenticode::ScriptSignatureBlock>(block), c.kind);
        if (c.der) {
            ASSERT_TRUE(std::holds_alternative<Data>(der)) << c.name;
            EXPECT_EQ(std::get<Data>(der), *c.der) << c.name;
        } else {
            EXPECT_EQ(std::get<Reason>(der), Reason::NoSignature) << c.name;
        }
    }
}

// The digest of what hashScriptText feeds for `file`.
std::string signedTextDigest(const std::string& path, ScriptKind kind) {
    const auto file = authenticode::MappedFile::open(path);
    EXPECT_TRUE(file.has_value()) << path;
    if (!file) {
        return {};
    }
    const auto block = authenticode::findScriptSignatureBlock(file->bytes(), kind);
    EXPECT_TRUE(std::holds_alternative<authenticode::ScriptSignatureBlock>(block)) << path;
    if (!std::holds_alternative<authenticode::ScriptSignatureBlock>(block)) {
        return {};
    }
    authenticode::Hasher hasher(EVP_sha256());
    authenticode::hashScriptText(*file, std::get<authenticode::ScriptSignatureBlock>(block), kind, hasher);
    return testing_support::hex(hasher.finish());
}

std::string sha256(const Data& data) {
    return testing_support::hex(authenticode::digestOf(EVP_sha256(), data));
}

TEST(ScriptDigest, CoversExactlyTheSignedText) {
    // PowerShell: everything before the line break that opens the block,
    // the byte order mark included.
    const Data powerShell = bytesOf(
        "\xEF\xBB\xBF"
        "a\xC3\xA9" +
        powerShellBlock("AAAA"));
    EXPECT_EQ(signedTextDigest(testing_support::writeTempFile("digest.ps1", powerShell), ScriptKind::PowerShell),
              sha256(utf16le(u"a\u00E9", true)));

    // Windows Script Host: the text around the block without the byte order
    // mark, then the block's position in UTF-16 code units (a surrogate pair
    // counts two).
    const Data jScript = bytesOf(
        "\xEF\xBB\xBF"
        "a\xF0\x9F\x98\x80" +
        jScriptBlock("AAAA") + "b");
    Data expected = utf16le(u"a\U0001F600b", false);
    expected.insert(expected.end(), {3, 0, 0, 0});
    EXPECT_EQ(signedTextDigest(testing_support::writeTempFile("digest.js", jScript), ScriptKind::JScript),
              sha256(expected));
}

TEST(ScriptDigest, LargeTextIsHashedInBlocksWithoutSplittingCharacters) {
    // 3 MiB of two-byte characters, shifted by one ASCII byte so that the
    // block boundaries fall inside characters.
    std::string text = "##";
    for (int i = 0; i < (3 << 20) / 2; ++i) {
        text += "\xC3\xA9";
    }
    std::u16string wide = u"##";
    wide.append((3 << 20) / 2, u'\u00E9');
    const std::string path =
        testing_support::writeTempFile("large.ps1", bytesOf("\xEF\xBB\xBF" + text + powerShellBlock("AAAA")));
    EXPECT_EQ(signedTextDigest(path, ScriptKind::PowerShell), sha256(utf16le(wide, true)));
}

TEST(ScriptDigest, MatchesTheIndependentlyComputedValues) {
    const auto rows = testing_support::readFixtureTable("digests-script.tsv");
    ASSERT_GE(rows.size(), 20u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        ASSERT_EQ(row[1], "sha256") << row[0];
        const auto kind = authenticode::scriptKindForPath(row[0]);
        ASSERT_TRUE(kind.has_value()) << row[0];
        EXPECT_EQ(signedTextDigest(testing_support::fixturePath(row[0]), *kind), row[2]) << row[0];
    }
}

// Every byte of signed text, changed, must fail; so must losing the line
// break that opens the block.
TEST(ScriptDigest, NoChangedByteOfTheSignedTextVerifies) {
    constexpr std::time_t pinnedNow = 1893456000;
    for (const char* name : {"script/signed.ps1", "script/signed-utf16le.vbs", "script/signed.wsf"}) {
        const auto original = authenticode::MappedFile::open(testing_support::fixturePath(name));
        ASSERT_TRUE(original.has_value()) << name;
        const Data bytes(original->bytes().begin(), original->bytes().end());
        const auto kind = authenticode::scriptKindForPath(name);
        const auto block =
            std::get<authenticode::ScriptSignatureBlock>(authenticode::findScriptSignatureBlock(bytes, *kind));
        testing_support::useFixtureTrust("trusted.pem");
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < block.blockStart + 2; ++i) {
            offsets.push_back(i);
        }
        for (std::size_t i = block.blockEnd; i < bytes.size() && kind != ScriptKind::PowerShell; ++i) {
            offsets.push_back(i);
        }
        for (const std::size_t offset : offsets) {
            Data changed = bytes;
            changed[offset] ^= 0x20;
            const std::string path = testing_support::writeTempFile(std::string("sweep-") + (name + 7), changed);
            EXPECT_NE(authenticode::verifyFileReason(path, pinnedNow), Reason::Trusted) << name << " at " << offset;
        }
    }
}

TEST(ScriptKindOf, ComesFromTheExtensionInAnyCase) {
    struct Case {
        const char* path;
        std::optional<ScriptKind> kind;
    };
    const Case cases[] = {
        {"a.ps1", ScriptKind::PowerShell},
        {"dir/A.PSM1", ScriptKind::PowerShell},
        {"x.Psd1", ScriptKind::PowerShell},
        {"t.ps1xml", ScriptKind::PowerShellXml},
        {"c.PSC1", ScriptKind::PowerShellXml},
        {"d.cdxml", ScriptKind::PowerShellXml},
        {"s.js", ScriptKind::JScript},
        {"s.VBS", ScriptKind::VBScript},
        {"s.wsf", ScriptKind::WindowsScriptFile},
        {".ps1", ScriptKind::PowerShell},
        {"a.ps1.txt", std::nullopt},
        {"ps1", std::nullopt},
        {"a.ps1/b", std::nullopt},
        {"a.ps", std::nullopt},
        {"a.jse", std::nullopt},
        {"a.", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(authenticode::scriptKindForPath(c.path), c.kind) << c.path;
    }
}

TEST(ScriptLimits, HostileFilesAnswerQuickly) {
    constexpr std::time_t anyTime = 1700000000;
    struct Case {
        const char* name;
        std::string file;
        Reason expected;
    };
    std::string manyBegins;
    for (int i = 0; i < 200000; ++i) {
        manyBegins += "\r\n// SIG // Begin signature block";
    }
    const Case cases[] = {
        {"big.js", std::string(16 << 20, 'a'), Reason::NoSignature},
        {"begins.js", manyBegins, Reason::NoSignature},
        {"begins.ps1", "x" + manyBegins + "\r\n# SIG # Begin signature block" + std::string(8 << 20, '#'),
         Reason::NoSignature},
        {"garbage.ps1", std::string("x") + powerShellBlock(std::string(4 << 20, 'A')), Reason::MalformedMessage},
        {"empty.vbs", "", Reason::NoSignature},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string path = testing_support::writeTempFile(c.name, bytesOf(c.file));
        EXPECT_EQ(authenticode::verifyFileReason(path, anyTime), c.expected) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.name;
    }
}

}  // namespace
