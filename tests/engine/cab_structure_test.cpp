// Cabinets: how the engine answers when the container is wrong before any
// cryptography starts, and which bytes the cabinet digest covers.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <functional>
#include <set>

#include "authenticode/formats/cab_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using testing_support::putU16;
using testing_support::putU32;
using Image = std::vector<std::uint8_t>;

constexpr std::time_t anyTime = 1700000000;
constexpr std::size_t recordEnd = 60;  // header, reserve sizes and the 20-byte signature record

// A DER SEQUENCE that OpenSSL cannot read as PKCS#7.
Image junkSequence() {
    return {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07};
}

// A cabinet laid out as signing tools leave it: header with the reserve
// flag, the signature record, a payload, then the signature area holding
// `signature` zero-padded to 8 bytes.
Image signedCab(const Image& signature = junkSequence()) {
    Image cab(recordEnd, 0);
    const Image magic{'M', 'S', 'C', 'F'};
    std::copy(magic.begin(), magic.end(), cab.begin());
    const Image payload(37, 0x77);
    const std::size_t signatureOffset = recordEnd + payload.size();
    Image area = signature;
    area.resize(area.size() + (8 - area.size() % 8) % 8, 0);
    putU32(cab, 8, static_cast<std::uint32_t>(signatureOffset));  // cbCabinet
    putU32(cab, 16, static_cast<std::uint32_t>(recordEnd));       // coffFiles
    cab[24] = 3;                                                  // version 1.3
    cab[25] = 1;
    putU16(cab, 26, 1);   // cFolders
    putU16(cab, 28, 1);   // cFiles
    putU16(cab, 30, 4);   // flags: cfhdrRESERVE_PRESENT
    putU16(cab, 36, 20);  // cbCFHeader
    putU16(cab, 42, 16);  // signature information size
    putU32(cab, 44, static_cast<std::uint32_t>(signatureOffset));
    putU32(cab, 48, static_cast<std::uint32_t>(area.size()));
    cab.insert(cab.end(), payload.begin(), payload.end());
    cab.insert(cab.end(), area.begin(), area.end());
    return cab;
}

Image mutated(Image image, const std::function<void(Image&)>& change) {
    change(image);
    return image;
}

Image withSignatureArea(std::uint32_t offset, std::uint32_t size) {
    return mutated(signedCab(), [=](Image& i) {
        putU32(i, 44, offset);
        putU32(i, 48, size);
    });
}

struct Case {
    const char* name;
    std::function<Image()> make;
    Reason expected;
};

const Case cases[] = {
    {"almost_magic", [] { return Image{'M', 'S', 'C'}; }, Reason::SubjectFormatUnknown},
    {"other_magic", [] { return mutated(signedCab(), [](Image& i) { i[3] = 'E'; }); }, Reason::SubjectFormatUnknown},
    {"magic_only", [] { return Image{'M', 'S', 'C', 'F'}; }, Reason::NoSignature},
    {"fixed_header_cut", [] { return mutated(signedCab(), [](Image& i) { i.resize(30); }); }, Reason::NoSignature},
    {"record_cut", [] { return mutated(signedCab(), [](Image& i) { i.resize(50); }); }, Reason::NoSignature},
    {"no_reserve_flag", [] { return mutated(signedCab(), [](Image& i) { putU16(i, 30, 0); }); },
     Reason::NoSignature},
    {"reserve_too_small_for_record", [] { return mutated(signedCab(), [](Image& i) { putU16(i, 36, 16); }); },
     Reason::NoSignature},
    {"reserve_larger_than_record", [] { return mutated(signedCab(), [](Image& i) { putU16(i, 36, 24); }); },
     Reason::NoSignature},
    {"record_announces_extra_data", [] { return mutated(signedCab(), [](Image& i) { putU16(i, 40, 4); }); },
     Reason::NoSignature},
    {"record_of_another_size", [] { return mutated(signedCab(), [](Image& i) { putU16(i, 42, 8); }); },
     Reason::NoSignature},
    {"reserved_but_never_signed",
     [] {
         return mutated(signedCab(), [](Image& i) {
             i.resize(recordEnd + 37);
             putU32(i, 44, 0);
             putU32(i, 48, 0);
         });
     },
     Reason::NoSignature},
    {"signature_inside_header",
     [] {
         const std::size_t size = signedCab().size();
         return withSignatureArea(40, static_cast<std::uint32_t>(size - 40));
     },
     Reason::NoSignature},
    {"signature_offset_past_end", [] { return withSignatureArea(0x10000, 8); }, Reason::NoSignature},
    {"signature_size_past_end", [] { return withSignatureArea(recordEnd + 37, 0x1000); }, Reason::NoSignature},
    {"signature_size_4gib", [] { return withSignatureArea(recordEnd + 37, 0xFFFFFFFF); }, Reason::NoSignature},
    {"offset_and_size_wrap_to_the_file_size",
     [] {
         // In 32-bit arithmetic 0xFFFFFFFF + (size + 1) would be the file size.
         const auto size = static_cast<std::uint32_t>(signedCab().size());
         return withSignatureArea(0xFFFFFFFF, size + 1);
     },
     Reason::NoSignature},
    {"empty_signature_area",
     [] {
         return mutated(signedCab(), [](Image& i) {
             i.resize(recordEnd + 37);
             putU32(i, 48, 0);
         });
     },
     Reason::NoSignature},
    {"bytes_after_signature", [] { return mutated(signedCab(), [](Image& i) { i.push_back(0); }); },
     Reason::NoSignature},
    {"signature_not_der", [] { return signedCab(Image(16, 0xEE)); }, Reason::MalformedMessage},
    {"signature_not_pkcs7", [] { return signedCab(); }, Reason::MalformedMessage},
    {"zero_padding_after_signature",
     [] {
         Image signature = junkSequence();
         signature.resize(signature.size() + 24, 0);
         return signedCab(signature);
     },
     Reason::MalformedMessage},
    {"data_hidden_after_signature",
     [] {
         Image signature = junkSequence();
         signature.insert(signature.end(), {0, 0, 'h', 'i', 'd', 'e'});
         return signedCab(signature);
     },
     Reason::HiddenDataInSignature},
    {"data_in_record_unused_bytes", [] { return mutated(signedCab(), [](Image& i) { i[59] = 1; }); },
     Reason::HiddenDataInSignature},
};

class CabStructure : public ::testing::TestWithParam<Case> {};

TEST_P(CabStructure, GivesTheCodeOfTheFirstFailingStage) {
    const Case& c = GetParam();
    const std::string path = testing_support::writeTempFile(std::string("cab-") + c.name, c.make());
    EXPECT_EQ(authenticode::verifyFileReason(path, anyTime), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, CabStructure, ::testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

std::vector<std::uint8_t> cabDigest(const std::string& path, const authenticode::CabSignatureLocation& location,
                                    const EVP_MD* algorithm) {
    const auto file = authenticode::MappedFile::open(path);
    if (!file) {
        return {};
    }
    authenticode::Hasher hasher(algorithm);
    authenticode::hashCabinet(*file, location, hasher);
    return hasher.finish();
}

TEST(CabDigest, MatchesTheIndependentlyComputedValues) {
    const auto rows = testing_support::readFixtureTable("digests-cab.tsv");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const std::string path = testing_support::fixturePath(row[0]);
        const auto file = authenticode::MappedFile::open(path);
        ASSERT_TRUE(file.has_value()) << row[0];
        const auto found = authenticode::findCabSignature(file->bytes());
        ASSERT_TRUE(std::holds_alternative<authenticode::CabSignatureLocation>(found)) << row[0];
        const auto location = std::get<authenticode::CabSignatureLocation>(found);
        EXPECT_EQ(testing_support::hex(cabDigest(path, location, EVP_get_digestbyname(row[1].c_str()))), row[2]) << row[0];
    }
}

// Every header byte either is hashed or is one that signing writes; the
// payload is hashed up to the signature and the signature is not.
TEST(CabDigest, CoversExactlyTheHeaderFieldsSigningLeavesAlone) {
    const Image cab = signedCab();
    const authenticode::CabSignatureLocation location{recordEnd + 37, cab.size() - (recordEnd + 37)};
    const auto digestOf = [&](const Image& bytes, const std::string& name) {
        return cabDigest(testing_support::writeTempFile("cab-digest-" + name, bytes), location, EVP_sha256());
    };
    const auto original = digestOf(cab, "original");
    ASSERT_FALSE(original.empty());

    std::set<std::size_t> hashed;
    for (std::size_t i = 0; i < recordEnd; ++i) {
        if (i < 4 || (i >= 8 && i < 36) || i == 40 || i == 41) {
            hashed.insert(i);
        }
    }
    const std::size_t probes[] = {recordEnd, location.signatureOffset - 1, location.signatureOffset, cab.size() - 1};
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < recordEnd; ++i) {
        offsets.push_back(i);
    }
    offsets.insert(offsets.end(), std::begin(probes), std::end(probes));
    for (const std::size_t offset : offsets) {
        Image changed = cab;
        changed[offset] ^= 0x5A;
        const bool expectHashed = offset < recordEnd ? hashed.count(offset) == 1 : offset < location.signatureOffset;
        EXPECT_EQ(digestOf(changed, std::to_string(offset)) != original, expectHashed) << "byte " << offset;
    }
}

}  // namespace
