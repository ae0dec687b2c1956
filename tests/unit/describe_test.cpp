// describeTrustResult: the tool's own texts for nine codes, the system's
// text for every other code.
#include "trust/describe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system_text.h"

using trust::describeTrustResult;
using trust::trustResultDescriptions;

namespace {

struct Row {
    DWORD code;
    const char* text;
};

// clang-format off
const Row ownTexts[] = {
    {0x80096001, "TRUST_E_SYSTEM_ERROR: A system-level error occurred while verifying trust."},
    {0x80096002, "TRUST_E_NO_SIGNER_CERT: The certificate for the signer of the message is not valid or not found."},
    {0x80096003, "TRUST_E_COUNTER_SIGNER: One of the counter signatures was not valid."},
    {0x80096004, "TRUST_E_CERT_SIGNATURE: The signature of the certificate cannot be verified."},
    {0x80096005, "TRUST_E_TIME_STAMP: The time stamp signature or certificate could not be verified or is malformed"},
    {0x80096010, "TRUST_E_BAD_DIGEST: The digital signature of the object did not verify."},
    {0x80096019, "TRUST_E_BASIC_CONSTRAINTS: The basic constraint extension of a certificate has not been observed."},
    {0x8009601E, "TRUST_E_FINANCIAL_CRITERIA: The certificate does not meet or contain the Authenticode financial extensions."},
    {0x800B0111, "TRUST_E_EXPLICIT_DISTRUST: The certificate was explicitly marked as untrusted by the user."},
};
// clang-format on

bool isOwn(DWORD code) {
    for (const Row& row : ownTexts) {
        if (row.code == code) return true;
    }
    return false;
}

using testing_support::systemText;

TEST(DescribeTrustResult, NineCodesGetTheToolsOwnText) {
    for (const Row& row : ownTexts) {
        const char* text = describeTrustResult(static_cast<HRESULT>(row.code));
        ASSERT_NE(text, nullptr) << std::hex << row.code;
        EXPECT_STREQ(text, row.text) << std::hex << row.code;
    }
    // The one code that also has a system text gets the tool's.
    EXPECT_NE(systemText(0x800B0111), describeTrustResult(static_cast<HRESULT>(0x800B0111)));
}

TEST(DescribeTrustResult, EveryOtherCodeGoesToTheSystem) {
    std::vector<DWORD> codes = {0x00000000, 0x800B0100, 0x800B0110, 0x800B0112, 0x80092003,
                                0x80070002, 0x00000001, 0x7FFFFFFF, 0x12345678, 0xFFFFFFFF};
    // The whole span around the eight trust-provider rows, and 0x800B0111's
    // own neighbourhood: the match is on the exact value, never a range.
    for (DWORD code = 0x80095FF0; code <= 0x80096030; ++code) codes.push_back(code);
    for (DWORD code = 0x800B0100; code <= 0x800B0120; ++code) codes.push_back(code);

    for (const DWORD code : codes) {
        if (isOwn(code)) continue;
        const char* text = describeTrustResult(static_cast<HRESULT>(code));
        ASSERT_NE(text, nullptr) << std::hex << code;
        EXPECT_EQ(text, systemText(code)) << std::hex << code;
    }
}

TEST(DescribeTrustResult, WindowsSystemTexts) {
    EXPECT_STREQ(describeTrustResult(0), "The operation completed successfully. ");
    EXPECT_STREQ(describeTrustResult(static_cast<HRESULT>(0x800B0100)), "No signature was present in the subject. ");
    EXPECT_STREQ(describeTrustResult(static_cast<HRESULT>(0x80096011)),
                 "The digital signature of the object is malformed. For technical detail, see security bulletin "
                 "MS13-098. ");
}

TEST(DescribeTrustResult, NoSystemTextGivesAnEmptyText) {
    for (const DWORD code : {0x80096012u, 0x8009601Du, 0x12345678u}) {
        ASSERT_EQ(systemText(code), "") << std::hex << code;
        const char* text = describeTrustResult(static_cast<HRESULT>(code));
        ASSERT_NE(text, nullptr) << std::hex << code;
        EXPECT_STREQ(text, "") << std::hex << code;
    }
}

}  // namespace
