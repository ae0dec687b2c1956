// SpcIndirectDataContent: what an Authenticode signature says it signed.
//
//   SpcIndirectDataContent ::= SEQUENCE {
//       data           SpcAttributeTypeAndOptionalValue,  -- SEQUENCE { type OID, value ANY OPTIONAL }
//       messageDigest  DigestInfo }                       -- SEQUENCE { AlgorithmIdentifier, OCTET STRING }
#pragma once

#include <optional>

#include "authenticode/reading/bytes.h"

namespace authenticode {

struct IndirectData {
    Bytes dataType;         // contents bytes of the data's type OID
    Bytes digestAlgorithm;  // contents bytes of the DigestInfo algorithm OID
    Bytes digest;           // the DigestInfo digest value
};

// Parses the whole encoding of an SpcIndirectDataContent. Nothing if it is
// not one.
std::optional<IndirectData> parseIndirectData(Bytes encoding);

}  // namespace authenticode
