// The report line's texts against the platform's own, as recorded in
// tests/fixtures/message-texts.tsv: both the system message table that
// stands in for the platform's here and what describeTrustResult makes of it.
// (describe_test compares describeTrustResult with the system it runs on,
// which off Windows is the stand-in itself and proves nothing there.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fixtures.h"
#include "system_text.h"
#include "trust/describe.h"

using trust::describeTrustResult;
using trust::TrustResultDescription;
using trust::trustResultDescriptions;

namespace {

std::map<DWORD, std::string> platformTexts() {
    std::map<DWORD, std::string> texts;
    for (const auto& row : testing_support::readFixtureTable("message-texts.tsv")) {
        if (row.size() == 3) {
            texts.emplace(static_cast<DWORD>(std::strtoul(row[0].c_str(), nullptr, 16)), row[2]);
        }
    }
    return texts;
}

const TrustResultDescription* ownDescription(DWORD code) {
    for (const TrustResultDescription& row : trustResultDescriptions) {
        if (static_cast<DWORD>(row.code) == code) {
            return &row;
        }
    }
    return nullptr;
}

TEST(PlatformTexts, TheStandInsMessageTableGivesThePlatformsTexts) {
    const auto platform = platformTexts();
    ASSERT_GE(platform.size(), 50u) << "the reference table did not read";
    for (const auto& [code, text] : platform) {
        EXPECT_EQ(testing_support::systemText(code), text) << std::hex << code;
    }
}

TEST(PlatformTexts, TheReportLineGivesThePlatformsTextOrTheToolsOwn) {
    const auto platform = platformTexts();
    ASSERT_GE(platform.size(), 50u) << "the reference table did not read";
    for (const auto& [code, text] : platform) {
        const char* described = describeTrustResult(static_cast<HRESULT>(code));
        ASSERT_NE(described, nullptr) << std::hex << code;
        if (const TrustResultDescription* own = ownDescription(code)) {
            EXPECT_STREQ(described, own->text) << std::hex << code;
            EXPECT_NE(described, text) << std::hex << code << ": the tool's own words, not the platform's";
        } else {
            EXPECT_EQ(described, text) << std::hex << code;
        }
    }
}

// The tool's own texts are matched on the exact value, never a range: no
// other code in the span around the trust-provider rows, or around
// 0x800B0111, gets one of them.
TEST(PlatformTexts, OwnTextsBelongToTheirExactCodesOnly) {
    std::vector<DWORD> codes = {0x00000001, 0x7FFFFFFF, 0x12345678, 0xFFFFFFFF};
    for (DWORD code = 0x80095FF0; code <= 0x80096030; ++code) codes.push_back(code);
    for (DWORD code = 0x800B0100; code <= 0x800B0120; ++code) codes.push_back(code);
    for (const DWORD code : codes) {
        if (ownDescription(code) != nullptr) continue;
        const char* described = describeTrustResult(static_cast<HRESULT>(code));
        ASSERT_NE(described, nullptr) << std::hex << code;
        for (const TrustResultDescription& row : trustResultDescriptions) {
            EXPECT_STRNE(described, row.text) << std::hex << code;
        }
    }
}

}  // namespace
