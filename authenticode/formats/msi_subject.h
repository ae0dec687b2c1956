// Compound files: MSI packages and every other structured-storage file
// (patches, transforms, merge modules, old Office documents), which the
// platform checks the same way. The signature is the "\x05DigitalSignature"
// stream of the root storage; the digest covers the content of every other
// stream and the class id of every storage, in a fixed order, and, when the
// root also holds "\x05MsiDigitalSignatureEx", first a digest of the
// entries' names, sizes and times that that stream must repeat.
#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/compound_file.h"
#include "authenticode/reading/mapped_file.h"

namespace authenticode {

// Nothing if the file does not start with the compound-file signature.
// Otherwise its primary signature and how its content is checked, or the
// reason there is nothing to check.
std::optional<SubjectOrReason> locateMsiSubject(const MappedFile& file, std::string_view path);

// The digest the signature of `compound` (opened on `file`'s bytes) must
// carry, made with `algorithm`: a stream or storage that cannot be read, or
// an MsiDigitalSignatureEx stream that does not hold the metadata digest,
// give the reason instead.
std::variant<std::vector<std::uint8_t>, Reason> msiDigest(const MappedFile& file, const CompoundFile& compound,
                                                          const EVP_MD* algorithm);

}  // namespace authenticode
