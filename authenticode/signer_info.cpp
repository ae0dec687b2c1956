#include "authenticode/signer_info.h"

#include "authenticode/asn1_view.h"
#include "authenticode/digest_algorithm.h"
#include "authenticode/hasher.h"
#include "authenticode/openssl_ptr.h"

namespace authenticode {

namespace {

bool signatureVerifies(EVP_PKEY* key, const EVP_MD* digest, Bytes data, Bytes signature) {
    MdContextPtr context(EVP_MD_CTX_new());
    return context != nullptr && key != nullptr && !signature.empty() &&
           EVP_DigestVerifyInit(context.get(), nullptr, digest, nullptr, key) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

// The DER of the authenticated attributes as they are signed: the [0]
// IMPLICIT field re-tagged as a SET OF, in the order the signer wrote them.
Asn1BytesPtr encodeSignedAttributes(const STACK_OF(X509_ATTRIBUTE) * attributes, int& length) {
    unsigned char* encoding = nullptr;
    length = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(attributes), &encoding,
                           ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    return Asn1BytesPtr(length > 0 ? encoding : nullptr);
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
                            Bytes contentType) {
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

    int length = 0;
    const Asn1BytesPtr signedAttributes = encodeSignedAttributes(attributes, length);
    const bool valid = signedAttributes != nullptr &&
                       signatureVerifies(key, digest, Bytes(signedAttributes.get(), static_cast<std::size_t>(length)),
                                         signature);
    return {valid ? SignerStatus::Valid : SignerStatus::Invalid, certificate};
}

}  // namespace authenticode
