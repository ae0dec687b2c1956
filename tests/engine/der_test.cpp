#include <gtest/gtest.h>

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
