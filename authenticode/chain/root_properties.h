// What a root is trusted for beyond "it is in the store": the per-root
// properties of Microsoft's root program (usages, disallowed usages, the
// disabled date and the not-before date), which OpenSSL's trust settings
// cannot express. A store directory carries them in a text file beside its
// certificates; roots it does not name have no restrictions.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/x509.h>

#include "authenticode/chain/usage.h"
#include "authenticode/outcome.h"

namespace authenticode {

// The name of the file in a store directory.
inline constexpr const char* rootPropertiesFileName = "root-properties.tsv";

struct RootRestrictions {
    // Usages (dotted OIDs) the root is trusted for; nothing means every usage.
    std::optional<std::vector<std::string>> usages;
    std::vector<std::string> disallowedUsages;
    // Not trusted at or after this time; signatures time-stamped before it
    // still validate.
    std::optional<std::time_t> disabledAt;
    // Certificates issued after this time are not trusted for notBeforeUsages
    // (nothing: every usage) unless their signature was time-stamped before it.
    std::optional<std::time_t> notBefore;
    std::optional<std::vector<std::string>> notBeforeUsages;
    std::string name;
};

using Thumbprint = std::array<std::uint8_t, 20>;  // SHA-1 of the certificate

class RootProperties {
public:
    // Adds a properties file, read when a root is looked up; a root named in
    // an earlier file keeps what that file says. A missing file adds
    // nothing. A line whose thumbprint reads but whose fields do not makes
    // that root trusted for nothing: a restriction that cannot be read must
    // not turn into no restriction. So does a file too large to be one.
    void loadFile(const std::string& path);

    // What the first file naming `root` says of it; nothing when none does.
    std::optional<RootRestrictions> find(X509* root) const;
    bool empty() const { return texts_.empty() && !overflowed_; }

    // The verdict on a chain that otherwise holds, for `usage` at time `at`
    // (the time-stamp's when there is one): passed, or failed for
    // RootNotTrustedForUsage, UntrustedRoot (disabled) or RootIssuedAfterCutoff.
    Outcome check(X509* root, X509* leaf, std::time_t at, Usage usage) const;

private:
    // Far beyond the root program's few hundred lines of about 200 bytes.
    static constexpr std::size_t maxFileSize = 16u << 20;

    std::vector<std::string> texts_;  // each file's text, in the order given
    bool overflowed_ = false;
};

// One line of the file, and reading it back: tab-separated thumbprint (hex),
// usages, disallowed usages, disabled date, not-before date, not-before
// usages and name. Usages are comma-separated dotted OIDs, "any" for every
// usage or "none"; dates are YYYY-MM-DDTHH:MM:SSZ; "-" is an absent field.
std::string formatRootProperties(const Thumbprint& thumbprint, const RootRestrictions& restrictions);
// The thumbprint a root is listed by; nothing if it cannot be computed.
std::optional<Thumbprint> thumbprintOf(X509* certificate);
std::optional<std::pair<Thumbprint, RootRestrictions>> parseRootProperties(std::string_view line);

}  // namespace authenticode
