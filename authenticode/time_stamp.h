// Time-stamps on the primary signature: the Authenticode countersignature
// and the RFC 3161 token. A valid one moves the time at which the signer's
// chain is checked to the moment it attests.
#pragma once

#include <ctime>
#include <optional>

#include "authenticode/chain/trust_store.h"
#include "authenticode/outcome.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/trail.h"

namespace authenticode {

struct TimeStamp {
    // The attested time, when a time-stamp is present and its signature holds.
    std::optional<std::time_t> time;
    // Passed when there is no time-stamp or its signature holds; otherwise
    // why not.
    Outcome outcome;
    // The time-stamp's signer and the certificates that came with it.
    X509* authority = nullptr;
    STACK_OF(X509) * certificates = nullptr;
    // An RFC 3161 token, which owns the two above.
    std::optional<SignedMessage> token;
};

// Checks the first time-stamp among the primary signer's unauthenticated
// attributes: that it covers the primary signature value and that its own
// signature holds, and reads the time it attests.
TimeStamp checkTimeStamp(const SignedMessage& primary);

// Checks that a time-stamp's signer is a time-stamping authority whose chain
// reaches this machine's trust at the attested time.
// When `record` is given, the authority's chain as built is kept there.
Outcome checkTimeStampAuthority(const TimeStamp& timeStamp, const TrustStore& trust, ChainRecord* record = nullptr);

}  // namespace authenticode
