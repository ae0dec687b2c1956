// The portable WinVerifyTrust's front door: it refuses requests it cannot
// serve, and finds the file a well-formed request names.
#include <windows.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr GUID genericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

std::u16string utf16(const std::string& utf8) {
    std::u16string out(utf8.size(), u'\0');
    out.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                            out.data(), static_cast<int>(out.size()))));
    return out;
}

class WinVerifyTrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("trustcheck-wvt-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        for (const char* name : {"plain.txt", "\xF0\x9F\x98\x80 \xC3\xA9.txt"}) {
            std::ofstream(dir_ / name) << "just some text, no program\n";
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    struct Request {
        GUID action = genericVerifyV2;
        std::u16string path;
        WINTRUST_FILE_INFO file{};
        WINTRUST_DATA data{};
        GUID* actionArg = &action;
        LPVOID dataArg = &data;

        explicit Request(const std::string& name) : path(utf16(name.empty() ? name : (dir_ / name).string())) {
            file.cbStruct = 32;
            file.pcwszFilePath = path.c_str();
            data.cbStruct = 80;
            data.dwUIChoice = WTD_UI_NONE;
            data.dwUnionChoice = WTD_CHOICE_FILE;
            data.pFile = &file;
        }
        LONG send() { return WinVerifyTrust(nullptr, actionArg, dataArg); }
    };

    static inline fs::path dir_;
};

TEST_F(WinVerifyTrustTest, AnswersForTheFileTheRequestNames) {
    const auto code = [](const std::string& name, DWORD cbStruct = 80) {
        Request r(name);
        r.data.cbStruct = cbStruct;
        return static_cast<DWORD>(r.send());
    };
    EXPECT_EQ(code("plain.txt"), 0x800B0003u);
    // The UTF-16 path, surrogate pair included, goes back to the same bytes.
    EXPECT_EQ(code("\xF0\x9F\x98\x80 \xC3\xA9.txt"), 0x800B0003u);
    EXPECT_EQ(code("missing.exe"), 0x80092003u);
    EXPECT_EQ(code(""), 0x80092003u);
    EXPECT_EQ(code("plain.txt", 88), 0x800B0003u);
}

TEST_F(WinVerifyTrustTest, RefusesRequestsItCannotServe) {
    struct Case {
        const char* name;
        std::function<void(Request&)> spoil;
        DWORD code;
    };
    const Case cases[] = {
        {"no action", [](Request& r) { r.actionArg = nullptr; }, 0x800B0002},
        {"other action", [](Request& r) { r.action.Data1 ^= 1; }, 0x800B0002},
        {"action differing in the last byte", [](Request& r) { r.action.Data4[7] ^= 1; }, 0x800B0002},
        {"no request", [](Request& r) { r.dataArg = nullptr; }, 0x80070057},
        {"request size 0", [](Request& r) { r.data.cbStruct = 0; }, 0x80070057},
        {"request size short of the file pointer", [](Request& r) { r.data.cbStruct = 44; }, 0x80070057},
        {"catalog subject", [](Request& r) { r.data.dwUnionChoice = 2; }, 0x80070057},
        {"no file record", [](Request& r) { r.data.pFile = nullptr; }, 0x80070057},
        {"file record size 0", [](Request& r) { r.file.cbStruct = 0; }, 0x80070057},
        {"no path", [](Request& r) { r.file.pcwszFilePath = nullptr; }, 0x80070057},
    };
    for (const Case& c : cases) {
        Request r("plain.txt");
        c.spoil(r);
        EXPECT_EQ(static_cast<DWORD>(r.send()), c.code) << c.name;
    }
}

}  // namespace
