// Building a certificate chain to this machine's trust and applying the
// Authenticode policy to it.
#pragma once

#include <ctime>

#include "authenticode/chain/chain_record.h"
#include "authenticode/chain/trust_store.h"
#include "authenticode/outcome.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

// Builds the chain from `leaf` through `untrusted` (the certificates that
// came with the signature) and the store to a trusted self-signed root, as
// of `at`, and checks it for `usage`. Passes when it holds; otherwise fails
// for the reason that comes first in the order the Windows verifier reports
// them.
// When `record` is given, the chain as built is kept there.
Outcome verifyChain(const TrustStore& trust, X509* leaf, STACK_OF(X509) * untrusted, std::time_t at, Usage usage,
                    ChainRecord* record = nullptr);

// Whether the certificate's extended key usage names lifetime signing, which
// makes its signatures expire with it whatever their time-stamp says.
bool hasLifetimeSigning(X509* certificate);

}  // namespace authenticode
