// The PE format: the primary signature in the certificate table and the
// image digest.
#pragma once

#include "authenticode/hasher.h"
#include "authenticode/mapped_file.h"
#include "authenticode/pe_image.h"
#include "authenticode/subject.h"

namespace authenticode {

// Finds the primary signature of a parsed PE image and describes how its
// content is hashed, or gives the reason there is nothing to check.
SubjectOrReason locatePeSubject(const MappedFile& file, const PeImage& image);

// Feeds the Authenticode image digest input of a PE into `hasher`: the file
// from offset 0 to `end`, leaving out the CheckSum field and the certificate
// table's directory entry, then zeros up to the next multiple of 8.
void hashPeImage(const MappedFile& file, const PeImage& image, std::size_t end, Hasher& hasher);

}  // namespace authenticode
