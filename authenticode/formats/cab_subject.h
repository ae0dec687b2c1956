// The cabinet format ("MSCF"): a signed cabinet carries a signature record
// in its per-cabinet reserved area that points at the PKCS#7, which is the
// last thing in the file; the digest covers the header fields that signing
// leaves alone and everything from the end of the header to the signature.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature/hasher.h"

namespace authenticode {

// Where a signed cabinet keeps its signature: from `signatureOffset` to the
// end of the file. The digest stops at `signatureOffset`.
struct CabSignatureLocation {
    std::size_t signatureOffset;
    std::size_t signatureSize;
};

// Nothing if the file is not a cabinet. Otherwise its signature and how its
// content is checked, or the reason there is nothing to check.
std::optional<SubjectOrReason> locateCabSubject(const MappedFile& file, std::string_view path);

// Reads the header and the signature record of a file that starts with
// "MSCF". NoSignature when the cabinet has no complete record pointing at a
// signature that ends at the end of the file.
std::variant<CabSignatureLocation, Reason> findCabSignature(Bytes file);

// Feeds the Authenticode digest input of a signed cabinet into `hasher`.
void hashCabinet(const MappedFile& file, const CabSignatureLocation& location, Hasher& hasher);

}  // namespace authenticode
