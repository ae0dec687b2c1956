// Certificates decoded once per process.
#pragma once

#include "authenticode/reading/bytes.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

// The certificate whose encoding is exactly `der`, decoded by OpenSSL; null
// if it does not decode, or if bytes follow it.
//
// OpenSSL 3.0 spends most of a certificate's decoding in setting up a
// decoder for its public key, and files from one publisher carry the same
// intermediates and time-stamping certificates again and again. So the
// certificates decoded last are kept, keyed by their exact bytes, and handed
// out again with a reference of their own; a run over many files decodes
// each of them once. Safe to call from several threads.
X509Ptr decodedCertificate(Bytes der);

}  // namespace authenticode
