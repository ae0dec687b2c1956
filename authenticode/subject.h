// What a subject format gives the signature checks: where the primary
// signature is, which kind of indirect data it must carry, and how to feed
// the signed content of the file into a digest.
#pragma once

#include <functional>
#include <variant>

#include "authenticode/bytes.h"
#include "authenticode/hasher.h"
#include "authenticode/mapped_file.h"
#include "authenticode/reason.h"

namespace authenticode {

struct Subject {
    // The DER encoding of the PKCS#7 ContentInfo, exactly, without padding.
    Bytes signature;
    // Contents bytes of the OID the SpcIndirectDataContent's data type must
    // have for this format.
    Bytes indirectDataType;
    // Feeds the signed content into a digest.
    std::function<void(Hasher&)> hashContent;
};

using SubjectOrReason = std::variant<Subject, Reason>;

}  // namespace authenticode
