#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <cstdio>
#include <string>
#include <vector>

#include "authenticode/signature/certificate_cache.h"
#include "fixtures.h"

namespace {

using authenticode::Bytes;
using authenticode::decodedCertificate;
using testing_support::fixturePath;

std::vector<std::uint8_t> derOf(const std::string& fixture) {
    std::FILE* file = std::fopen(fixturePath(fixture).c_str(), "r");
    if (file == nullptr) {
        return {};
    }
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    unsigned char* der = nullptr;
    const int length = certificate != nullptr ? i2d_X509(certificate, &der) : 0;
    std::vector<std::uint8_t> out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    X509_free(certificate);
    return out;
}

std::vector<std::uint8_t> encodingOf(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    std::vector<std::uint8_t> out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    return out;
}

// What decodes is exactly one certificate: the cache must not hand out a
// certificate for bytes that merely start with one it holds.
TEST(CertificateCache, DecodesExactlyOneCertificate) {
    const std::vector<std::uint8_t> leaf = derOf("pki/leaf.pem");
    ASSERT_FALSE(leaf.empty());
    // Decoded once, so that the rows below meet it in the cache.
    ASSERT_TRUE(decodedCertificate(Bytes(leaf)));

    std::vector<std::uint8_t> trailing = leaf;
    trailing.push_back(0x00);
    const std::vector<std::uint8_t> cut(leaf.begin(), leaf.end() - 1);
    const std::vector<std::uint8_t> notACertificate{0x30, 0x03, 0x02, 0x01, 0x05};
    struct Row {
        const char* note;
        Bytes der;
        bool decodes;
    };
    const Row rows[] = {
        {"the certificate", Bytes(leaf), true},
        {"a byte after it", Bytes(trailing), false},
        {"its last byte missing", Bytes(cut), false},
        {"nothing", Bytes(), false},
        {"a SEQUENCE that is no certificate", Bytes(notACertificate), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decodedCertificate(row.der) != nullptr, row.decodes) << row.note;
    }
}

// Each caller owns a reference: dropping one leaves the other whole (the
// sanitizer build catches a reference too few).
TEST(CertificateCache, SameBytesShareOneCertificateWithReferencesOfTheirOwn) {
    const std::vector<std::uint8_t> der = derOf("pki/intermediate.pem");
    ASSERT_FALSE(der.empty());
    authenticode::X509Ptr first = decodedCertificate(Bytes(der));
    const authenticode::X509Ptr second = decodedCertificate(Bytes(der));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first.get(), second.get());
    first.reset();
    EXPECT_EQ(encodingOf(second.get()), der);
}

// More certificates than the cache keeps, then the first ones again: those
// dropped decode afresh, and every answer is the certificate asked for.
TEST(CertificateCache, CertificatesDroppedWhenFullDecodeAgain) {
    const std::vector<std::uint8_t> base = derOf("pki/leaf.pem");
    ASSERT_GT(base.size(), 4u);
    std::vector<std::vector<std::uint8_t>> variants;
    for (int i = 0; i < 200; ++i) {
        // Distinct bytes in the signature value: still a certificate to the
        // decoder, which checks no signature.
        std::vector<std::uint8_t> variant = base;
        variant[variant.size() - 1] = static_cast<std::uint8_t>(i);
        variant[variant.size() - 2] ^= 0x5A;
        variants.push_back(std::move(variant));
    }
    for (int round = 0; round < 2; ++round) {
        for (const auto& variant : variants) {
            const authenticode::X509Ptr certificate = decodedCertificate(Bytes(variant));
            ASSERT_TRUE(certificate);
            EXPECT_EQ(encodingOf(certificate.get()), variant);
        }
    }
}

}  // namespace
