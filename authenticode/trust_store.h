// This machine's trust: the system store as OpenSSL finds it by default.
#pragma once

#include "authenticode/openssl_ptr.h"

namespace authenticode {

// The trusted roots (and any intermediates the administrator added): the
// hashed certificate directory, looked up one subject at a time, and the
// bundle file. OpenSSL's own SSL_CERT_FILE and SSL_CERT_DIR name other ones.
// When the directory holds hashed entries the default bundle, which carries
// the same certificates, is not parsed: a lookup costs less than reading
// every root. Null only if the store cannot be created.
X509StorePtr loadMachineTrustStore();

}  // namespace authenticode
