// The checks shared by every subject format: the PKCS#7 SignedData and its
// indirect data, the digest of the content, the signer, its time-stamp and
// its certificate chain.
#pragma once

#include <ctime>

#include "authenticode/formats/subject.h"
#include "authenticode/outcome.h"
#include "authenticode/trail.h"

namespace authenticode {

// Passes when the signature verifies and its chains reach this machine's
// trust; otherwise fails for the first check that did not hold.
Outcome checkSignature(const Subject& subject, std::time_t now, Trail* trail = nullptr);

}  // namespace authenticode
