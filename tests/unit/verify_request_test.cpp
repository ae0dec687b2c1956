// verifyFileTrust against a recording WinVerifyTrust: what the trust
// verifier receives, and that its answer comes back unchanged.
#include "trust/verify.h"

#include <windows.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>

using trust::actionGenericVerifyV2;
using trust::verifyFileTrust;

namespace {

struct Recorded {
    int calls = 0;
    HWND hwnd = nullptr;
    GUID* action = nullptr;
    std::array<unsigned char, 16> actionBytes{};
    std::array<unsigned char, sizeof(WINTRUST_DATA)> requestBytes{};
    WINTRUST_DATA request{};
    WINTRUST_FILE_INFO file{};
    std::u16string path;
    bool terminated = false;
};

Recorded recorded;
LONG answer = 0;

// Far beyond any path the tests send; stops the copy of an unterminated path.
constexpr std::size_t pathLimit = 1 << 16;

}  // namespace

LONG WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData) {
    Recorded r;
    r.calls = recorded.calls + 1;
    r.hwnd = hwnd;
    r.action = pgActionID;
    std::memcpy(r.actionBytes.data(), pgActionID, 16);
    std::memcpy(r.requestBytes.data(), pWVTData, sizeof(WINTRUST_DATA));
    std::memcpy(&r.request, pWVTData, sizeof(WINTRUST_DATA));
    if (r.request.pFile != nullptr) {
        std::memcpy(&r.file, r.request.pFile, sizeof(WINTRUST_FILE_INFO));
        if (const WCHAR* p = r.file.pcwszFilePath) {
            // WCHAR is char16_t here and a 16-bit wchar_t in the Windows SDK.
            std::size_t n = 0;
            for (; n < pathLimit && p[n] != 0; ++n) r.path.push_back(static_cast<char16_t>(p[n]));
            r.terminated = n < pathLimit;
        }
    }
    recorded = r;
    return answer;
}

namespace {

Recorded verify(const std::string& path, LONG code = 0) {
    recorded = {};
    answer = code;
    EXPECT_EQ(verifyFileTrust(path.c_str()), code);
    EXPECT_EQ(recorded.calls, 1);
    return recorded;
}

TEST(VerifyFileTrust, SendsTheRequestOfTheGenericVerifyAction) {
    const Recorded r = verify("C:\\tools\\setup.exe");

    EXPECT_EQ(r.hwnd, nullptr);
    EXPECT_EQ(r.action, &actionGenericVerifyV2);
    const std::array<unsigned char, 16> guid = {0x6B, 0xC5, 0xAA, 0x00, 0x44, 0xCD, 0xD0, 0x11,
                                                0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE};
    EXPECT_EQ(r.actionBytes, guid);

    const WINTRUST_DATA& d = r.request;
    EXPECT_EQ(d.cbStruct, 80u);
    EXPECT_EQ(d.pPolicyCallbackData, nullptr);
    EXPECT_EQ(d.pSIPClientData, nullptr);
    EXPECT_EQ(d.dwUIChoice, WTD_UI_NONE);
    EXPECT_EQ(d.dwUIChoice, 2u);
    EXPECT_EQ(d.fdwRevocationChecks, WTD_REVOKE_NONE);
    EXPECT_EQ(d.dwUnionChoice, WTD_CHOICE_FILE);
    EXPECT_EQ(d.dwUnionChoice, 1u);
    EXPECT_NE(d.pFile, nullptr);
    EXPECT_EQ(d.dwStateAction, WTD_STATEACTION_IGNORE);
    EXPECT_EQ(d.hWVTStateData, nullptr);
    EXPECT_EQ(d.pwszURLReference, nullptr);
    EXPECT_EQ(d.dwProvFlags, 0u);
    EXPECT_EQ(d.dwUIContext, 0u);
    // Padding included: the record was zeroed whole before it was filled,
    // and nothing lies beyond the 80 bytes it declares.
    for (std::size_t i = 0; i < r.requestBytes.size(); ++i) {
        const bool filled = i < 4 || (i >= 24 && i < 36) || (i >= 40 && i < 48);
        if (!filled) {
            EXPECT_EQ(r.requestBytes[i], 0) << "request byte " << i;
        }
    }

    EXPECT_EQ(r.file.cbStruct, 32u);
    EXPECT_EQ(r.file.hFile, nullptr);
    EXPECT_EQ(r.file.pgKnownSubject, nullptr);
    EXPECT_EQ(r.path, u"C:\\tools\\setup.exe");
    EXPECT_TRUE(r.terminated);
}

// The records as the system's verifier reads them on x86-64, whichever SDK
// declared them: the SDK's WINTRUST_DATA is 88 bytes where it has
// pSignatureSettings and 80 where it does not, and the request declares 80,
// ending exactly after dwUIContext, either way.
TEST(VerifyFileTrust, RequestRecordsHaveTheSystemsLayout) {
    struct Member {
        const char* name;
        std::size_t offset;
        std::size_t expected;
    };
    const Member members[] = {
        {"WINTRUST_DATA::pPolicyCallbackData", offsetof(WINTRUST_DATA, pPolicyCallbackData), 8},
        {"WINTRUST_DATA::pSIPClientData", offsetof(WINTRUST_DATA, pSIPClientData), 16},
        {"WINTRUST_DATA::dwUIChoice", offsetof(WINTRUST_DATA, dwUIChoice), 24},
        {"WINTRUST_DATA::fdwRevocationChecks", offsetof(WINTRUST_DATA, fdwRevocationChecks), 28},
        {"WINTRUST_DATA::dwUnionChoice", offsetof(WINTRUST_DATA, dwUnionChoice), 32},
        {"WINTRUST_DATA::pFile", offsetof(WINTRUST_DATA, pFile), 40},
        {"WINTRUST_DATA::dwStateAction", offsetof(WINTRUST_DATA, dwStateAction), 48},
        {"WINTRUST_DATA::hWVTStateData", offsetof(WINTRUST_DATA, hWVTStateData), 56},
        {"WINTRUST_DATA::pwszURLReference", offsetof(WINTRUST_DATA, pwszURLReference), 64},
        {"WINTRUST_DATA::dwProvFlags", offsetof(WINTRUST_DATA, dwProvFlags), 72},
        {"WINTRUST_DATA::dwUIContext", offsetof(WINTRUST_DATA, dwUIContext), 76},
        {"WINTRUST_FILE_INFO::pcwszFilePath", offsetof(WINTRUST_FILE_INFO, pcwszFilePath), 8},
        {"WINTRUST_FILE_INFO::hFile", offsetof(WINTRUST_FILE_INFO, hFile), 16},
        {"WINTRUST_FILE_INFO::pgKnownSubject", offsetof(WINTRUST_FILE_INFO, pgKnownSubject), 24},
    };
    for (const Member& m : members) {
        EXPECT_EQ(m.offset, m.expected) << m.name;
    }
    EXPECT_TRUE(sizeof(WINTRUST_DATA) == 80 || sizeof(WINTRUST_DATA) == 88) << sizeof(WINTRUST_DATA);
    EXPECT_EQ(sizeof(WINTRUST_FILE_INFO), 32u);

    const Recorded r = verify("a.exe");
    EXPECT_EQ(r.request.cbStruct, offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD));
    EXPECT_EQ(r.file.cbStruct, sizeof(WINTRUST_FILE_INFO));
}

TEST(VerifyFileTrust, ReturnsTheVerifiersCodeUnchanged) {
    for (const LONG code : {static_cast<LONG>(0x800B0100), static_cast<LONG>(0x80096010), LONG{0x12345678},
                            LONG{1}, LONG{0}}) {
        verify("a.exe", code);
    }
}

TEST(VerifyFileTrust, PathArrivesDecodedWholeAndTerminated) {
    struct Case {
        const char* name;
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"ascii", "dir/file name.exe", u"dir/file name.exe"},
        {"multi-byte", "caf\xC3\xA9/\xE2\x82\xAC.exe", u"caf\u00E9/\u20AC.exe"},
        {"four-byte", "\xF0\x9F\x98\x80.exe", u"\xD83D\xDE00.exe"},
        {"Latin-1 byte", "caf\xE9.exe", u"caf\xFFFD.exe"},
        {"empty", "", u""},
        {"259 units", std::string(259, 'a'), std::u16string(259, u'a')},
        {"260 units", std::string(260, 'a'), std::u16string(260, u'a')},
        {"600 units", std::string(600, 'b'), std::u16string(600, u'b')},
        {"600 units, two bytes each", [] { std::string s; for (int i = 0; i < 600; ++i) s += "\xC3\xA9"; return s; }(),
         std::u16string(600, u'\u00E9')},
        {"260 units in surrogate pairs", [] { std::string s; for (int i = 0; i < 130; ++i) s += "\xF0\x9F\x98\x80"; return s; }(),
         [] { std::u16string s; for (int i = 0; i < 130; ++i) s += u"\xD83D\xDE00"; return s; }()},
    };
    for (const Case& c : cases) {
        const Recorded r = verify(c.utf8);
        EXPECT_TRUE(r.terminated) << c.name;
        EXPECT_EQ(r.path, c.utf16) << c.name;
    }
}

}  // namespace
