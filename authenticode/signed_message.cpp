#include "authenticode/signed_message.h"

#include <climits>

#include "authenticode/asn1_view.h"
#include "authenticode/der.h"
#include "authenticode/oids.h"

namespace authenticode {

std::variant<SignedMessage, Reason> decodeSignedMessage(Bytes der) {
    if (der.empty() || der.size() > LONG_MAX) {
        return Reason::MalformedMessage;
    }
    const unsigned char* cursor = der.data();
    Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    if (!pkcs7 || cursor != der.data() + der.size() || !PKCS7_type_is_signed(pkcs7.get()) ||
        pkcs7->d.sign == nullptr) {
        return Reason::MalformedMessage;
    }

    const PKCS7_SIGNED* signedData = pkcs7->d.sign;
    const PKCS7* inner = signedData->contents;
    if (inner == nullptr || inner->type == nullptr) {
        return Reason::MalformedMessage;
    }

    // OpenSSL keeps content of a type it does not know as an ASN.1 value:
    // a SEQUENCE with its whole encoding, an OCTET STRING with its value.
    // The signer's message digest covers the contents octets in both cases.
    const ASN1_TYPE* other = PKCS7_type_is_other(const_cast<PKCS7*>(inner)) ? inner->d.other : nullptr;
    if (other == nullptr) {
        return Reason::MalformedMessage;
    }
    Bytes content;
    Bytes digestedContent;
    if (other->type == V_ASN1_SEQUENCE) {
        content = bytesOf(other->value.sequence);
        const auto element = der::readElement(content);
        if (!element || element->encoding.size() != content.size()) {
            return Reason::MalformedMessage;
        }
        digestedContent = element->contents;
    } else if (other->type == V_ASN1_OCTET_STRING) {
        content = bytesOf(other->value.octet_string);
        digestedContent = content;
    } else {
        return Reason::MalformedMessage;
    }

    STACK_OF(PKCS7_SIGNER_INFO)* signers = signedData->signer_info;
    const int signerCount = sk_PKCS7_SIGNER_INFO_num(signers);
    if (signerCount <= 0) {
        return Reason::NoSignature;
    }
    if (signerCount != 1) {
        return Reason::MalformedMessage;
    }

    SignedMessage message;
    message.signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    message.certificates = signedData->cert;
    message.contentType = inner->type;
    message.content = content;
    message.digestedContent = digestedContent;
    message.pkcs7 = std::move(pkcs7);
    return message;
}

int nestedSignatureCount(const SignedMessage& message) {
    const STACK_OF(X509_ATTRIBUTE)* attributes = message.signer != nullptr ? message.signer->unauth_attr : nullptr;
    int count = 0;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        if (isOid(X509_ATTRIBUTE_get0_object(attribute), oids::bytes(oids::nestedSignature))) {
            count += X509_ATTRIBUTE_count(attribute);
        }
    }
    return count;
}

}  // namespace authenticode
