#include "authenticode/signed_message.h"

#include <climits>
#include <initializer_list>
#include <vector>

#include "authenticode/asn1_view.h"
#include "authenticode/der.h"
#include "authenticode/oids.h"

namespace authenticode {

namespace {

// A DER header: the tag and the definite length of `length` contents bytes.
void appendHeader(std::vector<std::uint8_t>& out, std::uint8_t tag, std::size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    std::uint8_t bytes[sizeof(std::size_t)];
    std::size_t count = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        bytes[count++] = static_cast<std::uint8_t>(rest & 0xFF);
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count > 0) {
        out.push_back(bytes[--count]);
    }
}

void appendElement(std::vector<std::uint8_t>& out, std::uint8_t tag, std::initializer_list<Bytes> parts) {
    std::size_t length = 0;
    for (const Bytes part : parts) {
        length += part.size();
    }
    appendHeader(out, tag, length);
    for (const Bytes part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
}

// The same ContentInfo with only X.509 certificates in the SignedData's
// certificates field, or nothing when it has no other kind or is not
// ContentInfo(SignedData) at all (the decoder then judges it as it is).
//
// CMS lets that field carry attribute certificates ([1], [2]) and other
// formats ([3]) beside X.509 certificates; Microsoft's time-stamp tokens carry
// a version 1 attribute certificate there. The Windows verifier skips them,
// but OpenSSL's PKCS#7 decoder rejects the whole message. No signature covers
// the field, so dropping them changes nothing that is verified.
std::optional<std::vector<std::uint8_t>> withX509CertificatesOnly(Bytes der) {
    const auto contentInfo = der::readElement(der);
    if (!contentInfo || contentInfo->tag != der::tagSequence || contentInfo->encoding.size() != der.size()) {
        return std::nullopt;
    }
    der::Reader info(contentInfo->contents);
    const auto type = info.next(der::tagOid);
    const auto explicitContent = info.next(der::tagContext0);
    if (!type || !explicitContent || !info.atEnd()) {
        return std::nullopt;
    }
    const auto signedData = der::readElement(explicitContent->contents);
    if (!signedData || signedData->tag != der::tagSequence ||
        signedData->encoding.size() != explicitContent->contents.size()) {
        return std::nullopt;
    }

    // version, digestAlgorithms and encapContentInfo come before the
    // certificates; crls and signerInfos after.
    der::Reader fields(signedData->contents);
    for (int i = 0; i < 3; ++i) {
        if (!fields.next()) {
            return std::nullopt;
        }
    }
    const std::size_t certificatesStart = signedData->contents.size() - fields.rest().size();
    const auto certificates = fields.next(der::tagContext0);
    if (!certificates) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> kept;
    bool dropped = false;
    for (der::Reader choices(certificates->contents); !choices.atEnd();) {
        const auto choice = choices.next();
        if (!choice) {
            return std::nullopt;
        }
        if (choice->tag == der::tagSequence) {
            kept.insert(kept.end(), choice->encoding.begin(), choice->encoding.end());
        } else {
            dropped = true;
        }
    }
    if (!dropped) {
        return std::nullopt;
    }

    std::vector<std::uint8_t> newCertificates;
    appendElement(newCertificates, der::tagContext0, {Bytes(kept)});
    std::vector<std::uint8_t> newSignedData;
    appendElement(newSignedData, der::tagSequence,
                  {signedData->contents.first(certificatesStart), Bytes(newCertificates), fields.rest()});
    std::vector<std::uint8_t> newExplicit;
    appendElement(newExplicit, der::tagContext0, {Bytes(newSignedData)});
    std::vector<std::uint8_t> newContentInfo;
    appendElement(newContentInfo, der::tagSequence, {type->encoding, Bytes(newExplicit)});
    return newContentInfo;
}

}  // namespace

std::variant<SignedMessage, Reason> decodeSignedMessage(Bytes original) {
    const auto cleaned = withX509CertificatesOnly(original);
    const Bytes der = cleaned ? Bytes(*cleaned) : original;
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
    // The first signer decides; any others are not consulted, as on Windows.

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
