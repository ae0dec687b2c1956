// Time-stamps on the primary signature: the Authenticode countersignature
// and the RFC 3161 token. A valid one moves the time at which the signer's
// chain is checked to the moment it attests.
#pragma once

#include <ctime>
#include <optional>

#include "authenticode/reason.h"
#include "authenticode/signed_message.h"
#include "authenticode/trust_store.h"

namespace authenticode {

struct TimeStamp {
    // The attested time, when a valid time-stamp is present.
    std::optional<std::time_t> time;
    // Trusted when there is no time-stamp or it holds; otherwise why not.
    Reason reason;
};

// Checks the first time-stamp among the primary signer's unauthenticated
// attributes: that it covers the primary signature value, that its own
// signature holds, and that its signer is a time-stamping authority whose
// chain reaches this machine's trust at the attested time.
TimeStamp checkTimeStamp(const SignedMessage& primary, const TrustStore& trust);

}  // namespace authenticode
