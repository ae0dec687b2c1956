#include "authenticode/chain/code_signing_trust.h"

#ifndef TRUSTCHECK_CODE_SIGNING_TRUST_DIR
#define TRUSTCHECK_CODE_SIGNING_TRUST_DIR "/etc/trustcheck/code-signing"
#endif

namespace authenticode {

const char* codeSigningTrustDirectory() {
    return TRUSTCHECK_CODE_SIGNING_TRUST_DIR;
}

}  // namespace authenticode
