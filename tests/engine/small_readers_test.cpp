// The small readers the formats share: base64 (scripts' signature blocks),
// SpcIndirectDataContent (what every signature says it signed) and the
// signature's DER at the front of the place a format keeps it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "authenticode/formats/signature_der.h"
#include "authenticode/reading/base64.h"
#include "authenticode/signature/indirect_data.h"
#include "signed_pe.h"

namespace {

using testing_support::concat;
using testing_support::Data;
using testing_support::der;

// RFC 4648's own test vectors, and what a strict decoder refuses.
TEST(Base64, DecodesExactlyThePaddedStandardForm) {
    const struct {
        const char* text;
        std::optional<std::string> decoded;  // nothing: refused
        const char* note;
    } rows[] = {
        {"", std::string(""), "RFC 4648 section 10"},
        {"Zg==", std::string("f"), "RFC 4648 section 10"},
        {"Zm8=", std::string("fo"), "RFC 4648 section 10"},
        {"Zm9v", std::string("foo"), "RFC 4648 section 10"},
        {"Zm9vYg==", std::string("foob"), "RFC 4648 section 10"},
        {"Zm9vYmE=", std::string("fooba"), "RFC 4648 section 10"},
        {"Zm9vYmFy", std::string("foobar"), "RFC 4648 section 10"},
        {"+/+/", std::string("\xFB\xFF\xBF"), "the two letters beyond the alphanumerics"},
        {"Zg", std::nullopt, "unpadded"},
        {"Zg=", std::nullopt, "a length that is not a multiple of four"},
        {"Z===", std::nullopt, "three padding characters"},
        {"Zm=v", std::nullopt, "padding inside"},
        {"Zm9v\n", std::nullopt, "a line break: callers strip their own lines"},
        {"Zm 9v", std::nullopt, "a space"},
        {"-_-_", std::nullopt, "the URL-safe alphabet"},
        {"Zm9v====", std::nullopt, "a whole quartet of padding"},
    };
    for (const auto& row : rows) {
        const auto decoded = authenticode::decodeBase64(row.text);
        if (!row.decoded) {
            EXPECT_FALSE(decoded) << row.text << ": " << row.note;
            continue;
        }
        ASSERT_TRUE(decoded) << row.text << ": " << row.note;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *row.decoded) << row.text << ": " << row.note;
    }
}

// SpcIndirectDataContent ::= SEQUENCE { data SEQUENCE { type OID, value ANY
// OPTIONAL }, messageDigest DigestInfo }, built field by field.
TEST(IndirectData, ReadsTheTypeAndDigestAndNothingElse) {
    const Data peImageData = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
    const Data sha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const Data null = {0x05, 0x00};
    const Data value = der(0x30, {0x03, 0x01, 0x00});
    const Data digest = der(0x04, Data(32, 0xAB));
    const auto indirect = [](const Data& data, const Data& digestInfo) {
        return der(0x30, concat({data, digestInfo}));
    };
    const Data goodData = der(0x30, concat({peImageData, value}));
    const Data goodDigest = der(0x30, concat({der(0x30, concat({sha256, null})), digest}));

    const struct {
        Data encoding;
        bool reads;
        const char* note;
    } rows[] = {
        {indirect(goodData, goodDigest), true, "a PE's: type, value, SHA-256 with NULL parameters"},
        {indirect(der(0x30, peImageData), goodDigest), true, "a type without a value"},
        {indirect(goodData, der(0x30, concat({der(0x30, sha256), digest}))), true, "no parameters"},
        {concat({indirect(goodData, goodDigest), {0x00}}), false, "a byte after it"},
        {der(0x31, concat({goodData, goodDigest})), false, "a SET, not a SEQUENCE"},
        {der(0x30, concat({goodData, goodDigest, null})), false, "a third field"},
        {indirect(der(0x30, concat({peImageData, value, value})), goodDigest), false, "two values"},
        {indirect(der(0x30, value), goodDigest), false, "a value without a type"},
        {indirect(goodData, der(0x30, concat({der(0x30, concat({sha256, null, null})), digest}))), false,
         "two parameters"},
        {indirect(goodData, der(0x30, concat({der(0x30, concat({sha256, null})), der(0x03, Data(33, 0))}))), false,
         "a digest that is not an OCTET STRING"},
        {indirect(goodData, der(0x30, der(0x30, concat({sha256, null})))), false, "no digest"},
    };
    for (const auto& row : rows) {
        const auto read = authenticode::parseIndirectData(authenticode::Bytes(row.encoding));
        EXPECT_EQ(read.has_value(), row.reads) << row.note;
        if (read && row.reads) {
            EXPECT_EQ(testing_support::toData(read->dataType), Data(peImageData.begin() + 2, peImageData.end()))
                << row.note;
            EXPECT_EQ(testing_support::toData(read->digestAlgorithm), Data(sha256.begin() + 2, sha256.end()))
                << row.note;
            EXPECT_EQ(testing_support::toData(read->digest), Data(32, 0xAB)) << row.note;
        }
    }
}

// Packages and scripts keep exactly the signature; PE, cabinet and installer
// files pad it with zeros. Anything else after it is data no digest covers.
TEST(SignatureDer, IsOneSequenceWithOnlyWhatTheFormatAllowsAfterIt) {
    using authenticode::AfterSignature;
    using authenticode::Reason;
    const Data message = der(0x30, der(0x06, {0x2A, 0x03}));
    const struct {
        Data place;
        AfterSignature allowed;
        std::variant<Data, Reason> expected;  // the signature's bytes, or why not
        const char* note;
    } rows[] = {
        {message, AfterSignature::Nothing, message, "exactly the signature"},
        {message, AfterSignature::ZeroPadding, message, "no padding at all"},
        {concat({message, Data(7, 0)}), AfterSignature::ZeroPadding, message, "zeros after it are padding"},
        {concat({message, Data(7, 0)}), AfterSignature::Nothing, Reason::HiddenDataInSignature,
         "zeros where nothing may follow"},
        {concat({message, {0, 0, 1}}), AfterSignature::ZeroPadding, Reason::HiddenDataInSignature,
         "a byte that is not padding"},
        {concat({message, message}), AfterSignature::Nothing, Reason::HiddenDataInSignature, "a second message"},
        {der(0x31, der(0x06, {0x2A, 0x03})), AfterSignature::Nothing, Reason::MalformedMessage, "a SET"},
        {Data(message.begin(), message.end() - 1), AfterSignature::ZeroPadding, Reason::MalformedMessage,
         "cut short"},
        {{}, AfterSignature::ZeroPadding, Reason::MalformedMessage, "nothing at all"},
        {Data(8, 0), AfterSignature::ZeroPadding, Reason::MalformedMessage, "only padding"},
    };
    for (const auto& row : rows) {
        const auto found = authenticode::signatureDer(authenticode::Bytes(row.place), row.allowed);
        if (const auto* reason = std::get_if<Reason>(&row.expected)) {
            ASSERT_TRUE(std::holds_alternative<Reason>(found)) << row.note;
            EXPECT_EQ(std::get<Reason>(found), *reason) << row.note;
        } else {
            ASSERT_TRUE(std::holds_alternative<authenticode::Bytes>(found)) << row.note;
            EXPECT_EQ(testing_support::toData(std::get<authenticode::Bytes>(found)), std::get<Data>(row.expected))
                << row.note;
        }
    }
}

}  // namespace
