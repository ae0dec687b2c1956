// APPX and MSIX packages and bundles: ZIP archives whose last record,
// AppxSignature.p7x, holds "PKCX" and the PKCS#7. The SpcIndirectDataContent
// (data type SPC_SIPINFO) carries, instead of one digest, "APPX" followed by
// tagged digests, all with the signature's digest algorithm:
//   AXPC  the archive's bytes before the signature's local header
//   AXCD  the central directory and end records as they were before the
//         signature was added: the signature's record left out, the end
//         records counting the others and placing the directory where the
//         signature's local header is, disk numbers zero
//   AXCT  [Content_Types].xml, uncompressed
//   AXBM  AppxBlockMap.xml, uncompressed
//   AXCI  AppxMetadata/CodeIntegrity.cat, uncompressed, if the package has it
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/zip_archive.h"
#include "authenticode/signature/hasher.h"

namespace authenticode {

// Whether the file name's extension (any case) is a package's or bundle's.
bool isAppxPath(std::string_view path);

// Feeds AXCD's input: the central directory and end records of `archive` as
// they were before `signature` (one of its entries) was added.
void hashUnsignedCentralDirectory(const ZipArchive& archive, const ZipEntry& signature, Hasher& hasher);

// The digest of one tagged part ("AXPC", "AXCD", "AXCT", "AXBM", "AXCI") of
// the package whose signature entry is `signature`. Nothing if the tag is
// unknown, the package lacks the part, or its data cannot be read.
std::optional<std::vector<std::uint8_t>> packagePartDigest(const MappedFile& file, const ZipArchive& archive,
                                                           const ZipEntry& signature, std::string_view tag,
                                                           const EVP_MD* algorithm);

// Nothing if the file's name is not a package's. Otherwise its signature and
// how its content is checked, or the reason there is nothing to check.
// SubjectFormatUnknown for an archive that cannot be read as a package.
std::optional<SubjectOrReason> locateAppxSubject(const MappedFile& file, std::string_view path);

}  // namespace authenticode
