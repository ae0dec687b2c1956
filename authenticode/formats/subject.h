// What a subject format gives the signature checks: where the primary
// signature is, and how to check that what it signed is this file.
#pragma once

#include <functional>
#include <variant>

#include "authenticode/outcome.h"
#include "authenticode/reading/bytes.h"
#include "authenticode/reason.h"
#include "authenticode/signature/signed_message.h"

namespace authenticode {

struct Subject {
    // The DER encoding of the PKCS#7 ContentInfo, exactly, without padding.
    Bytes signature;
    // Checks the signed content against the file: for most formats, that the
    // SpcIndirectDataContent names this format and carries the digest of the
    // file (see checkIndirectDigest). Passes when it matches.
    std::function<Outcome(const SignedMessage&)> checkContent;
};

using SubjectOrReason = std::variant<Subject, Reason>;

}  // namespace authenticode
