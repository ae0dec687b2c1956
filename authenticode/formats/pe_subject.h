// The PE format: the primary signature in the certificate table and the
// image digest.
#pragma once

#include "authenticode/signature/hasher.h"
#include <optional>
#include <string_view>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/pe_image.h"

namespace authenticode {

// Nothing if the file is not a PE image. Otherwise its primary signature and
// how its content is checked, or the reason there is nothing to check.
std::optional<SubjectOrReason> locatePeSubject(const MappedFile& file, std::string_view path);

// Feeds the Authenticode image digest input of a PE into `hasher`: the file
// from offset 0 to `end`, leaving out the CheckSum field and the certificate
// table's directory entry, then zeros up to the next multiple of 8.
void hashPeImage(const MappedFile& file, const PeImage& image, std::size_t end, Hasher& hasher);

}  // namespace authenticode
