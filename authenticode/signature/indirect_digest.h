// The usual way a signature covers a file: its SpcIndirectDataContent names
// the subject's format and carries the digest of the file's signed content.
#pragma once

#include <functional>
#include <variant>

#include "authenticode/outcome.h"
#include "authenticode/reading/bytes.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/signature/indirect_data.h"
#include "authenticode/signature/signed_message.h"

namespace authenticode {

// Names no data type: the content may name any.
inline constexpr Bytes anyDataType{};

// Checks that `message` encapsulates an SpcIndirectDataContent whose data
// type is `dataType` (contents bytes of the OID, or any when empty), whose digest algorithm is
// supported and agrees with the SignedData's and the SignerInfo's, and whose
// digest equals the digest of what `hashContent` feeds in.
Outcome checkIndirectDigest(const SignedMessage& message, Bytes dataType,
                            const std::function<void(Hasher&)>& hashContent);

// An SpcIndirectDataContent whose form checked out, and the digest its
// algorithm names.
struct CheckedIndirectData {
    IndirectData indirect;
    const EVP_MD* digest;
};

// Only the structural part: the content is an SpcIndirectDataContent of
// `dataType` with a supported digest algorithm that the other two fields
// agree with. Gives the parsed content and its digest, or why not.
std::variant<CheckedIndirectData, Reason> checkIndirectDataForm(const SignedMessage& message, Bytes dataType);

}  // namespace authenticode
