// Views of OpenSSL's ASN.1 values as plain bytes.
#pragma once

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>

#include "authenticode/reading/bytes.h"

namespace authenticode {

inline Bytes bytesOf(const ASN1_STRING* string) {
    if (string == nullptr || ASN1_STRING_length(string) <= 0) {
        return {};
    }
    return Bytes(ASN1_STRING_get0_data(string), static_cast<std::size_t>(ASN1_STRING_length(string)));
}

// The contents bytes of an object identifier.
inline Bytes bytesOf(const ASN1_OBJECT* object) {
    if (object == nullptr || OBJ_length(object) == 0) {
        return {};
    }
    return Bytes(OBJ_get0_data(object), OBJ_length(object));
}

inline bool sameBytes(Bytes a, Bytes b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

inline bool isOid(const ASN1_OBJECT* object, Bytes oidContents) {
    return !oidContents.empty() && sameBytes(bytesOf(object), oidContents);
}

}  // namespace authenticode
