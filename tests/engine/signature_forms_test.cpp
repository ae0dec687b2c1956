// Forms of signature that real signers produce and the platform accepts:
// certificates that are not X.509 in the certificate sets, several signers,
// and time-stamp tokens without their signer's certificate. Each case
// changes a fixture's signature where no signature covers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <iterator>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>

#include "authenticode/reason.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "signed_pe.h"

namespace {

using authenticode::Reason;
using namespace testing_support;

constexpr std::time_t pinnedNow = 1893456000;  // 2030-01-01
const char* const timestamped = "pe/trust-timestamped.exe";  // RFC 3161 token

// An attribute certificate (CMS CertificateChoices [1] and [2]) and another
// format ([3]): what Microsoft's time-stamp tokens and other signers carry
// beside X.509 certificates. Only the tag matters to a verifier that skips
// them.
const Data attributeCertificateV1 = der(0xA1, der(0x30, {0x02, 0x01, 0x00}));
const Data attributeCertificateV2 = der(0xA2, der(0x30, {0x02, 0x01, 0x01}));
const Data otherCertificateFormat = der(0xA3, concat({oidUnknown, der(0x30, {0x05, 0x00})}));

// The RFC 3161 token inside the primary signer's unauthenticated attributes,
// with its SignedData's certificates replaced by `certificates` (the
// contents of the [0] field).
Data withTokenCertificates(const SignedPe& pe, const Data& certificates) {
    const auto attributes = authenticode::der::readElement(pe.unauthenticated);
    const auto attribute = authenticode::der::readElement(attributes->contents);
    authenticode::der::Reader attributeFields(attribute->contents);
    const Data type = toData(attributeFields.next()->encoding);
    const auto values = attributeFields.next();
    const auto token = authenticode::der::readElement(values->contents);
    authenticode::der::Reader tokenFields(token->contents);
    const Data tokenType = toData(tokenFields.next()->encoding);
    const auto explicitContent = tokenFields.next();
    const auto signedData = authenticode::der::readElement(explicitContent->contents);
    authenticode::der::Reader fields(signedData->contents);
    Data body;
    for (int i = 0; i < 3; ++i) {
        const Data field = toData(fields.next()->encoding);
        body.insert(body.end(), field.begin(), field.end());
    }
    fields.next(0xA0);  // the certificates the token came with
    if (!certificates.empty()) {
        const Data replaced = der(0xA0, certificates);
        body.insert(body.end(), replaced.begin(), replaced.end());
    }
    const Data rest = toData(fields.rest());
    body.insert(body.end(), rest.begin(), rest.end());
    const Data newToken = der(0x30, concat({tokenType, der(0xA0, der(0x30, body))}));
    return der(0xA1, der(0x30, concat({type, der(0x31, newToken)})));
}

Data tokenCertificates(const SignedPe& pe) {
    const auto attributes = authenticode::der::readElement(pe.unauthenticated);
    const auto attribute = authenticode::der::readElement(attributes->contents);
    authenticode::der::Reader attributeFields(attribute->contents);
    attributeFields.next();
    const auto token = authenticode::der::readElement(attributeFields.next()->contents);
    authenticode::der::Reader tokenFields(token->contents);
    tokenFields.next();
    const auto signedData = authenticode::der::readElement(tokenFields.next()->contents);
    authenticode::der::Reader fields(signedData->contents);
    fields.next();
    fields.next();
    fields.next();
    return SignedPe::contentsOf(toData(fields.next(0xA0)->encoding));
}

// A private key of the fixture PKI.
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
KeyPtr fixtureKey(const std::string& keyFile) {
    std::FILE* file = std::fopen(fixturePath("pki/" + keyFile).c_str(), "r");
    EVP_PKEY* key = file != nullptr ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) {
        std::fclose(file);
    }
    return KeyPtr(key, EVP_PKEY_free);
}

// The legacy RSA form of a signature over authenticated attributes (the [0]
// element as encoded in a SignerInfo): PKCS#1 v1.5 over the bare digest of
// the attributes as a SET, without a DigestInfo. `change` alters the digest
// before signing, and `digestOverride` signs another algorithm's digest.
Data bareSignature(const Data& authenticated, const std::string& keyFile, const EVP_MD* digest, bool change = false,
                   const EVP_MD* digestOverride = nullptr) {
    Data set = authenticated;
    set[0] = 0x31;
    const EVP_MD* used = digestOverride != nullptr ? digestOverride : digest;
    Data hash(static_cast<std::size_t>(EVP_MD_get_size(used)));
    unsigned int hashLength = 0;
    EVP_Digest(set.data(), set.size(), hash.data(), &hashLength, used, nullptr);
    if (change) {
        hash[0] ^= 0x01;
    }
    const KeyPtr owned = fixtureKey(keyFile);
    EVP_PKEY* key = owned.get();
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(context);
    EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING);
    std::size_t length = 0;
    EVP_PKEY_sign(context, nullptr, &length, hash.data(), hash.size());
    Data signature(length);
    EVP_PKEY_sign(context, signature.data(), &length, hash.data(), hash.size());
    EVP_PKEY_CTX_free(context);
    signature.resize(length);
    return der(0x04, signature);
}

const EVP_MD* digestNamedBy(const Data& algorithmIdentifier) {
    const unsigned char* cursor = algorithmIdentifier.data();
    X509_ALGOR* algorithm = d2i_X509_ALGOR(nullptr, &cursor, static_cast<long>(algorithmIdentifier.size()));
    const EVP_MD* digest = EVP_get_digestbyobj(algorithm->algorithm);
    X509_ALGOR_free(algorithm);
    return digest;
}

// A fixture whose primary signer carries a countersignature made with the
// time-stamp authority's key, with that countersignature re-signed in the
// legacy form.
const char* const countersigned = "pe/trust-expired-countersig-sha1-in-validity.exe";

Data withLegacyCountersignature(bool change, const EVP_MD* digestOverride = nullptr) {
    SignedPe pe = SignedPe::load(countersigned);
    const auto attributes = authenticode::der::readElement(pe.unauthenticated);
    const auto attribute = authenticode::der::readElement(attributes->contents);
    authenticode::der::Reader attributeFields(attribute->contents);
    const Data type = toData(attributeFields.next()->encoding);
    const auto values = attributeFields.next();
    const auto signerInfo = authenticode::der::readElement(values->contents);
    authenticode::der::Reader fields(signerInfo->contents);
    std::vector<Data> parts;
    while (!fields.atEnd()) {
        parts.push_back(toData(fields.next()->encoding));
    }
    // version, issuerAndSerialNumber, digestAlgorithm, [0] attributes,
    // digestEncryptionAlgorithm, encryptedDigest
    parts[5] = bareSignature(parts[3], "tsa.key", digestNamedBy(parts[2]), change, digestOverride);
    pe.unauthenticated = der(0xA1, der(0x30, concat({type, der(0x31, der(0x30, concat(parts)))})));
    return pe.file();
}

// The fixture leaf's subject key identifier, as a SignerInfo names it in CMS
// version 3: [0] IMPLICIT OCTET STRING.
Data leafKeyIdentifier(const std::string& certificateFile = "leaf.pem") {
    std::FILE* file = std::fopen(fixturePath("pki/" + certificateFile).c_str(), "r");
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    const ASN1_OCTET_STRING* identifier = X509_get0_subject_key_id(certificate);
    const Data value(ASN1_STRING_get0_data(identifier), ASN1_STRING_get0_data(identifier) + ASN1_STRING_length(identifier));
    X509_free(certificate);
    return der(0x80, value);
}

struct Case {
    const char* name;
    std::function<Data()> make;
    Reason expected;
    const char* note;
};

const Case cases[] = {
    {"attribute_certificates_beside_the_publishers",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.certificates = der(0xA0, concat({attributeCertificateV1, SignedPe::contentsOf(pe.certificates),
                                             attributeCertificateV2, otherCertificateFormat}));
         return pe.file();
     },
     Reason::Trusted, "[1], [2] and [3] choices are skipped, never fatal"},
    {"attribute_certificate_in_the_time_stamp_token",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = withTokenCertificates(pe, concat({tokenCertificates(pe), attributeCertificateV1}));
         return pe.file();
     },
     Reason::Trusted, "as in every token from Microsoft's time-stamp service"},
    {"time_stamp_token_without_certificates",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = withTokenCertificates(pe, {});
         return pe.file();
     },
     Reason::TimeStampSignerNotFound, "a token requested without certificates: CRYPT_E_NOT_FOUND"},
    {"time_stamp_token_with_only_an_attribute_certificate",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.unauthenticated = withTokenCertificates(pe, attributeCertificateV1);
         return pe.file();
     },
     Reason::TimeStampSignerNotFound, "the authority's certificate is still missing"},
    {"second_signer_is_ignored",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         SignedPe broken = pe;
         broken.signature.back() ^= 0x01;
         return pe.file(pe.signedData(der(0x31, concat({pe.signerInfo(), broken.signerInfo()}))));
     },
     Reason::Trusted, "the first signer decides; a broken second one is not consulted"},
    {"first_signer_decides",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         SignedPe broken = pe;
         broken.signature.back() ^= 0x01;
         return pe.file(pe.signedData(der(0x31, concat({broken.signerInfo(), pe.signerInfo()}))));
     },
     Reason::SignerSignatureInvalid, "a good second signer does not rescue a bad first one"},
    {"signer_named_by_key_identifier",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.signerVersion = {0x02, 0x01, 0x03};
         pe.signerId = leafKeyIdentifier();
         return pe.file();
     },
     Reason::Trusted, "CMS version 3 signer: subjectKeyIdentifier instead of issuer and serial"},
    {"key_identifier_naming_no_certificate",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         pe.signerVersion = {0x02, 0x01, 0x03};
         pe.signerId = leafKeyIdentifier("root.pem");
         return pe.file();
     },
     Reason::SignerCertificateMissing, "the root's identifier: no certificate in the signature has it"},
    {"second_signer_named_by_key_identifier",
     [] {
         SignedPe pe = SignedPe::load(timestamped);
         SignedPe second = pe;
         second.signerVersion = {0x02, 0x01, 0x03};
         second.signerId = leafKeyIdentifier();
         return pe.file(pe.signedData(der(0x31, concat({pe.signerInfo(), second.signerInfo()}))));
     },
     Reason::Trusted, "whatever form the signers after the first take"},
    {"legacy_countersignature_bare_sha1",
     [] { return withLegacyCountersignature(false); },
     Reason::Trusted, "old VeriSign/Symantec form: the bare SHA-1 digest, no DigestInfo"},
    {"legacy_countersignature_over_other_data",
     [] { return withLegacyCountersignature(true); },
     Reason::CounterSignatureInvalid, "the bare digest must be the attributes' digest"},
    {"legacy_countersignature_digest_of_another_length",
     [] { return withLegacyCountersignature(false, EVP_sha256()); },
     Reason::CounterSignatureInvalid, "a SHA-256 digest where the algorithm says SHA-1"},
    {"bare_digest_primary_signature",
     [] {
         SignedPe pe = SignedPe::load(countersigned);
         pe.signature = bareSignature(pe.authenticated, "leaf-expired.key", digestNamedBy(pe.digestAlgorithm));
         pe.unauthenticated.clear();
         return pe.file();
     },
     Reason::SignerSignatureInvalid, "the legacy form is accepted for countersignatures only"},
};

class SignatureForms : public ::testing::TestWithParam<Case> {};

TEST_P(SignatureForms, GiveThePlatformsAnswer) {
    const Case& c = GetParam();
    testing_support::useFixtureTrust("trusted.pem");
    const std::string path = writeTempFile(std::string(c.name) + ".exe", c.make());
    EXPECT_EQ(authenticode::verifyFileReason(path, pinnedNow), c.expected) << c.note;
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureForms, ::testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

namespace {

// A PKCS#1 v1.5 signature, DigestInfo and all, over authenticated
// attributes given as the [0] element of a SignerInfo: what a signer makes.
Data signatureOver(const Data& authenticated, const std::string& keyFile, const EVP_MD* digest) {
    Data set = authenticated;
    set[0] = 0x31;
    const KeyPtr owned = fixtureKey(keyFile);
    EVP_PKEY* key = owned.get();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::size_t length = 0;
    EVP_DigestSignInit(context, nullptr, digest, nullptr, key);
    EVP_DigestSign(context, nullptr, &length, set.data(), set.size());
    Data signature(length);
    EVP_DigestSign(context, signature.data(), &length, set.data(), set.size());
    EVP_MD_CTX_free(context);
    signature.resize(length);
    return der(0x04, signature);
}

// The authenticated attributes of a signer, one whole encoding each.
std::vector<Data> attributesOf(const Data& authenticated) {
    std::vector<Data> attributes;
    const Data contents = SignedPe::contentsOf(authenticated);  // the reader only views it
    for (authenticode::der::Reader reader(contents); !reader.atEnd();) {
        attributes.push_back(toData(reader.next()->encoding));
    }
    return attributes;
}

bool isContentType(const Data& attribute) {
    static const Data oid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03};
    const Data contents = SignedPe::contentsOf(attribute);
    return contents.size() >= oid.size() && std::equal(oid.begin(), oid.end(), contents.begin());
}

// Authenticated attributes changed and signed again by the same key: the
// signature holds, so only the engine's own rules about the attributes can
// decide. 2025-01-01 is inside the leaf's validity.
TEST(SignedAttributes, AreTakenAsWrittenAndMustNameTheContentType) {
    testing_support::useFixtureTrust("trusted.pem");
    constexpr std::time_t fixtureNow = 1735689600;
    const SignedPe original = SignedPe::load("pe/signed64-sha256.exe");
    const EVP_MD* digest = digestNamedBy(original.digestAlgorithm);
    const std::vector<Data> attributes = attributesOf(original.authenticated);
    ASSERT_GE(attributes.size(), 3u);
    ASSERT_TRUE(std::any_of(attributes.begin(), attributes.end(), isContentType));

    const auto verifyWith = [&](const std::vector<Data>& changed, const char* name) {
        SignedPe pe = original;
        pe.authenticated = der(0xA0, concat(changed));
        pe.signature = signatureOver(pe.authenticated, "leaf.key", digest);
        return authenticode::verifyFileReason(writeTempFile(name, pe.file()), fixtureNow);
    };

    // Re-signed unchanged: the helper itself makes a signature that holds.
    EXPECT_EQ(verifyWith(attributes, "attributes-resigned.exe"), Reason::Trusted);

    // Out of DER order, signed as written: the signature covers the bytes
    // as they are, so they must be hashed as they are, not sorted first.
    std::vector<Data> reversed(attributes.rbegin(), attributes.rend());
    EXPECT_EQ(verifyWith(reversed, "attributes-reversed.exe"), Reason::Trusted);

    // Without the contentType attribute, which CMS requires whenever there
    // are authenticated attributes.
    std::vector<Data> withoutContentType;
    std::copy_if(attributes.begin(), attributes.end(), std::back_inserter(withoutContentType),
                 [](const Data& attribute) { return !isContentType(attribute); });
    EXPECT_EQ(verifyWith(withoutContentType, "attributes-no-content-type.exe"), Reason::SignerSignatureInvalid);
}

}  // namespace

namespace {

// Long after every certificate has expired, a time-stamp still vouches for
// the signature: both chains are checked at the stamped time (2024-01-01),
// the authority's too, never at the time of the check.
TEST(TimeStamps, ChainsAreCheckedAtTheStampedTimeLongAfterExpiry) {
    testing_support::useFixtureTrust("trusted.pem");
    constexpr std::time_t year2100 = 4102444800;  // the fixture PKI expires at the end of 2099
    const std::string path = fixturePath(timestamped);
    EXPECT_EQ(authenticode::verifyFileReason(path, year2100), Reason::Trusted);
    // Without the time-stamp the same file is judged now, and has expired.
    SignedPe pe = SignedPe::load(timestamped);
    pe.unauthenticated.clear();
    EXPECT_EQ(authenticode::verifyFileReason(writeTempFile("stamp-removed.exe", pe.file()), year2100),
              Reason::CertificateExpired);
}

}  // namespace
