// Files whose fields claim far more than the file holds, or whose signature
// nests or repeats far beyond any real one. Each must get its code without
// the engine looping or allocating in proportion to the claim; the tests
// check the codes, and their running times show the rest.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "authenticode/reading/der.h"
#include "authenticode/reading/pe_image.h"
#include "authenticode/reason.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "signed_pe.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using namespace testing_support;

constexpr std::time_t pinnedNow = 1893456000;  // 2030-01-01

const char* const timestamped = "pe/trust-timestamped.exe";

struct Case {
    const char* name;
    const char* file;  // the name the case is verified under
    std::function<Data()> make;
    Reason expected;
};

const Case cases[] = {
    // PE headers: the engine never walks the section table, so a count
    // claiming the most sections a header can name costs nothing; it is
    // hashed like every other header byte.
    {"pe_65535_sections_unsigned", "sections.exe",
     [] {
         Data image = testing_support::SyntheticPe().build();
         testing_support::putU16(image, testing_support::SyntheticPe::peOffset + 6, 0xFFFF);
         return image;
     },
     Reason::NoSignature},
    {"pe_65535_sections_signed", "sections-signed.exe",
     [] {
         Data image = readFixture("pe/signed64-sha256.exe");
         const auto pe = authenticode::parsePeImage(image);
         const std::size_t numberOfSections = pe->checksumOffset - 64 - 20 + 2;
         testing_support::putU16(image, numberOfSections, 0xFFFF);
         return image;
     },
     Reason::DigestMismatch},

    // Deep nesting where the signature's parts belong. Our own DER reader
    // does not recurse; OpenSSL's stops at a small fixed depth for what it
    // decodes and keeps what it does not know as bytes.
    {"indirect_data_nested_100000_deep", "nested-content.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.content = der(0x30, concat({oidIndirectData, der(0xA0, nestedSequences(100000))}));
         return pe.file();
     },
     Reason::MalformedMessage},
    {"certificate_nested_100000_deep", "nested-certificate.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.certificates = der(0xA0, concat({SignedPe::contentsOf(pe.certificates), nestedSequences(100000)}));
         return pe.file();
     },
     Reason::MalformedMessage},
    {"countersignature_nested_100000_deep", "nested-countersignature.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = der(0xA1, attribute(oidCounterSignature, nestedSequences(100000)));
         return pe.file();
     },
     Reason::CounterSignatureInvalid},
    {"time_stamp_token_nested_100000_deep", "nested-token.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = der(0xA1, attribute(oidRfc3161, nestedSequences(100000)));
         return pe.file();
     },
     Reason::TimeStampInvalid},

    // Thousands of parts where one or a few belong. Certificates and
    // unauthenticated attributes are outside the signature: copies of the
    // ones that are there, or attributes nobody reads, change nothing.
    {"certificates_2000", "many-certificates.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.certificates = der(0xA0, repeated(SignedPe::contentsOf(pe.certificates), 1000));
         return pe.file();
     },
     Reason::Trusted},
    {"unauthenticated_attributes_20000", "many-unauthenticated.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = der(0xA1, concat({repeated(attribute(oidUnknown, {0x05, 0x00}), 20000),
                                                SignedPe::contentsOf(pe.unauthenticated)}));
         return pe.file();
     },
     Reason::Trusted},
    {"authenticated_attributes_20000", "many-authenticated.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.authenticated = der(0xA0, concat({repeated(attribute(oidUnknown, {0x05, 0x00}), 20000),
                                              SignedPe::contentsOf(pe.authenticated)}));
         return pe.file();
     },
     Reason::SignerSignatureInvalid},
    {"signer_infos_5000", "many-signers.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated.clear();
         return pe.file(pe.signedData(der(0x31, repeated(pe.signerInfo(), 5000))));
     },
     // The first signer decides and the others are never read.
     Reason::Trusted},
    {"countersignature_attribute_with_20000_values", "many-values.exe",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = der(0xA1, attribute(oidCounterSignature, repeated(nestedSequences(1), 20000)));
         return pe.file();
     },
     Reason::CounterSignatureInvalid},

    // A ZIP whose ZIP64 end record claims 2^32 entries in a directory of
    // none, and one whose plain end record claims 65,535.
    {"zip_claims_2_to_the_32_entries", "entries.msix",
     [] {
         Data record = concat({{'P', 'K', 6, 6}, {44, 0, 0, 0, 0, 0, 0, 0}, {45, 0, 45, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                               {0, 0, 0, 0, 1, 0, 0, 0}, {0, 0, 0, 0, 1, 0, 0, 0}, Data(8, 0), Data(8, 0)});
         const Data locator = concat({{'P', 'K', 6, 7}, Data(4, 0), Data(8, 0), {1, 0, 0, 0}});
         const Data end = concat({{'P', 'K', 5, 6}, Data(4, 0), {0xFF, 0xFF, 0xFF, 0xFF},
                                  {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0, 0}});
         return concat({record, locator, end});
     },
     Reason::SubjectFormatUnknown},
    {"zip_claims_65535_entries", "entries.appx",
     [] { return concat({{'P', 'K', 5, 6}, Data(4, 0), {0xFF, 0xFF, 0xFF, 0xFF}, Data(8, 0), {0, 0}}); },
     Reason::SubjectFormatUnknown},

    // A cabinet that claims the most folders and files its header can name:
    // the engine hashes the cabinet, it does not walk it.
    {"cab_65535_folders_and_files", "counts.cab",
     [] {
         Data cab = readFixture("cab/signed-sha256.cab");
         testing_support::putU16(cab, 26, 0xFFFF);
         testing_support::putU16(cab, 28, 0xFFFF);
         return cab;
     },
     Reason::DigestMismatch},

    // Scripts of a million comment lines: in the signed text, as the whole
    // unsigned file, and as the signature block's lines.
    {"script_signed_text_1000000_comment_lines", "comments.ps1",
     [] {
         std::string text = std::string();
         for (int i = 0; i < 1000000; ++i) {
             text += "# comment\r\n";
         }
         const Data signedScript = readFixture("script/signed.ps1");
         return concat({bytesOf(text), signedScript});
     },
     Reason::DigestMismatch},
    {"script_unsigned_1000000_comment_lines", "comments-unsigned.js",
     [] {
         std::string text;
         for (int i = 0; i < 1000000; ++i) {
             text += "// SIG // comment\r\n";
         }
         return bytesOf(text);
     },
     Reason::NoSignature},
    {"script_block_of_1000000_lines", "block.ps1",
     [] {
         std::string text = "Write-Output 1\r\n# SIG # Begin signature block\r\n";
         for (int i = 0; i < 1000000; ++i) {
             text += "# AAAA\r\n";
         }
         return bytesOf(text + "# SIG # End signature block\r\n");
     },
     Reason::MalformedMessage},
};

class WorkBounds : public testing::TestWithParam<Case> {};

TEST_P(WorkBounds, GivesItsCode) {
    testing_support::useFixtureTrust("trusted.pem");
    const Case& c = GetParam();
    const std::string path = testing_support::writeTempFile(c.file, c.make());
    EXPECT_EQ(authenticode::verifyFileReason(path, pinnedNow), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkBounds, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
