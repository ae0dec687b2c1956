// Catalogs (.cat): the whole file is one PKCS#7 SignedData whose content is
// a certificate trust list. The file subject is the catalog itself, so what
// is checked is the catalog's own signature over its list; the hashes of
// other files that the list carries play no part here.
#pragma once

#include <optional>
#include <string_view>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"

namespace authenticode {

// A catalog is recognised by its content, whatever its name: the file starts
// with a DER ContentInfo of type signedData whose encapsulated content type
// is szOID_CTL. Nothing if it does not. The file must be exactly that
// ContentInfo: bytes after it are data no signature covers.
std::optional<SubjectOrReason> locateCatalogSubject(const MappedFile& file, std::string_view path);

// A catalog has no file digest to compare. What its signature covers must
// be a certificate trust list: content type szOID_CTL, carried as the list's
// SEQUENCE itself, well formed down to its top-level fields. The signer's
// messageDigest over it, and its contentType attribute (which must name
// szOID_CTL too), are checked afterwards with every other signature.
Outcome checkCatalogContent(const SignedMessage& message);

// Whether `der` starts a ContentInfo of type signedData, read only as far as
// its encapsulated content type: nothing when it does not, otherwise whether
// that type is szOID_CTL. Tells a list of the wrong kind from a damaged one.
std::optional<bool> encapsulatesTrustList(Bytes der);

}  // namespace authenticode
