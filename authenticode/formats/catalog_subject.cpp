#include "authenticode/formats/catalog_subject.h"

#include "authenticode/reading/der.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/oids.h"
#include "authenticode/signature/trust_list.h"

namespace authenticode {

namespace {

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
// ContentInfo { szOID_CTL, ... }, ... } }: only as far as the inner content
// type, which is what makes the file a catalog.
std::optional<bool> encapsulatesCtl(const der::Element& contentInfo) {
    if (contentInfo.tag != der::tagSequence) {
        return std::nullopt;
    }
    der::Reader outer(contentInfo.contents);
    const auto type = outer.next(der::tagOid);
    const auto explicitContent = outer.next(der::tagContext0);
    if (!type || !der::isOid(*type, oids::bytes(oids::pkcs7SignedData)) || !explicitContent) {
        return std::nullopt;
    }
    const auto signedData = der::readElement(explicitContent->contents);
    if (!signedData || signedData->tag != der::tagSequence) {
        return std::nullopt;
    }
    der::Reader fields(signedData->contents);
    if (!fields.next(der::tagInteger) || !fields.next(der::tagSet)) {
        return std::nullopt;
    }
    const auto encapsulated = fields.next(der::tagSequence);
    if (!encapsulated) {
        return std::nullopt;
    }
    const auto contentType = der::Reader(encapsulated->contents).next(der::tagOid);
    if (!contentType) {
        return std::nullopt;
    }
    return der::isOid(*contentType, oids::bytes(oids::certificateTrustList));
}

bool isCatalogContentInfo(const der::Element& contentInfo) {
    return encapsulatesCtl(contentInfo).value_or(false);
}

// Well formed down to its top-level fields; what the entries say plays no
// part in a catalog's own signature.
bool isTrustList(Bytes encoding) {
    return readTrustList(encoding).has_value();
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

Outcome checkCatalogContent(const SignedMessage& message) {
    if (!isOid(message.contentType, oids::bytes(oids::certificateTrustList))) {
        return Reason::MalformedMessage;
    }
    // The list is the content itself, not an OCTET STRING wrapped around it.
    const PKCS7* inner = message.pkcs7 ? message.pkcs7->d.sign->contents : nullptr;
    if (inner == nullptr || inner->d.other == nullptr || inner->d.other->type != V_ASN1_SEQUENCE ||
        !isTrustList(message.content)) {
        return Reason::MalformedMessage;
    }
    return Outcome::pass();
}

std::optional<bool> encapsulatesTrustList(Bytes der) {
    const auto contentInfo = der::readElement(der);
    return contentInfo ? encapsulatesCtl(*contentInfo) : std::nullopt;
}

}  // namespace authenticode
