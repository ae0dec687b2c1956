#include "authenticode/signature/indirect_data.h"

#include "authenticode/reading/der.h"

namespace authenticode {

std::optional<IndirectData> parseIndirectData(Bytes encoding) {
    const auto outer = der::readElement(encoding);
    if (!outer || outer->tag != der::tagSequence || outer->encoding.size() != encoding.size()) {
        return std::nullopt;
    }
    der::Reader fields(outer->contents);
    const auto data = fields.next(der::tagSequence);
    const auto digestInfo = fields.next(der::tagSequence);
    if (!data || !digestInfo || !fields.atEnd()) {
        return std::nullopt;
    }

    // The data's value (for a PE, SpcPeImageData with its flags and page
    // hashes) is not needed to check the image digest; only its type is.
    der::Reader dataFields(data->contents);
    const auto dataType = dataFields.next(der::tagOid);
    if (!dataType || (!dataFields.atEnd() && (!dataFields.next() || !dataFields.atEnd()))) {
        return std::nullopt;
    }

    der::Reader digestFields(digestInfo->contents);
    const auto algorithm = digestFields.next(der::tagSequence);
    const auto digest = digestFields.next(der::tagOctetString);
    if (!algorithm || !digest || !digestFields.atEnd()) {
        return std::nullopt;
    }
    der::Reader algorithmFields(algorithm->contents);
    const auto algorithmOid = algorithmFields.next(der::tagOid);
    if (!algorithmOid) {
        return std::nullopt;
    }
    // At most one element of parameters may follow the algorithm.
    if (!algorithmFields.atEnd() && (!algorithmFields.next() || !algorithmFields.atEnd())) {
        return std::nullopt;
    }

    return IndirectData{dataType->contents, algorithmOid->contents, digest->contents};
}

}  // namespace authenticode
