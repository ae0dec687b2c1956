// The place for roots trusted or distrusted for code signing only, beside
// the machine's TLS store: certificates put here are never offered to other
// programs. It is consulted only when neither SSL_CERT_FILE nor SSL_CERT_DIR
// is set; a caller that sets them chooses every root itself (and names this
// place in SSL_CERT_DIR to keep it).
#pragma once

namespace authenticode {

// The directory, fixed when the tool is built (TRUSTCHECK_CODE_SIGNING_TRUST_DIR).
const char* codeSigningTrustDirectory();

}  // namespace authenticode
