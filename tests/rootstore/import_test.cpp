// The root-list importer on lists the fixture script signs with a test key:
// what it accepts, what it refuses and why, what it writes, and that the
// verifier then judges by what it wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../cli/spawn.h"
#include "authenticode/chain/root_properties.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "rootstore/import_store.h"

namespace {

namespace fs = std::filesystem;
using authenticode::RootRestrictions;
using authenticode::Thumbprint;

constexpr std::time_t listDate = 1768435200;  // 2026-01-15, the lists' thisUpdate
constexpr long day = 24 * 60 * 60;

authenticode::X509Ptr readPem(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return nullptr;
    }
    authenticode::X509Ptr certificate(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return certificate;
}

std::string pkiPath(const std::string& name) {
    return testing_support::fixturePath("pki/" + name + ".pem");
}

Thumbprint thumbprintOf(const std::string& pkiName) {
    const auto certificate = readPem(pkiPath(pkiName));
    return *authenticode::thumbprintOf(certificate.get());
}

std::string text(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

fs::path scratch(const std::string& name) {
    // One folder a process: CTest runs each test in a process of its own, side by side.
    const fs::path directory = fs::temp_directory_path() / ("trustcheck-rootstore-" + std::to_string(::getpid())) / name;
    fs::remove_all(directory);
    fs::create_directories(directory);
    return directory;
}

// An input folder as Microsoft publishes it: the list, and each root as
// <thumbprint>.crt.
fs::path inputWith(const std::string& list, const std::string& name) {
    const fs::path input = scratch(name) / "input";
    fs::create_directories(input);
    fs::copy(testing_support::fixturePath("rootlist/certs"), input);
    fs::copy_file(testing_support::fixturePath("rootlist/" + list + ".stl"), input / "authroot.stl");
    return input;
}

// The test root stands where Microsoft's roots stand for the real command.
rootstore::ImportRequest requestFor(const fs::path& input, const fs::path& store) {
    rootstore::ImportRequest request;
    request.inputDirectory = input.string();
    request.storeDirectory = store.string();
    request.pins = {rootstore::sha256Of(readPem(pkiPath("root")).get())};
    request.now = listDate + 30 * day;
    return request;
}

// The store's properties file, read back line by line.
std::map<Thumbprint, RootRestrictions> propertiesOf(const fs::path& store) {
    std::map<Thumbprint, RootRestrictions> read;
    std::istringstream lines(text(store / authenticode::rootPropertiesFileName));
    for (std::string line; std::getline(lines, line);) {
        if (auto parsed = authenticode::parseRootProperties(line)) {
            read.emplace(parsed->first, parsed->second);
        }
    }
    return read;
}

TEST(RootListImport, RefusesBadListsWithAClearError) {
    const struct {
        std::string list;
        std::time_t now;
        bool pinned;
        std::string error;  // a part of the message
        const char* note;
    } rows[] = {
        {"bad-signature", listDate, true, "signature does not verify", "one bit of the signature flipped"},
        {"wrong-content-type", listDate, true, "not a certificate trust list", "signed data, but not a list"},
        {"truncated", listDate, true, "not a signed message", "cut in half"},
        {"not-root-list", listDate, true, "not a root list", "a catalog's list, not the root program's"},
        {"unpinned", listDate, true, "does not chain to a pinned root", "signed under another root"},
        {"good", listDate, false, "none of the pinned root certificates", "the pinned root is not in the input"},
        {"good", listDate + 400 * day, true, "stale", "over a year old"},
    };
    for (const auto& row : rows) {
        const fs::path input = inputWith(row.list, "refuses");
        auto request = requestFor(input, input.parent_path() / "store");
        request.now = row.now;
        if (!row.pinned) {
            request.pins = {rootstore::sha256Of(readPem(pkiPath("tsa-root")).get())};
            fs::remove(input / "AD4248DCABCA276699CAB8C341AA605F4583C55C.crt");  // the tsa root
        }
        const auto outcome = rootstore::importStore(request);
        EXPECT_FALSE(outcome.ok) << row.note;
        EXPECT_NE(outcome.error.find(row.error), std::string::npos) << row.note << ": " << outcome.error;
        EXPECT_FALSE(fs::exists(input.parent_path() / "store")) << row.note << ": nothing written";
    }
    const fs::path input = scratch("no-list");
    const auto outcome = rootstore::importStore(requestFor(input, input / "store"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("authroot.stl"), std::string::npos) << outcome.error;
}

// The publisher certificate lives about a year: the list is checked at its
// own date, so a signer that expired since does not matter.
TEST(RootListImport, ChecksTheSignerAtTheListsDate) {
    const fs::path input = inputWith("good", "signer-date");
    auto request = requestFor(input, input.parent_path() / "store");
    request.now = listDate + 200 * day;  // the signer expired on 2026-03-01
    const auto outcome = rootstore::importStore(request);
    EXPECT_TRUE(outcome.ok) << outcome.error;
}

TEST(RootListImport, SummaryAndStoreMatchTheList) {
    const fs::path input = inputWith("good", "summary");
    const fs::path store = input.parent_path() / "store";
    const auto outcome = rootstore::importStore(requestFor(input, store));
    ASSERT_TRUE(outcome.ok) << outcome.error;
    const auto& summary = outcome.summary;
    EXPECT_EQ(summary.thisUpdate, listDate);
    EXPECT_EQ(summary.listed, 8u) << "every entry counted, good or not";
    EXPECT_EQ(summary.certificatesRead, 6u);
    EXPECT_EQ(summary.written, 4u);
    EXPECT_EQ(summary.skipped.at("duplicate entry"), 2u) << "both entries of a root listed twice";
    EXPECT_EQ(summary.skipped.at("no certificate for the thumbprint"), 1u);
    EXPECT_EQ(summary.skipped.at("property 104 is unreadable"), 1u) << "a date that is not 8 bytes";
    EXPECT_EQ(summary.unknownProperties.at(200), 1u) << "an unknown property is reported and ignored";
    const std::string described = rootstore::describe(summary);
    EXPECT_NE(described.find("8 entries"), std::string::npos) << described;
    EXPECT_NE(described.find("skipped: 4"), std::string::npos) << described;

    const auto properties = propertiesOf(store);
    ASSERT_EQ(properties.size(), 4u);
    const auto& root = properties.at(thumbprintOf("root"));
    EXPECT_EQ(root.usages, (std::vector<std::string>{"1.3.6.1.5.5.7.3.3", "1.3.6.1.5.5.7.3.8"}));
    EXPECT_EQ(root.name, "Test Root CA");
    EXPECT_FALSE(properties.at(thumbprintOf("tsa-root")).usages) << "no usage property: every usage";
    const auto& restricted = properties.at(thumbprintOf("untrusted-root"));
    EXPECT_EQ(restricted.usages, (std::vector<std::string>{"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.3"}));
    EXPECT_EQ(restricted.disallowedUsages, std::vector<std::string>{"1.3.6.1.5.5.7.3.8"});
    EXPECT_EQ(restricted.disabledAt, std::optional<std::time_t>(1735689600));  // 2025-01-01
    EXPECT_EQ(restricted.notBefore, std::optional<std::time_t>(1717200000));   // 2024-06-01
    EXPECT_EQ(restricted.notBeforeUsages, std::optional<std::vector<std::string>>({"1.3.6.1.5.5.7.3.3"}));
    const auto& emptyDates = properties.at(thumbprintOf("intermediate"));
    EXPECT_FALSE(emptyDates.disabledAt) << "an empty date is no date";
    EXPECT_FALSE(emptyDates.notBefore);

    std::size_t certificates = 0;
    for (const auto& entry : fs::directory_iterator(store)) {
        certificates += entry.path().filename() != authenticode::rootPropertiesFileName;
    }
    EXPECT_EQ(certificates, 4u) << "one hashed file per root written";
    for (const auto& entry : fs::directory_iterator(input.parent_path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "input" || name == "store") << "left behind: " << name;
    }
}

TEST(RootListImport, LegacyRootsLoseTheListsDatesAndAreAddedWhenUnlisted) {
    const fs::path input = inputWith("good", "legacy");
    // A root the list does not name, in a PEM bundle beside the list.
    fs::copy_file(pkiPath("leaf"), input / "extra-roots.pem");
    const fs::path store = input.parent_path() / "store";
    auto request = requestFor(input, store);
    request.legacyRoots = {thumbprintOf("untrusted-root"), thumbprintOf("leaf"), thumbprintOf("ec-leaf")};
    const auto outcome = rootstore::importStore(request);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.summary.written, 5u);
    EXPECT_EQ(outcome.summary.legacyAdded, 2u) << "a legacy root absent from the input is not made up";
    const auto properties = propertiesOf(store);
    const auto& listed = properties.at(thumbprintOf("untrusted-root"));
    EXPECT_FALSE(listed.disabledAt);
    EXPECT_FALSE(listed.notBefore);
    EXPECT_EQ(listed.usages, (std::vector<std::string>{"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.3"}))
        << "what it is trusted for stays as listed";
    EXPECT_FALSE(properties.at(thumbprintOf("leaf")).usages) << "unlisted: no restriction";
}

// A bad list leaves the previous store as it was; a folder the importer did
// not write is never replaced.
TEST(RootListImport, ThePreviousStoreStaysIntact) {
    const fs::path input = inputWith("good", "swap");
    const fs::path store = input.parent_path() / "store";
    ASSERT_TRUE(rootstore::importStore(requestFor(input, store)).ok);
    const std::string before = text(store / authenticode::rootPropertiesFileName);

    fs::copy_file(testing_support::fixturePath("rootlist/bad-signature.stl"), input / "authroot.stl",
                  fs::copy_options::overwrite_existing);
    EXPECT_FALSE(rootstore::importStore(requestFor(input, store)).ok);
    EXPECT_EQ(text(store / authenticode::rootPropertiesFileName), before);

    fs::copy_file(testing_support::fixturePath("rootlist/good.stl"), input / "authroot.stl",
                  fs::copy_options::overwrite_existing);
    EXPECT_TRUE(rootstore::importStore(requestFor(input, store)).ok) << "a store it wrote is replaced";
    EXPECT_EQ(text(store / authenticode::rootPropertiesFileName), before) << "the same list writes the same store";

    const fs::path other = input.parent_path() / "other";
    fs::create_directories(other);
    std::ofstream(other / "keep.txt") << "mine";
    const auto outcome = rootstore::importStore(requestFor(input, other));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(text(other / "keep.txt"), "mine");
    EXPECT_FALSE(fs::exists(other / authenticode::rootPropertiesFileName));
}

// The verifier reads what the importer wrote: the roots, and their dates.
TEST(RootListImport, TheVerifierJudgesByTheImportedStore) {
    const fs::path input = inputWith("good", "verify");
    const fs::path store = input.parent_path() / "store";
    ASSERT_TRUE(rootstore::importStore(requestFor(input, store)).ok);
    const fs::path empty = input.parent_path() / "empty.pem";
    std::ofstream(empty).close();
    setenv("SSL_CERT_FILE", empty.c_str(), 1);
    setenv("SSL_CERT_DIR", store.c_str(), 1);

    constexpr std::time_t end2024 = 1733011200;  // 2024-12-01, before the disabled date
    const struct {
        std::string file;
        std::time_t now;
        std::uint32_t code;
        const char* note;
    } rows[] = {
        {"pe/signed64-sha256.exe", listDate, 0, "root trusted for code signing and time stamping"},
        {"pe/trust-timestamped.exe", listDate, 0, "time-stamp authority's root with every usage"},
        {"pe/trust-untrusted-root.exe", end2024, 0, "a restricted root before its disabled date"},
        {"pe/trust-untrusted-root.exe", listDate, 0x800B0109, "after its disabled date: not a trusted root"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(static_cast<std::uint32_t>(
                      authenticode::verifyFile(testing_support::fixturePath(row.file), row.now)),
                  row.code)
            << row.note;
    }
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
}

namespace command {

SpawnResult runImporter(std::vector<std::string> arguments) {
    SpawnRequest request;
    request.command = {TRUSTCHECK_ROOTS_COMMAND};
    request.arguments = std::move(arguments);
    return spawn(request);
}

// The installed command pins Microsoft's roots and offers no way to change
// that: a list signed by anyone else, the tests' own included, is refused.
TEST(RootListCommand, RefusesListsNotSignedUnderMicrosoftsRoots) {
    const fs::path input = inputWith("good", "command");
    const fs::path store = input.parent_path() / "store";
    const auto result = runImporter({input.string(), store.string()});
    ASSERT_TRUE(result.exited) << result.failure;
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("pinned"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(store));
}

TEST(RootListCommand, UsageErrors) {
    const struct {
        std::vector<std::string> arguments;
        const char* note;
    } rows[] = {
        {{}, "no arguments"},
        {{"in"}, "one folder only"},
        {{"in", "out", "extra"}, "a third folder"},
        {{"--max-age", "x", "in", "out"}, "an age that is not a number"},
        {{"--max-age", "-1", "in", "out"}, "a negative age"},
        {{"--pin", "00", "in", "out"}, "no option sets the pin"},
    };
    for (const auto& row : rows) {
        const auto result = runImporter(row.arguments);
        ASSERT_TRUE(result.exited) << row.note;
        EXPECT_EQ(result.status, 2) << row.note;
        EXPECT_NE(result.err.find("usage: trustcheck-roots"), std::string::npos) << row.note;
    }
}

}  // namespace command

}  // namespace
