// FormatMessageA with the system message table, as the report line asks it:
// allocated buffer, system source, one-line form, US English.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD allocateOneLine =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
constexpr DWORD usEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Lookup {
    DWORD returned;
    bool found;
    std::string text;
};

Lookup lookUp(DWORD code) {
    LPSTR text = nullptr;
    const DWORD returned =
        FormatMessageA(allocateOneLine, nullptr, code, usEnglish, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    Lookup result{returned, text != nullptr, text != nullptr ? text : ""};
    LocalFree(text);  // the caller releases the allocated text
    return result;
}

TEST(FormatMessageA, GivesThePlatformTexts) {
    const std::pair<DWORD, const char*> expected[] = {
        {0x00000000, "The operation completed successfully. "},
        {0x800B0100, "No signature was present in the subject. "},
        {0x80092003, "An error occurred while reading or writing to a file. "},
        {0x800B0003, "The form specified for the subject is not one supported or known by the specified trust "
                     "provider. "},
        {0x80096011, "The digital signature of the object is malformed. For technical detail, see security "
                     "bulletin MS13-098. "},
        {0x8009200D, "Not a cryptographic message or the cryptographic message is not formatted correctly. "},
        {0x80070002, "The system cannot find the file specified. "},
        {0x800B0111, "The certificate was explicitly marked as untrusted by the user. "},
    };
    for (const auto& [code, text] : expected) {
        const Lookup found = lookUp(code);
        EXPECT_EQ(found.text, text) << std::hex << code;
        EXPECT_EQ(found.returned, std::strlen(text)) << std::hex << code;
    }
}

TEST(FormatMessageA, EveryCodeTheVerifierReturnsHasAText) {
    const DWORD codes[] = {
        0x00000000, 0x80092003, 0x800B0003, 0x800B0100, 0x80096010, 0x80096011, 0x8009200D, 0x80090008,
        0x80096002, 0x80096003, 0x80096004, 0x80096005, 0x800B0111, 0x800B010A, 0x800B0109, 0x800B0101,
        0x800B0110, 0x800B0105, 0x80096019, 0x80096001, 0x800B0002, 0x80070057, 0x80070002, 0x80070003,
        0x80070005, 0x80070020, 0x8007007B, 0x8007000D,
    };
    for (const DWORD code : codes) {
        EXPECT_TRUE(lookUp(code).found) << std::hex << code;
    }
}

TEST(FormatMessageA, UnknownCodesGiveNothingAndLeaveThePointer) {
    const DWORD codes[] = {0x80096012, 0x80096013, 0x80096014, 0x80096015, 0x80096016,
                           0x80096017, 0x80096018, 0x12345678, 0xFFFFFFFF};
    for (const DWORD code : codes) {
        char sentinel = 0;
        LPSTR text = &sentinel;
        EXPECT_EQ(FormatMessageA(allocateOneLine, nullptr, code, usEnglish, reinterpret_cast<LPSTR>(&text), 0,
                                 nullptr),
                  0u)
            << std::hex << code;
        EXPECT_EQ(text, &sentinel) << std::hex << code;
    }
}

TEST(FormatMessageA, CallerBufferMustHoldTextAndTerminator) {
    const std::string text = "The operation completed successfully. ";
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;

    std::vector<char> buffer(text.size() + 8, '#');
    const auto fits = static_cast<DWORD>(text.size() + 1);
    ASSERT_EQ(FormatMessageA(flags, nullptr, 0, usEnglish, buffer.data(), fits, nullptr), text.size());
    EXPECT_STREQ(buffer.data(), text.c_str());

    std::fill(buffer.begin(), buffer.end(), '#');
    EXPECT_EQ(FormatMessageA(flags, nullptr, 0, usEnglish, buffer.data(), fits - 1, nullptr), 0u);
    EXPECT_TRUE(std::all_of(buffer.begin() + fits - 1, buffer.end(), [](char c) { return c == '#'; }));
}

// Every text in the table is in the one-line form: line breaks became single
// spaces, so it ends in exactly one space and holds no line break. None has
// an insert, as the lookup passes no arguments.
TEST(FormatMessageA, EveryTextIsInTheOneLineForm) {
    const std::pair<DWORD, DWORD> ranges[] = {
        {0x00000000, 0x000000FF}, {0x80004000, 0x8000FFFF}, {0x80070000, 0x80070FFF},
        {0x80090000, 0x80097FFF}, {0x800B0000, 0x800B0FFF},
    };
    int found = 0;
    for (const auto& [first, last] : ranges) {
        for (DWORD code = first;; ++code) {
            const Lookup lookup = lookUp(code);
            if (lookup.found) {
                ++found;
                const std::string& t = lookup.text;
                EXPECT_EQ(lookup.returned, t.size()) << std::hex << code;
                EXPECT_TRUE(t.size() >= 2 && t.back() == ' ' && t[t.size() - 2] != ' ') << std::hex << code << t;
                EXPECT_EQ(t.find_first_of("\r\n%"), std::string::npos) << std::hex << code << t;
                EXPECT_NE(t.front(), ' ') << std::hex << code;
            } else {
                EXPECT_EQ(lookup.returned, 0u) << std::hex << code;
            }
            if (code == last) {
                break;
            }
        }
    }
    EXPECT_GE(found, 55);
}

}  // namespace
