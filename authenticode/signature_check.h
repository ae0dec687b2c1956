// The checks shared by every subject format: the PKCS#7 SignedData and its
// indirect data, the digest of the content, the signer, its time-stamp and
// its certificate chain.
#pragma once

#include <ctime>

#include "authenticode/reason.h"
#include "authenticode/formats/subject.h"
#include "authenticode/trail.h"

namespace authenticode {

Reason checkSignature(const Subject& subject, std::time_t now, Trail* trail = nullptr);

}  // namespace authenticode
