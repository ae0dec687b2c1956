#include "authenticode/signature/signer_info.h"

#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/digest_algorithm.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/signature/openssl_ptr.h"

#include <openssl/rsa.h>

#include <memory>
#include <vector>

namespace authenticode {

namespace {

bool signatureVerifies(EVP_PKEY* key, const EVP_MD* digest, Bytes data, Bytes signature) {
    MdContextPtr context(EVP_MD_CTX_new());
    return context != nullptr && key != nullptr && !signature.empty() &&
           EVP_DigestVerifyInit(context.get(), nullptr, digest, nullptr, key) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

// The legacy form of old VeriSign and Symantec countersignatures, which
// CryptoAPI accepts: an RSA PKCS#1 v1.5 block holding the bare digest of the
// signed data, without the DigestInfo around it. Exactly that: the recovered
// block must be the digest itself, as long as the algorithm's digests are.
bool bareDigestVerifies(EVP_PKEY* key, const EVP_MD* digest, Bytes data, Bytes signature) {
    if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || signature.empty()) {
        return false;
    }
    std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX_free>> context(EVP_PKEY_CTX_new(key, nullptr));
    std::vector<std::uint8_t> recovered(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
    std::size_t length = recovered.size();
    if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_verify_recover(context.get(), recovered.data(), &length, signature.data(), signature.size()) != 1) {
        return false;
    }
    recovered.resize(length);
    const std::vector<std::uint8_t> expected = digestOf(digest, data);
    return !expected.empty() && length == static_cast<std::size_t>(EVP_MD_get_size(digest)) &&
           sameBytes(recovered, expected);
}

// OpenSSL's encoding of something, owned, and a view of it.
struct Encoding {
    Asn1BytesPtr owner;
    Bytes bytes;
};

// The DER of the authenticated attributes as they are signed: the [0]
// IMPLICIT field re-tagged as a SET OF, in the order the signer wrote them.
// No owner when it cannot be encoded.
Encoding encodeSignedAttributes(const STACK_OF(X509_ATTRIBUTE) * attributes) {
    unsigned char* encoding = nullptr;
    const int length =
        ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(attributes), &encoding, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    Asn1BytesPtr owner(length > 0 ? encoding : nullptr);
    const Bytes bytes = owner ? Bytes(owner.get(), static_cast<std::size_t>(length)) : Bytes{};
    return {std::move(owner), bytes};
}

}  // namespace

ASN1_TYPE* singleAttributeValue(const STACK_OF(X509_ATTRIBUTE) * attributes, int nid) {
    const int first = X509at_get_attr_by_NID(attributes, nid, -1);
    if (first < 0 || X509at_get_attr_by_NID(attributes, nid, first) >= 0) {
        return nullptr;
    }
    X509_ATTRIBUTE* attribute = X509at_get_attr(attributes, first);
    if (X509_ATTRIBUTE_count(attribute) != 1) {
        return nullptr;
    }
    return X509_ATTRIBUTE_get0_type(attribute, 0);
}

SignerCheck checkSignerInfo(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certificates, Bytes digestedContent,
                            Bytes contentType, SignatureForms forms) {
    if (signer == nullptr || signer->issuer_and_serial == nullptr || signer->digest_alg == nullptr) {
        return {SignerStatus::Invalid, nullptr};
    }
    X509* certificate = certificates == nullptr
                            ? nullptr
                            : X509_find_by_issuer_and_serial(certificates, signer->issuer_and_serial->issuer,
                                                             signer->issuer_and_serial->serial);
    if (certificate == nullptr) {
        return {SignerStatus::CertificateMissing, nullptr};
    }
    const EVP_MD* digest = supportedDigest(bytesOf(signer->digest_alg->algorithm));
    if (digest == nullptr) {
        return {SignerStatus::UnsupportedAlgorithm, certificate};
    }

    EVP_PKEY* key = X509_get0_pubkey(certificate);
    const Bytes signature = bytesOf(signer->enc_digest);
    const STACK_OF(X509_ATTRIBUTE)* attributes = signer->auth_attr;
    if (sk_X509_ATTRIBUTE_num(attributes) <= 0) {
        const bool valid = signatureVerifies(key, digest, digestedContent, signature);
        return {valid ? SignerStatus::Valid : SignerStatus::Invalid, certificate};
    }

    if (!contentType.empty()) {
        const ASN1_TYPE* type = singleAttributeValue(attributes, NID_pkcs9_contentType);
        if (type == nullptr || type->type != V_ASN1_OBJECT || !isOid(type->value.object, contentType)) {
            return {SignerStatus::Invalid, certificate};
        }
    }
    const ASN1_TYPE* messageDigest = singleAttributeValue(attributes, NID_pkcs9_messageDigest);
    const std::vector<std::uint8_t> contentDigest = digestOf(digest, digestedContent);
    if (messageDigest == nullptr || messageDigest->type != V_ASN1_OCTET_STRING || contentDigest.empty() ||
        !sameBytes(bytesOf(messageDigest->value.octet_string), contentDigest)) {
        return {SignerStatus::Invalid, certificate};
    }

    const Encoding signedAttributes = encodeSignedAttributes(attributes);
    if (signedAttributes.owner == nullptr) {
        return {SignerStatus::Invalid, certificate};
    }
    const Bytes signedBytes = signedAttributes.bytes;
    const bool valid = signatureVerifies(key, digest, signedBytes, signature) ||
                       (forms == SignatureForms::AlsoLegacyBareDigest &&
                        bareDigestVerifies(key, digest, signedBytes, signature));
    return {valid ? SignerStatus::Valid : SignerStatus::Invalid, certificate};
}

}  // namespace authenticode
