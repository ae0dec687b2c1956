// Building a trust store from Microsoft's root list and its certificates,
// and putting it in place of the previous one only once it is complete.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "rootstore/root_list.h"

namespace rootstore {

struct ImportRequest {
    std::string inputDirectory;  // authroot.stl and the certificates
    std::string storeDirectory;  // made or replaced
    std::vector<Sha256> pins;    // roots the list's signer must chain to
    std::time_t now = 0;
    long maxAgeDays = 365;       // a list older than this is stale
    // Roots kept trusted when present among the certificates, whatever the
    // list says of them.
    std::vector<Thumbprint> legacyRoots;
};

struct ImportSummary {
    std::time_t thisUpdate = 0;
    std::size_t listed = 0;        // entries in the list
    std::size_t written = 0;       // roots in the store, legacy ones included
    std::size_t legacyAdded = 0;   // legacy roots the list omits or disables
    std::map<std::string, std::size_t> skipped;  // why -> how many
    std::map<unsigned, std::size_t> unknownProperties;
    std::size_t certificatesRead = 0;
};

struct ImportOutcome {
    bool ok = false;
    std::string error;  // when not ok; the previous store is untouched
    ImportSummary summary;
};

ImportOutcome importStore(const ImportRequest& request);

// The summary as the command prints it.
std::string describe(const ImportSummary& summary);

}  // namespace rootstore
