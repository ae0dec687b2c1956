#include "authenticode/signature/signed_message.h"

#include <climits>
#include <iterator>
#include <initializer_list>
#include <vector>

#include "authenticode/reading/der_shapes.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/certificate_cache.h"
#include "authenticode/signature/oids.h"
#include "authenticode/signature/openssl_ptr.h"

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

// The X.509 certificates of the certificates field, in order, or nothing
// when the field does not parse (OpenSSL's decoder then judges it).
//
// CMS lets that field carry attribute certificates ([1], [2]) and other
// formats ([3]) beside X.509 certificates; Microsoft's time-stamp tokens carry
// a version 1 attribute certificate there. The Windows verifier skips them,
// but OpenSSL's PKCS#7 decoder rejects the whole message. No signature covers
// the field, so leaving them out changes nothing that is verified.
std::optional<std::vector<Bytes>> x509Certificates(const der::Element& certificates) {
    std::vector<Bytes> kept;
    for (der::Reader choices(certificates.contents); !choices.atEnd();) {
        const auto choice = choices.next();
        if (!choice) {
            return std::nullopt;
        }
        if (choice->tag == der::tagSequence) {
            kept.push_back(choice->encoding);
        }
    }
    return kept;
}

// The issuerAndSerialNumber of the certificate among `certificates` (the
// contents of the certificates field) whose subject key identifier is `key`.
std::optional<std::vector<std::uint8_t>> issuerAndSerialFor(Bytes certificates, Bytes key) {
    for (der::Reader choices(certificates); !choices.atEnd();) {
        const auto choice = choices.next();
        if (!choice) {
            return std::nullopt;
        }
        if (choice->tag != der::tagSequence) {
            continue;
        }
        const X509Ptr certificate = decodedCertificate(choice->encoding);
        const ASN1_OCTET_STRING* identifier = certificate ? X509_get0_subject_key_id(certificate.get()) : nullptr;
        if (identifier == nullptr || !sameBytes(bytesOf(identifier), key)) {
            continue;
        }
        unsigned char* issuer = nullptr;
        unsigned char* serial = nullptr;
        const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(certificate.get()), &issuer);
        const int serialLength = i2d_ASN1_INTEGER(X509_get0_serialNumber(certificate.get()), &serial);
        const Asn1BytesPtr ownedIssuer(issuer);
        const Asn1BytesPtr ownedSerial(serial);
        if (issuerLength <= 0 || serialLength <= 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> out;
        appendElement(out, der::tagSequence,
                      {Bytes(issuer, static_cast<std::size_t>(issuerLength)),
                       Bytes(serial, static_cast<std::size_t>(serialLength))});
        return out;
    }
    return std::nullopt;
}

// The signerInfos field holding only the first signer, the one that
// decides, named by issuer and serial number when it names its certificate
// by subject key identifier (a CMS version 3 SignerInfo, which OpenSSL's
// PKCS#7 decoder cannot read). The identifier only finds the certificate;
// the signature covers neither it nor the signers after the first. Nothing
// when neither applies.
std::optional<std::vector<std::uint8_t>> firstSignerByIssuerAndSerial(const der::Element& signerInfos,
                                                                      Bytes certificates) {
    der::Reader signers(signerInfos.contents);
    const auto first = signers.next(der::tagSequence);
    if (!first) {
        return std::nullopt;
    }
    const bool othersFollow = !signers.atEnd();
    std::vector<std::uint8_t> out;
    der::Reader fields(first->contents);
    const auto version = fields.next(der::tagInteger);
    const auto keyIdentifier = fields.next(0x80);  // [0] IMPLICIT SubjectKeyIdentifier
    // A key identifier that names no certificate here becomes a name that
    // names none either, so the signer's certificate is reported missing.
    static constexpr std::uint8_t nobody[] = {der::tagSequence, 0x05, der::tagSequence, 0x00, der::tagInteger, 0x01, 0x00};
    std::optional<std::vector<std::uint8_t>> issuerAndSerial;
    if (version && keyIdentifier) {
        issuerAndSerial = issuerAndSerialFor(certificates, keyIdentifier->contents)
                              .value_or(std::vector<std::uint8_t>(std::begin(nobody), std::end(nobody)));
    }
    if (!issuerAndSerial) {
        if (!othersFollow) {
            return std::nullopt;
        }
        appendElement(out, der::tagSet, {first->encoding});
        return out;
    }
    static constexpr std::uint8_t version1[] = {der::tagInteger, 0x01, 0x01};
    std::vector<std::uint8_t> signer;
    appendElement(signer, der::tagSequence, {Bytes(version1), Bytes(*issuerAndSerial), fields.rest()});
    appendElement(out, der::tagSet, {Bytes(signer)});
    return out;
}

// What OpenSSL's PKCS#7 decoder is given.
struct DecoderInput {
    // The ContentInfo to decode, when it differs from the original.
    std::optional<std::vector<std::uint8_t>> rewritten;
    // The X.509 certificates taken out of it, in order, to be decoded one at
    // a time through the cache (certificate_cache.h); nothing when they were
    // left in.
    std::optional<std::vector<Bytes>> certificates;
};

// The same ContentInfo in the shape OpenSSL's PKCS#7 decoder reads, where
// it differs only in what no signature covers (see the functions above),
// and without its certificates, which are decoded one by one. Left as it is
// when it is not ContentInfo(SignedData) at all: the decoder then judges it.
DecoderInput readableByDecoder(Bytes der) {
    const auto contentInfo = der::readWhole(der, der::tagSequence);
    const auto info = contentInfo ? der::readPair(contentInfo->contents, der::tagOid, der::tagContext0) : std::nullopt;
    if (!info) {
        return {};
    }
    const auto& [type, explicitContent] = *info;
    const auto signedData = der::readWhole(explicitContent.contents, der::tagSequence);
    if (!signedData) {
        return {};
    }

    // version, digestAlgorithms, encapContentInfo, certificates [0]
    // OPTIONAL, crls [1] OPTIONAL, signerInfos.
    der::Reader fields(signedData->contents);
    std::vector<Bytes> parts;
    for (int i = 0; i < 3; ++i) {
        const auto field = fields.next();
        if (!field) {
            return {};
        }
        parts.push_back(field->encoding);
    }
    const auto certificates = fields.next(der::tagContext0);
    const auto crls = fields.next(der::tagContext1);
    const auto signerInfos = fields.next(der::tagSet);
    if (!signerInfos || !fields.atEnd()) {
        return {};
    }
    DecoderInput input;
    input.certificates = certificates ? x509Certificates(*certificates) : std::nullopt;
    const auto newSignerInfos =
        firstSignerByIssuerAndSerial(*signerInfos, certificates ? certificates->contents : Bytes{});
    if (!input.certificates && !newSignerInfos) {
        return {};
    }
    if (certificates && !input.certificates) {
        parts.push_back(certificates->encoding);
    }
    if (crls) {
        parts.push_back(crls->encoding);
    }
    parts.push_back(newSignerInfos ? Bytes(*newSignerInfos) : signerInfos->encoding);

    std::vector<std::uint8_t> body;
    for (const Bytes part : parts) {
        body.insert(body.end(), part.begin(), part.end());
    }
    std::vector<std::uint8_t> newSignedData;
    appendElement(newSignedData, der::tagSequence, {Bytes(body)});
    std::vector<std::uint8_t> newExplicit;
    appendElement(newExplicit, der::tagContext0, {Bytes(newSignedData)});
    input.rewritten.emplace();
    appendElement(*input.rewritten, der::tagSequence, {type.encoding, Bytes(newExplicit)});
    return input;
}

// Puts the certificates taken out before decoding back into the decoded
// message, in their order. False if one of them does not decode, which
// makes the message malformed, as it would have been for the decoder.
bool restoreCertificates(PKCS7_SIGNED& signedData, const std::vector<Bytes>& certificates) {
    CertificateStackPtr stack(sk_X509_new_null());
    if (!stack) {
        return false;
    }
    for (const Bytes der : certificates) {
        X509Ptr certificate = decodedCertificate(der);
        if (!certificate || sk_X509_push(stack.get(), certificate.get()) <= 0) {
            return false;
        }
        certificate.release();
    }
    sk_X509_pop_free(signedData.cert, X509_free);
    signedData.cert = stack.release();
    return true;
}

}  // namespace

std::variant<SignedMessage, Reason> decodeSignedMessage(Bytes original) {
    const DecoderInput input = readableByDecoder(original);
    const Bytes der = input.rewritten ? Bytes(*input.rewritten) : original;
    if (der.empty() || der.size() > LONG_MAX) {
        return Reason::MalformedMessage;
    }
    const unsigned char* cursor = der.data();
    Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    if (!pkcs7 || cursor != der.data() + der.size() || !PKCS7_type_is_signed(pkcs7.get()) ||
        pkcs7->d.sign == nullptr) {
        return Reason::MalformedMessage;
    }
    if (input.certificates && !restoreCertificates(*pkcs7->d.sign, *input.certificates)) {
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
