#include "authenticode/chain/root_properties.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

namespace authenticode {

namespace {

constexpr const char* codeSigningOid = "1.3.6.1.5.5.7.3.3";
constexpr const char* timeStampingOid = "1.3.6.1.5.5.7.3.8";
constexpr const char* anyUsageOid = "2.5.29.37.0";

const char* oidFor(Usage usage) {
    return usage == Usage::CodeSigning ? codeSigningOid : timeStampingOid;
}

bool names(const std::vector<std::string>& usages, const char* oid) {
    return std::find(usages.begin(), usages.end(), oid) != usages.end();
}

// Nothing stands for every usage, and so does the "any" usage itself.
bool covers(const std::optional<std::vector<std::string>>& usages, const char* oid) {
    return !usages || names(*usages, oid) || names(*usages, anyUsageOid);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(end + 1);
    }
}

bool isDottedOid(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::string formatUsages(const std::optional<std::vector<std::string>>& usages) {
    if (!usages) {
        return "any";
    }
    if (usages->empty()) {
        return "none";
    }
    std::string text;
    for (const std::string& oid : *usages) {
        text += (text.empty() ? "" : ",") + oid;
    }
    return text;
}

// A field of a line: whether it reads, and what it says when it does. What
// it says may itself be absent ("any", "-"), so an optional would not do.
template <typename Value>
struct Field {
    bool read = false;
    Value value{};
};

using Usages = std::optional<std::vector<std::string>>;

// "any" is absent (every usage); the caller decides whether that may appear.
Field<Usages> parseUsages(std::string_view text) {
    if (text == "any") {
        return {true, std::nullopt};
    }
    Field<Usages> usages{true, std::vector<std::string>{}};
    if (text == "none") {
        return usages;
    }
    for (std::string_view oid : split(text, ',')) {
        if (!isDottedOid(oid)) {
            return {};
        }
        usages.value->emplace_back(oid);
    }
    return usages;
}

std::string formatTime(const std::optional<std::time_t>& time) {
    if (!time) {
        return "-";
    }
    std::tm parts{};
    gmtime_r(&*time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

Field<std::optional<std::time_t>> parseTime(std::string_view text) {
    if (text == "-") {
        return {true, std::nullopt};
    }
    const std::string copy(text);
    std::tm parts{};
    char zone = 0;
    int consumed = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &zone, &consumed) != 7 ||
        zone != 'Z' || static_cast<std::size_t>(consumed) != copy.size() || parts.tm_mon < 1 || parts.tm_mon > 12 ||
        parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60) {
        return {};
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return {true, timegm(&parts)};
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Thumbprint> readThumbprint(std::string_view text) {
    Thumbprint thumbprint{};
    if (text.size() != 2 * thumbprint.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < thumbprint.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        thumbprint[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return thumbprint;
}

}  // namespace

std::string formatRootProperties(const Thumbprint& thumbprint, const RootRestrictions& restrictions) {
    std::string line;
    char digits[3];
    for (const std::uint8_t byte : thumbprint) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    std::string name = restrictions.name;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    // Field by field with append: GCC 12 at -O3 warns falsely (-Wrestrict)
    // on `"\t" + std::string`.
    const std::string fields[] = {
        formatUsages(restrictions.usages),
        restrictions.disallowedUsages.empty() ? std::string("-") : formatUsages(restrictions.disallowedUsages),
        formatTime(restrictions.disabledAt),
        formatTime(restrictions.notBefore),
        formatUsages(restrictions.notBeforeUsages),
        name.empty() ? std::string("-") : name,
    };
    for (const std::string& field : fields) {
        line += '\t';
        line += field;
    }
    return line;
}

std::optional<Thumbprint> thumbprintOf(X509* certificate) {
    Thumbprint thumbprint{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha1(), thumbprint.data(), &length) != 1 || length != thumbprint.size()) {
        return std::nullopt;
    }
    return thumbprint;
}

std::optional<std::pair<Thumbprint, RootRestrictions>> parseRootProperties(std::string_view line) {
    const auto fields = split(line, '\t');
    const auto thumbprint = readThumbprint(fields[0]);
    if (!thumbprint || fields.size() != 7) {
        return std::nullopt;
    }
    auto usages = parseUsages(fields[1]);
    // "-" disallows nothing; "any" may not stand here.
    auto disallowed = fields[2] == "-" ? Field<Usages>{true, std::vector<std::string>{}} : parseUsages(fields[2]);
    const auto disabledAt = parseTime(fields[3]);
    const auto notBefore = parseTime(fields[4]);
    auto notBeforeUsages = parseUsages(fields[5]);
    if (!usages.read || !disallowed.read || !disallowed.value || !disabledAt.read || !notBefore.read ||
        !notBeforeUsages.read) {
        return std::nullopt;
    }
    RootRestrictions restrictions;
    restrictions.usages = std::move(usages.value);
    restrictions.disallowedUsages = std::move(*disallowed.value);
    restrictions.disabledAt = disabledAt.value;
    restrictions.notBefore = notBefore.value;
    restrictions.notBeforeUsages = std::move(notBeforeUsages.value);
    restrictions.name = fields[6] == "-" ? std::string() : std::string(fields[6]);
    return std::pair{*thumbprint, std::move(restrictions)};
}

void RootProperties::loadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return;
    }
    std::string text;
    char buffer[65536];
    while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, file)) {
        if (text.size() + read > maxFileSize) {
            // More than any root program holds: not a file to trust by.
            // Every root is then trusted for nothing, rather than some of
            // its restrictions silently dropped.
            text.clear();
            overflowed_ = true;
            break;
        }
        text.append(buffer, read);
    }
    std::fclose(file);
    if (!text.empty()) {
        texts_.push_back(std::move(text));
    }
}

std::optional<RootRestrictions> RootProperties::find(X509* root) const {
    if (texts_.empty() || root == nullptr) {
        return std::nullopt;
    }
    const auto thumbprint = thumbprintOf(root);
    if (!thumbprint) {
        return std::nullopt;
    }
    // Only the line of the root in question is read: a process checks one
    // or two roots, and the file names hundreds.
    std::string upper;
    std::string lower;
    char digits[3];
    for (const std::uint8_t byte : *thumbprint) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        upper += digits;
        std::snprintf(digits, sizeof digits, "%02x", byte);
        lower += digits;
    }
    for (const std::string& text : texts_) {
        const std::string_view all(text);
        std::optional<std::size_t> first;
        for (const std::string& name : {upper, lower}) {
            for (std::size_t at = all.find(name); at != std::string_view::npos; at = all.find(name, at + 1)) {
                const std::size_t after = at + name.size();
                const bool lineStart = at == 0 || all[at - 1] == '\n';
                const bool fieldEnd = after == all.size() || all[after] == '\t' || all[after] == '\n' || all[after] == '\r';
                if (lineStart && fieldEnd) {
                    first = std::min(first.value_or(at), at);
                    break;
                }
            }
        }
        if (!first) {
            continue;
        }
        std::string_view line = all.substr(*first, all.find('\n', *first) - *first);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (auto parsed = parseRootProperties(line)) {
            return std::move(parsed->second);
        }
        // A line for this root whose fields do not read: trusted for
        // nothing, as a restriction that cannot be read must not turn into
        // no restriction.
        RootRestrictions nothing;
        nothing.usages.emplace();
        return nothing;
    }
    return std::nullopt;
}

Outcome RootProperties::check(X509* root, X509* leaf, std::time_t at, Usage usage) const {
    if (overflowed_) {
        return Reason::RootNotTrustedForUsage;
    }
    const std::optional<RootRestrictions> restrictions = find(root);
    if (!restrictions) {
        return Outcome::pass();
    }
    const char* oid = oidFor(usage);
    if (!covers(restrictions->usages, oid) || names(restrictions->disallowedUsages, oid) ||
        names(restrictions->disallowedUsages, anyUsageOid)) {
        return Reason::RootNotTrustedForUsage;
    }
    if (restrictions->disabledAt && at >= *restrictions->disabledAt) {
        return Reason::UntrustedRoot;
    }
    if (restrictions->notBefore && covers(restrictions->notBeforeUsages, oid) && at >= *restrictions->notBefore) {
        // Issued after the cutoff: the end-entity certificate's own start.
        const ASN1_TIME* issued = X509_get0_notBefore(leaf);
        int days = 0;
        int seconds = 0;
        ASN1_TIME* cutoffTime = ASN1_TIME_adj(nullptr, *restrictions->notBefore, 0, 0);
        const bool compared = cutoffTime != nullptr && issued != nullptr &&
                              ASN1_TIME_diff(&days, &seconds, cutoffTime, issued) == 1;
        ASN1_TIME_free(cutoffTime);
        // A start that cannot be compared counts as after the cutoff.
        if (!compared || days > 0 || seconds > 0) {
            return Reason::RootIssuedAfterCutoff;
        }
    }
    return Outcome::pass();
}

}  // namespace authenticode
