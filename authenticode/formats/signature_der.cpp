#include "authenticode/formats/signature_der.h"

#include "authenticode/reading/der.h"

namespace authenticode {

std::variant<Bytes, Reason> signatureDer(Bytes place, AfterSignature allowed) {
    const auto message = der::readElement(place);
    if (!message || message->tag != der::tagSequence) {
        return Reason::MalformedMessage;
    }
    const Bytes after = place.subspan(message->encoding.size());
    const bool hidden = allowed == AfterSignature::Nothing ? !after.empty() : !allZero(after);
    if (hidden) {
        return Reason::HiddenDataInSignature;
    }
    return message->encoding;
}

}  // namespace authenticode
