#include "authenticode/catalog_subject.h"

#include "authenticode/asn1_view.h"
#include "authenticode/der.h"
#include "authenticode/oids.h"

namespace authenticode {

namespace {

constexpr std::uint8_t tagUtcTime = 0x17;
constexpr std::uint8_t tagGeneralizedTime = 0x18;

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
// ContentInfo { szOID_CTL, ... }, ... } }: only as far as the inner content
// type, which is what makes the file a catalog.
bool isCatalogContentInfo(const der::Element& contentInfo) {
    if (contentInfo.tag != der::tagSequence) {
        return false;
    }
    der::Reader outer(contentInfo.contents);
    const auto type = outer.next(der::tagOid);
    const auto explicitContent = outer.next(der::tagContext0);
    if (!type || !der::isOid(*type, oids::bytes(oids::pkcs7SignedData)) || !explicitContent) {
        return false;
    }
    const auto signedData = der::readElement(explicitContent->contents);
    if (!signedData || signedData->tag != der::tagSequence) {
        return false;
    }
    der::Reader fields(signedData->contents);
    if (!fields.next(der::tagInteger) || !fields.next(der::tagSet)) {
        return false;
    }
    const auto encapsulated = fields.next(der::tagSequence);
    if (!encapsulated) {
        return false;
    }
    const auto contentType = der::Reader(encapsulated->contents).next(der::tagOid);
    return contentType && der::isOid(*contentType, oids::bytes(oids::certificateTrustList));
}

std::optional<der::Element> nextTime(der::Reader& reader) {
    if (auto time = reader.optional(tagUtcTime)) {
        return time;
    }
    return reader.optional(tagGeneralizedTime);
}

// CertificateTrustList ::= SEQUENCE {
//     version           INTEGER DEFAULT v1,
//     subjectUsage      SEQUENCE OF OBJECT IDENTIFIER,
//     listIdentifier    OCTET STRING OPTIONAL,
//     sequenceNumber    INTEGER OPTIONAL,
//     thisUpdate        UTCTime or GeneralizedTime,
//     nextUpdate        UTCTime or GeneralizedTime OPTIONAL,
//     subjectAlgorithm  AlgorithmIdentifier,
//     trustedSubjects   SEQUENCE OF TrustedSubject OPTIONAL,
//     extensions        [0] EXPLICIT Extensions OPTIONAL }
bool isTrustList(Bytes encoding) {
    const auto list = der::readElement(encoding);
    if (!list || list->tag != der::tagSequence || list->encoding.size() != encoding.size()) {
        return false;
    }
    der::Reader fields(list->contents);
    fields.optional(der::tagInteger);
    const auto usage = fields.next(der::tagSequence);
    if (!usage) {
        return false;
    }
    for (der::Reader usages(usage->contents); !usages.atEnd();) {
        if (!usages.next(der::tagOid)) {
            return false;
        }
    }
    fields.optional(der::tagOctetString);
    fields.optional(der::tagInteger);
    if (!nextTime(fields)) {
        return false;
    }
    nextTime(fields);
    if (!fields.next(der::tagSequence)) {
        return false;
    }
    fields.optional(der::tagSequence);
    fields.optional(der::tagContext0);
    return fields.atEnd();
}

}  // namespace

std::optional<SubjectOrReason> locateCatalogSubject(const MappedFile& file, std::string_view /*path*/) {
    const Bytes bytes = file.bytes();
    const auto contentInfo = der::readElement(bytes);
    if (!contentInfo || !isCatalogContentInfo(*contentInfo)) {
        return std::nullopt;
    }
    if (contentInfo->encoding.size() != bytes.size()) {
        return Reason::HiddenDataInSignature;
    }
    return Subject{contentInfo->encoding, checkCatalogContent};
}

Reason checkCatalogContent(const SignedMessage& message) {
    if (!isOid(message.contentType, oids::bytes(oids::certificateTrustList))) {
        return Reason::MalformedMessage;
    }
    // The list is the content itself, not an OCTET STRING wrapped around it.
    const PKCS7* inner = message.pkcs7 ? message.pkcs7->d.sign->contents : nullptr;
    if (inner == nullptr || inner->d.other == nullptr || inner->d.other->type != V_ASN1_SEQUENCE ||
        !isTrustList(message.content)) {
        return Reason::MalformedMessage;
    }
    return Reason::Trusted;
}

}  // namespace authenticode
