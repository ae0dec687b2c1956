// A chain as the verifier built it, kept for a reader who asks how a verdict
// came about (see trail.h).
#pragma once

#include <ctime>
#include <vector>

#include "authenticode/outcome.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

struct ChainRecord {
    bool checked = false;
    std::time_t at = 0;                  // the time the chain was checked at
    std::vector<X509Ptr> certificates;  // leaf first, as far as it was built
    Outcome outcome;                     // passed when the chain holds
};

}  // namespace authenticode
