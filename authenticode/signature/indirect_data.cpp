#include "authenticode/signature/indirect_data.h"

#include "authenticode/reading/der_shapes.h"

namespace authenticode {

namespace {

// The OID of a type followed by at most one element of value, the shape of
// both SpcAttributeTypeAndOptionalValue and AlgorithmIdentifier; nothing
// when more follows.
std::optional<der::Element> typeOfTypeAndValue(Bytes contents) {
    der::Reader fields(contents);
    auto type = fields.next(der::tagOid);
    if (!type || (!fields.atEnd() && (!fields.next() || !fields.atEnd()))) {
        return std::nullopt;
    }
    return type;
}

}  // namespace

std::optional<IndirectData> parseIndirectData(Bytes encoding) {
    const auto outer = der::readWhole(encoding, der::tagSequence);
    const auto fields = outer ? der::readPair(outer->contents, der::tagSequence, der::tagSequence) : std::nullopt;
    if (!fields) {
        return std::nullopt;
    }
    const auto& [data, digestInfo] = *fields;

    // The data's value (for a PE, SpcPeImageData with its flags and page
    // hashes) is not needed to check the image digest; only its type is.
    const auto dataType = typeOfTypeAndValue(data.contents);
    const auto digestFields = der::readPair(digestInfo.contents, der::tagSequence, der::tagOctetString);
    if (!dataType || !digestFields) {
        return std::nullopt;
    }
    const auto& [algorithm, digest] = *digestFields;
    const auto algorithmOid = typeOfTypeAndValue(algorithm.contents);
    if (!algorithmOid) {
        return std::nullopt;
    }

    return IndirectData{dataType->contents, algorithmOid->contents, digest.contents};
}

}  // namespace authenticode
