// The digest algorithms Authenticode signatures may use.
#pragma once

#include <openssl/evp.h>

#include "authenticode/reading/bytes.h"

namespace authenticode {

// The digest for an algorithm OID (contents bytes): MD5, SHA-1, SHA-256,
// SHA-384 or SHA-512. Null for any other.
const EVP_MD* supportedDigest(Bytes oid);

}  // namespace authenticode
