#include "rootstore/import_store.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <unistd.h>

#include "authenticode/signature/openssl_ptr.h"

namespace rootstore {

namespace {

namespace fs = std::filesystem;
using authenticode::X509Ptr;

constexpr const char* listFileName = "authroot.stl";
// Far more than any list or certificate bundle; input is read whole.
constexpr std::uintmax_t maxInputFileSize = 64u << 20;

std::optional<std::vector<std::uint8_t>> readSmallFile(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size > maxInputFileSize) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        return std::nullopt;
    }
    return bytes;
}

// Every certificate in a file: PEM (one or many), or one DER certificate as
// Microsoft publishes them (<thumbprint>.crt).
void readCertificates(const std::vector<std::uint8_t>& bytes, std::vector<X509Ptr>& into) {
    BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    std::size_t found = 0;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        into.emplace_back(certificate);
        ++found;
    }
    BIO_free(bio);
    if (found == 0) {
        const unsigned char* cursor = bytes.data();
        X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size()));
        if (certificate != nullptr && cursor == bytes.data() + bytes.size()) {
            into.emplace_back(certificate);
        } else {
            X509_free(certificate);
        }
    }
}

bool writePem(const fs::path& path, X509* certificate) {
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) {
        return false;
    }
    const bool written = PEM_write_X509(file, certificate) == 1;
    return std::fclose(file) == 0 && written;
}

std::string dateOf(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// A store directory this command may replace: one it wrote before (it
// holds the properties file), or an empty one. Anything else is a directory
// the user keeps something else in.
bool replaceable(const fs::path& store) {
    std::error_code error;
    if (!fs::exists(store, error)) {
        return true;
    }
    return fs::is_directory(store, error) &&
           (fs::exists(store / authenticode::rootPropertiesFileName, error) || fs::is_empty(store, error));
}

// Writes the store into `directory`, which is new and empty.
std::optional<std::string> writeStore(const fs::path& directory,
                                      const std::vector<std::pair<X509*, RootRestrictions>>& roots,
                                      const RootList& list) {
    std::string properties = "# Written by trustcheck-roots from a root list dated " + dateOf(list.thisUpdate) +
                             ".\n# thumbprint\tusages\tdisallowed\tdisabled\tnot-before\tnot-before usages\tname\n";
    for (const auto& [certificate, restrictions] : roots) {
        // c_rehash's names: the subject hash, and a number for roots that
        // share a subject.
        char hash[16];
        std::snprintf(hash, sizeof hash, "%08lx", X509_subject_name_hash(certificate));
        int index = 0;
        std::error_code error;
        while (fs::exists(directory / (std::string(hash) + "." + std::to_string(index)), error)) {
            ++index;
        }
        if (!writePem(directory / (std::string(hash) + "." + std::to_string(index)), certificate)) {
            return "cannot write a certificate into " + directory.string();
        }
        properties += authenticode::formatRootProperties(*authenticode::thumbprintOf(certificate), restrictions) + "\n";
    }
    std::ofstream file(directory / authenticode::rootPropertiesFileName, std::ios::binary);
    file << properties;
    file.close();
    if (!file) {
        return "cannot write " + (directory / authenticode::rootPropertiesFileName).string();
    }
    return std::nullopt;
}

// Puts `fresh` where `store` is: the old store moves aside, the new one
// takes its name, and only then is the old one removed.
std::optional<std::string> swapInto(const fs::path& fresh, const fs::path& store) {
    std::error_code error;
    const fs::path old = store.string() + ".old-" + std::to_string(::getpid());
    const bool hadStore = fs::exists(store, error);
    if (hadStore) {
        fs::rename(store, old, error);
        if (error) {
            return "cannot move the previous store aside: " + error.message();
        }
    }
    fs::rename(fresh, store, error);
    if (error) {
        std::error_code ignored;
        if (hadStore) {
            fs::rename(old, store, ignored);
        }
        return "cannot put the new store in place: " + error.message();
    }
    if (hadStore) {
        fs::remove_all(old, error);
    }
    return std::nullopt;
}

ImportOutcome failure(std::string error) {
    ImportOutcome outcome;
    outcome.error = std::move(error);
    return outcome;
}

}  // namespace

ImportOutcome importStore(const ImportRequest& request) {
    const fs::path input(request.inputDirectory);
    const fs::path store(request.storeDirectory);
    if (!replaceable(store)) {
        return failure(store.string() + " exists and is not a store this command wrote; not replacing it");
    }

    std::vector<X509Ptr> certificates;
    std::error_code error;
    for (fs::directory_iterator entry(input, error), end; !error && entry != end; entry.increment(error)) {
        if (entry->path().filename() == listFileName || !entry->is_regular_file(error)) {
            continue;
        }
        if (const auto bytes = readSmallFile(entry->path())) {
            readCertificates(*bytes, certificates);
        }
    }
    if (error) {
        return failure("cannot read " + input.string() + ": " + error.message());
    }
    const auto listBytes = readSmallFile(input / listFileName);
    if (!listBytes) {
        return failure("cannot read " + (input / listFileName).string());
    }

    std::vector<X509*> candidates;
    std::map<Thumbprint, X509*> byThumbprint;
    for (const X509Ptr& certificate : certificates) {
        candidates.push_back(certificate.get());
        if (const auto thumbprint = authenticode::thumbprintOf(certificate.get())) {
            byThumbprint.emplace(*thumbprint, certificate.get());
        }
    }
    auto read = readRootList(*listBytes, request.pins, candidates);
    if (auto* message = std::get_if<std::string>(&read)) {
        return failure(*message);
    }
    const RootList& list = std::get<RootList>(read);
    const std::time_t age = request.now - list.thisUpdate;
    if (age > request.maxAgeDays * 86400L) {
        return failure("the list is stale: dated " + dateOf(list.thisUpdate) + ", more than " +
                       std::to_string(request.maxAgeDays) + " days ago");
    }
    if (list.nextUpdate && request.now > *list.nextUpdate) {
        return failure("the list is stale: its next update was due " + dateOf(*list.nextUpdate));
    }

    ImportSummary summary;
    summary.thisUpdate = list.thisUpdate;
    summary.listed = list.entryCount;
    summary.unknownProperties = list.unknownProperties;
    summary.certificatesRead = certificates.size();
    for (const auto& [thumbprint, why] : list.rejected) {
        ++summary.skipped[why];
    }
    const std::set<Thumbprint> legacy(request.legacyRoots.begin(), request.legacyRoots.end());
    std::vector<std::pair<X509*, RootRestrictions>> roots;
    std::set<Thumbprint> listed;
    for (const RootListEntry& entry : list.entries) {
        listed.insert(entry.thumbprint);
        const auto found = byThumbprint.find(entry.thumbprint);
        if (found == byThumbprint.end()) {
            ++summary.skipped["no certificate for the thumbprint"];
            continue;
        }
        RootRestrictions restrictions = entry.restrictions;
        if (legacy.contains(entry.thumbprint) && (restrictions.disabledAt || restrictions.notBefore)) {
            // Windows keeps these in its built-in store whatever the list
            // says of their dates, so that files signed under them years
            // ago still verify; what they are trusted for stays as listed.
            restrictions.disabledAt.reset();
            restrictions.notBefore.reset();
            restrictions.notBeforeUsages.reset();
            ++summary.legacyAdded;
        }
        roots.emplace_back(found->second, std::move(restrictions));
    }
    for (const auto& [thumbprint, certificate] : byThumbprint) {
        if (legacy.contains(thumbprint) && !listed.contains(thumbprint)) {
            roots.emplace_back(certificate, RootRestrictions{});
            ++summary.legacyAdded;
        }
    }
    summary.written = roots.size();

    // The new store is written beside the old one, on the same file system,
    // so that the swap is two renames.
    const fs::path fresh = store.string() + ".new-" + std::to_string(::getpid());
    fs::remove_all(fresh, error);
    if (!fs::create_directories(fresh, error) || error) {
        return failure("cannot create " + fresh.string() + (error ? ": " + error.message() : std::string()));
    }
    if (auto problem = writeStore(fresh, roots, list)) {
        fs::remove_all(fresh, error);
        return failure(*problem);
    }
    if (auto problem = swapInto(fresh, store)) {
        fs::remove_all(fresh, error);
        return failure(*problem);
    }
    ImportOutcome outcome;
    outcome.ok = true;
    outcome.summary = std::move(summary);
    return outcome;
}

std::string describe(const ImportSummary& summary) {
    std::string text = "list dated " + dateOf(summary.thisUpdate) + ": " + std::to_string(summary.listed) +
                       " entries, " + std::to_string(summary.certificatesRead) + " certificates read\n";
    text += "written: " + std::to_string(summary.written) + " roots";
    if (summary.legacyAdded > 0) {
        text += " (" + std::to_string(summary.legacyAdded) + " legacy roots kept trusted)";
    }
    text += "\n";
    std::size_t skipped = 0;
    for (const auto& [why, count] : summary.skipped) {
        skipped += count;
    }
    text += "skipped: " + std::to_string(skipped) + "\n";
    for (const auto& [why, count] : summary.skipped) {
        text += "  " + std::to_string(count) + " " + why + "\n";
    }
    for (const auto& [id, count] : summary.unknownProperties) {
        text += "ignored: property " + (id == 0 ? std::string("outside the property range") : std::to_string(id)) +
                " on " + std::to_string(count) + " roots\n";
    }
    return text;
}

}  // namespace rootstore
