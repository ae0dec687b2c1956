// Catalogs: which files are recognised as one, and what their signed content
// must be before the signer is looked at. The messages are built here; a
// stand-in SignerInfo that names no certificate in the message shows that a
// file got past the content check (the signer check then fails first).
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

#include "authenticode/verify_file.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using Image = std::vector<std::uint8_t>;

constexpr std::time_t anyTime = 1700000000;

Image tlv(std::uint8_t tag, std::initializer_list<Image> parts) {
    Image body;
    for (const Image& part : parts) {
        body.insert(body.end(), part.begin(), part.end());
    }
    // Room for the whole element first: growing a one-byte vector here makes
    // GCC 12 at -O3 report copies out of bounds (-Warray-bounds,
    // -Wstringop-overflow) inside std::vector, which do not happen.
    Image out;
    out.reserve(4 + body.size());
    out.push_back(tag);
    // The shortest length form, as DER requires: the reader refuses others.
    if (body.size() < 0x80) {
        out.push_back(static_cast<std::uint8_t>(body.size()));
    } else if (body.size() < 0x100) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(body.size())});
    } else {
        const auto size = static_cast<std::uint16_t>(body.size());
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Image seq(std::initializer_list<Image> parts) { return tlv(0x30, parts); }
// A primitive element of fewer than 128 bytes.
Image raw(std::uint8_t tag, Image contents) {
    contents.insert(contents.begin(), {tag, static_cast<std::uint8_t>(contents.size())});
    return contents;
}

const Image oidSignedData = raw(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02});
const Image oidData = raw(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});
const Image oidTrustList = raw(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x01});
const Image oidCatalogList = raw(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x01});
const Image oidCatalogMember = raw(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x02});
const Image oidSha256 = raw(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01});
const Image oidRsa = raw(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01});
const Image null = raw(0x05, {});
const Image version1 = raw(0x02, {0x01});
const Image listId = raw(0x04, Image(16, 0x42));
const Image utcTime = raw(0x17, {'2', '4', '0', '1', '0', '1', '1', '2', '0', '0', '0', '0', 'Z'});
const Image generalizedTime =
    raw(0x18, {'2', '0', '2', '4', '0', '1', '0', '1', '1', '2', '0', '0', '0', '0', 'Z'});
const Image usage = seq({oidCatalogList});
const Image memberAlgorithm = seq({oidCatalogMember, null});
const Image members = seq({seq({raw(0x04, Image(40, 0x33)), tlv(0x31, {})})});

// Fields of a catalog's trust list, in order.
Image trustList(std::initializer_list<Image> fields) { return tlv(0x30, fields); }
Image catalogList() { return trustList({usage, listId, utcTime, memberAlgorithm, members}); }

// A SignerInfo OpenSSL can read, naming issuer "" and serial 1.
Image standInSigner() {
    return seq({version1, seq({seq({}), version1}), seq({oidSha256, null}), seq({oidRsa, null}),
                raw(0x04, Image(8, 0x01))});
}

Image contentInfo(const Image& type, const Image& content, const Image& signers) {
    const Image signedData = seq({version1, tlv(0x31, {seq({oidSha256, null})}),
                                  seq({type, tlv(0xA0, {content})}), tlv(0x31, {signers})});
    return seq({oidSignedData, tlv(0xA0, {signedData})});
}

Image catalog(const Image& list = catalogList(), const Image& signers = standInSigner()) {
    return contentInfo(oidTrustList, list, signers);
}

Image mutated(Image image, const std::function<void(Image&)>& change) {
    change(image);
    return image;
}

struct Case {
    const char* name;
    std::function<Image()> make;
    Reason expected;
};

const Case cases[] = {
    // Recognition.
    {"catalog_without_signer", [] { return catalog(catalogList(), {}); }, Reason::NoSignature},
    {"signed_plain_data", [] { return contentInfo(oidData, raw(0x04, {'h', 'i'}), standInSigner()); },
     Reason::SubjectFormatUnknown},
    {"content_info_not_signed_data",
     [] { return seq({oidData, tlv(0xA0, {raw(0x04, {'h', 'i'})})}); }, Reason::SubjectFormatUnknown},
    {"catalog_cut_short", [] { return mutated(catalog(), [](Image& i) { i.pop_back(); }); },
     Reason::SubjectFormatUnknown},
    {"catalog_followed_by_a_zero", [] { return mutated(catalog(), [](Image& i) { i.push_back(0); }); },
     Reason::HiddenDataInSignature},

    // The trust list: accepted shapes reach the signer.
    {"list_as_made_by_catalog_tools", [] { return catalog(); }, Reason::SignerCertificateMissing},
    {"list_with_every_optional_field",
     [] {
         return catalog(trustList({version1, usage, listId, version1, generalizedTime, utcTime, memberAlgorithm,
                                   members, tlv(0xA0, {seq({})})}));
     },
     Reason::SignerCertificateMissing},
    {"list_with_only_required_fields", [] { return catalog(trustList({usage, utcTime, memberAlgorithm})); },
     Reason::SignerCertificateMissing},

    // ... and malformed ones do not.
    {"list_in_octet_string", [] { return catalog(tlv(0x04, {catalogList()})); }, Reason::MalformedMessage},
    {"list_without_this_update", [] { return catalog(trustList({usage, listId, memberAlgorithm, members})); },
     Reason::MalformedMessage},
    {"list_without_usage", [] { return catalog(trustList({listId, utcTime, memberAlgorithm, members})); },
     Reason::MalformedMessage},
    {"usage_not_object_identifiers",
     [] { return catalog(trustList({seq({version1}), listId, utcTime, memberAlgorithm, members})); },
     Reason::MalformedMessage},
    {"list_with_trailing_field",
     [] { return catalog(trustList({usage, listId, utcTime, memberAlgorithm, members, version1})); },
     Reason::MalformedMessage},
};

class CatalogStructure : public ::testing::TestWithParam<Case> {};

TEST_P(CatalogStructure, GivesTheCodeOfTheFirstFailingStage) {
    const Case& c = GetParam();
    const std::string path = testing_support::writeTempFile(std::string("cat-") + c.name, c.make());
    EXPECT_EQ(authenticode::verifyFileReason(path, anyTime), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, CatalogStructure, ::testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
