#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "authenticode/reading/der.h"

namespace {

using authenticode::Bytes;
using authenticode::der::readElement;

std::optional<std::size_t> contentLength(const std::vector<std::uint8_t>& bytes) {
    const auto element = readElement(Bytes(bytes.data(), bytes.size()));
    return element ? std::optional(element->contents.size()) : std::nullopt;
}

TEST(DerElement, ReadsDefiniteLengthsAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(contentLength({0x30, 0x00}), 0u);
    EXPECT_EQ(contentLength({0x04, 0x02, 0xAA, 0xBB, 0xCC}), 2u);  // trailing bytes are not part of it
    std::vector<std::uint8_t> longForm{0x04, 0x82, 0x01, 0x00};
    longForm.resize(4 + 0x100);
    EXPECT_EQ(contentLength(longForm), 0x100u);

    EXPECT_EQ(contentLength({}), std::nullopt);
    EXPECT_EQ(contentLength({0x30}), std::nullopt);
    EXPECT_EQ(contentLength({0x04, 0x03, 0xAA}), std::nullopt);            // runs past the end
    EXPECT_EQ(contentLength({0x30, 0x80, 0x00, 0x00}), std::nullopt);      // indefinite length
    EXPECT_EQ(contentLength({0x04, 0x82, 0x01}), std::nullopt);            // length bytes cut off
    EXPECT_EQ(contentLength({0x04, 0x85, 1, 0, 0, 0, 0}), std::nullopt);   // absurd length
    EXPECT_EQ(contentLength({0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}), std::nullopt);
    EXPECT_EQ(contentLength({0x1F, 0x81, 0x00, 0x00}), std::nullopt);      // multi-byte tag
}

// Length encodings, each as the only element of its input: DER has one
// encoding per length (X.690 10.1), and the reader takes no other, as
// BoringSSL's CBS_get_asn1 does.
TEST(DerElement, AcceptsOnlyTheShortestDefiniteLength) {
    const auto withContents = [](std::vector<std::uint8_t> header, std::size_t length) {
        header.resize(header.size() + length, 0xAB);
        return header;
    };
    const struct {
        std::vector<std::uint8_t> encoding;
        std::optional<std::size_t> length;  // nothing: refused
        const char* note;
    } rows[] = {
        {withContents({0x04, 0x00}, 0), 0u, "short form, empty"},
        {withContents({0x04, 0x7F}, 0x7F), 0x7Fu, "short form, the largest"},
        {withContents({0x04, 0x81, 0x80}, 0x80), 0x80u, "long form, the smallest length that needs it"},
        {withContents({0x04, 0x82, 0x01, 0x00}, 0x100), 0x100u, "long form, two bytes"},
        {withContents({0x04, 0x83, 0x01, 0x00, 0x00}, 0x10000), 0x10000u, "long form, three bytes"},
        {withContents({0x04, 0x81, 0x05}, 5), std::nullopt, "long form for a length the short form holds"},
        {withContents({0x04, 0x81, 0x7F}, 0x7F), std::nullopt, "long form for 127"},
        {withContents({0x04, 0x82, 0x00, 0x80}, 0x80), std::nullopt, "a leading zero length byte"},
        {withContents({0x04, 0x82, 0x00, 0x05}, 5), std::nullopt, "a leading zero before a short length"},
        {withContents({0x04, 0x84, 0x00, 0x00, 0x01, 0x00}, 0x100), std::nullopt, "two leading zeros"},
        {{0x30, 0x80, 0x04, 0x00, 0x00, 0x00}, std::nullopt, "indefinite length, end-of-contents included"},
        {withContents({0x04, 0x81, 0x80}, 0x7F), std::nullopt, "one byte too long for the input"},
        {withContents({0x04, 0x05}, 4), std::nullopt, "short form, one byte too long for the input"},
        {{0x04, 0x82, 0x01}, std::nullopt, "length bytes cut off"},
        {{0x04, 0x81}, std::nullopt, "no length byte after the long-form count"},
        {{0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, std::nullopt, "the largest four-byte length, far past the input"},
        {{0x04, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00}, std::nullopt, "five length bytes, more than any size here"},
        {{0x04, 0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, std::nullopt,
         "a length that would wrap a 64-bit offset"},
        {{0x04, 0xFF}, std::nullopt, "the reserved long-form count 127"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(contentLength(row.encoding), row.length) << row.note;
    }
}

TEST(DerReader, ConsumesOnlyWhenTheTagMatches) {
    const std::vector<std::uint8_t> bytes{0x02, 0x01, 0x05, 0x04, 0x01, 0x07};
    authenticode::der::Reader reader(Bytes(bytes.data(), bytes.size()));
    EXPECT_FALSE(reader.next(authenticode::der::tagOctetString).has_value());
    EXPECT_TRUE(reader.next(authenticode::der::tagInteger).has_value());
    const auto octets = reader.next(authenticode::der::tagOctetString);
    ASSERT_TRUE(octets.has_value());
    EXPECT_EQ(octets->contents[0], 0x07);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.next().has_value());
}

}  // namespace
