// Where a subject format keeps its signature: the DER of one ContentInfo at
// the front of a place in the file, and, depending on the format, nothing or
// only zeros after it.
#pragma once

#include <variant>

#include "authenticode/reading/bytes.h"
#include "authenticode/reason.h"

namespace authenticode {

// What a format allows between the end of the signature's DER and the end of
// the place that holds it.
enum class AfterSignature {
    Nothing,      // the place is exactly the signature (packages, scripts)
    ZeroPadding,  // the place is padded with zeros (PE, cabinet, installer)
};

// The signature's DER at the front of `place`: MalformedMessage when it does
// not start with one SEQUENCE, HiddenDataInSignature when something the
// format does not allow follows it, since no digest covers those bytes.
std::variant<Bytes, Reason> signatureDer(Bytes place, AfterSignature allowed);

}  // namespace authenticode
