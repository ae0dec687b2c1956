// How a failed expectation shows an engine step's outcome.
#pragma once

#include <ostream>

#include "authenticode/outcome.h"

namespace authenticode {

inline void PrintTo(const Outcome& outcome, std::ostream* out) {
    if (outcome.passed()) {
        *out << "passed";
    } else {
        *out << "failed, reason " << static_cast<int>(outcome.failure());
    }
}

}  // namespace authenticode
