// Microsoft's published root list (authroot.stl): its signature checked
// against pinned roots, and each root's properties read from it.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <openssl/x509.h>

#include "authenticode/chain/root_properties.h"
#include "authenticode/reading/bytes.h"

namespace rootstore {

using authenticode::RootRestrictions;
using authenticode::Thumbprint;
using Sha256 = std::array<std::uint8_t, 32>;

struct RootListEntry {
    Thumbprint thumbprint;
    RootRestrictions restrictions;
};

struct RootList {
    std::time_t thisUpdate = 0;
    std::optional<std::time_t> nextUpdate;
    std::size_t entryCount = 0;  // every subject the list names
    std::vector<RootListEntry> entries;
    // Subjects left out, each with why.
    std::vector<std::pair<Thumbprint, std::string>> rejected;
    // Property ids the reader does not know, with how many roots carry each;
    // they are ignored.
    std::map<unsigned, std::size_t> unknownProperties;
};

// Checks that `der` is a SignedData over a certificate trust list for root
// list signing, that its signer's signature holds, and that the signer's
// chain leads, at the list's own thisUpdate, to one of `candidates` whose
// SHA-256 is among `pins`. The error says what is wrong.
std::variant<RootList, std::string> readRootList(authenticode::Bytes der, const std::vector<Sha256>& pins,
                                                 const std::vector<X509*>& candidates);

// The entries of a list already verified (its trustedSubjects contents),
// each taken or rejected with why; nothing when one of them is malformed.
// thisUpdate and nextUpdate are left for the caller.
std::optional<RootList> readRootListEntries(authenticode::Bytes trustedSubjects);

Sha256 sha256Of(X509* certificate);

}  // namespace rootstore
