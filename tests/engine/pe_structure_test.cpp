// How the engine answers for files whose container is wrong before any
// cryptography starts: unreadable files, unknown formats, PE headers and the
// certificate table.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "authenticode/reading/pe_image.h"
#include "authenticode/verify_file.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using testing_support::SyntheticPe;
using Image = std::vector<std::uint8_t>;

constexpr std::time_t anyTime = 1700000000;

Reason verifyBytes(const std::string& name, const Image& bytes) {
    return authenticode::verifyFileReason(testing_support::writeTempFile(name, bytes), anyTime);
}

// A DER SEQUENCE that OpenSSL cannot read as PKCS#7.
Image junkSequence() {
    return {0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07};
}

struct Case {
    const char* name;
    std::function<Image()> make;
    Reason expected;
};

Image plainPe(bool plus) {
    SyntheticPe pe;
    pe.plus = plus;
    return pe.build();
}

Image peWithTable(const Image& table) {
    SyntheticPe pe;
    return testing_support::withTable(pe, pe.build(), table);
}

Image tableWith(std::uint16_t type, const Image& content, std::uint32_t lengthOverride = 0) {
    Image table;
    testing_support::appendCertificate(table, type, content, lengthOverride);
    return table;
}

Image mutated(Image image, const std::function<void(Image&)>& change) {
    change(image);
    return image;
}

const Case cases[] = {
    {"empty", [] { return Image{}; }, Reason::SubjectFormatUnknown},
    {"mz_only", [] { return Image{'M', 'Z'}; }, Reason::SubjectFormatUnknown},
    {"text", [] { return Image(200, 'a'); }, Reason::SubjectFormatUnknown},
    {"lfanew_past_end",
     [] { return mutated(plainPe(true), [](Image& i) { testing_support::putU32(i, 0x3C, 0xFFFFFFFC); }); },
     Reason::SubjectFormatUnknown},
    {"no_pe_signature", [] { return mutated(plainPe(true), [](Image& i) { i[SyntheticPe::peOffset] = 'N'; }); },
     Reason::SubjectFormatUnknown},
    {"coff_header_cut", [] { return mutated(plainPe(true), [](Image& i) { i.resize(SyntheticPe::peOffset + 10); }); },
     Reason::SubjectFormatUnknown},
    {"optional_header_cut",
     [] { return mutated(plainPe(true), [](Image& i) { i.resize(SyntheticPe::optionalOffset + 100); }); },
     Reason::SubjectFormatUnknown},
    {"unknown_magic",
     [] { return mutated(plainPe(true), [](Image& i) { testing_support::putU16(i, SyntheticPe::optionalOffset, 0x107); }); },
     Reason::SubjectFormatUnknown},
    {"optional_header_too_small",
     [] { return mutated(plainPe(true), [](Image& i) { testing_support::putU16(i, SyntheticPe::peOffset + 20, 100); }); },
     Reason::SubjectFormatUnknown},
    {"pe32_unsigned", [] { return plainPe(false); }, Reason::NoSignature},
    {"pe32plus_unsigned", [] { return plainPe(true); }, Reason::NoSignature},
    {"no_certificate_directory_entry",
     [] {
         SyntheticPe pe;
         pe.rvaCount = 4;
         return pe.build();
     },
     Reason::NoSignature},
    {"table_past_end",
     [] {
         SyntheticPe pe;
         return mutated(pe.build(), [&pe](Image& i) {
             testing_support::putU32(i, pe.directoryOffset(), 0x800);
             testing_support::putU32(i, pe.directoryOffset() + 4, 0x100);
         });
     },
     Reason::NoSignature},
    {"table_claims_4gib",
     [] {
         SyntheticPe pe;
         return mutated(peWithTable(tableWith(2, junkSequence())),
                        [&pe](Image& i) { testing_support::putU32(i, pe.directoryOffset() + 4, 0xFFFFFFFF); });
     },
     Reason::NoSignature},
    {"table_followed_by_bytes",
     [] { return mutated(peWithTable(tableWith(2, junkSequence())), [](Image& i) { i.push_back(0); }); },
     Reason::NoSignature},
    {"table_inside_headers",
     [] {
         SyntheticPe pe;
         return mutated(pe.build(), [&pe](Image& i) {
             testing_support::putU32(i, pe.directoryOffset(), 0x40);
             testing_support::putU32(i, pe.directoryOffset() + 4, static_cast<std::uint32_t>(i.size() - 0x40));
         });
     },
     Reason::NoSignature},
    {"table_misaligned",
     [] {
         SyntheticPe pe;
         pe.imageSize = 0x403;
         return testing_support::withTable(pe, pe.build(), tableWith(2, junkSequence()));
     },
     Reason::CertificateTableMisaligned},
    {"entry_length_below_header", [] { return peWithTable(tableWith(2, junkSequence(), 4)); }, Reason::NoSignature},
    {"entry_length_beyond_table", [] { return peWithTable(tableWith(2, junkSequence(), 0x1000)); },
     Reason::NoSignature},
    {"no_signed_data_entry", [] { return peWithTable(tableWith(1, junkSequence())); }, Reason::NoSignature},
    {"signed_data_not_der", [] { return peWithTable(tableWith(2, Image(16, 0xEE))); }, Reason::MalformedMessage},
    {"signed_data_not_pkcs7", [] { return peWithTable(tableWith(2, junkSequence())); }, Reason::MalformedMessage},
    {"zero_padding_after_signed_data",
     [] {
         Image content = junkSequence();
         content.resize(content.size() + 24, 0);
         return peWithTable(tableWith(2, content));
     },
     Reason::MalformedMessage},
    {"data_hidden_after_signed_data",
     [] {
         Image content = junkSequence();
         content.insert(content.end(), {0, 0, 'h', 'i', 'd', 'e'});
         return peWithTable(tableWith(2, content));
     },
     Reason::HiddenDataInSignature},
    {"junk_after_last_entry",
     [] {
         Image table = tableWith(2, junkSequence());
         table.insert(table.end(), {3, 0, 0, 0, 0, 2, 2, 0});
         return peWithTable(table);
     },
     Reason::HiddenDataInSignature},
    // A second entry is never consulted: whatever it holds is hidden data,
    // even a well-formed entry.
    {"further_entry_after_primary",
     [] {
         Image table = tableWith(2, junkSequence());
         testing_support::appendCertificate(table, 2, Image(5, 0x55));
         return peWithTable(table);
     },
     Reason::HiddenDataInSignature},
    {"zero_filled_entry_after_primary",
     [] {
         Image table = tableWith(2, junkSequence());
         table.resize(table.size() + 16, 0);
         return peWithTable(table);
     },
     Reason::MalformedMessage},
    {"primary_after_other_entry",
     [] {
         Image table = tableWith(1, Image(12, 0x11));
         testing_support::appendCertificate(table, 2, junkSequence());
         return peWithTable(table);
     },
     Reason::MalformedMessage},
};

class PeStructure : public ::testing::TestWithParam<Case> {};

TEST_P(PeStructure, GivesTheCodeOfTheFirstFailingStage) {
    const Case& c = GetParam();
    EXPECT_EQ(verifyBytes(c.name, c.make()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, PeStructure, ::testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PeImage, LocatesTheFieldsTheDigestSkipsForBothKinds) {
    for (const bool plus : {false, true}) {
        SyntheticPe pe;
        pe.plus = plus;
        const Image bytes = pe.build();
        const auto image = authenticode::parsePeImage(bytes);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->checksumOffset, pe.checksumOffset());
        EXPECT_EQ(image->certificateDirectoryOffset, pe.directoryOffset());
    }
}

TEST(UnreadableFiles, AreFileErrors) {
    const auto directory = std::filesystem::temp_directory_path();
    const std::string fifo = (directory / ("trustcheck-fifo-" + std::to_string(::getpid()))).string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO with no writer must not block the verifier.
    EXPECT_EQ(authenticode::verifyFileReason(fifo, anyTime), Reason::FileUnreadable);
    std::filesystem::remove(fifo);

    EXPECT_EQ(authenticode::verifyFileReason("", anyTime), Reason::FileUnreadable);
    EXPECT_EQ(authenticode::verifyFileReason(directory.string(), anyTime), Reason::FileUnreadable);
    EXPECT_EQ(authenticode::verifyFileReason((directory / "no-such-file-here").string(), anyTime),
              Reason::FileUnreadable);
}

}  // namespace
