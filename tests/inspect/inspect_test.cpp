// trustcheck-inspect as a black box: the same codes as trustcheck for every
// fixture, many files in one process, the facts it reports, JSON that a real
// parser reads, and its exit statuses.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../cli/spawn.h"
#include "fixtures.h"

namespace {

using nlohmann::json;
using testing_support::fixturePath;

SpawnResult inspect(std::vector<std::string> arguments, const std::string& trust = "trusted.pem") {
    SpawnRequest request;
    request.command = {TRUSTCHECK_INSPECT_PROGRAM};
    request.arguments = std::move(arguments);
    const auto emptyDirectory = std::filesystem::temp_directory_path() / "trustcheck-no-certificates";
    std::filesystem::create_directories(emptyDirectory);
    request.environment = {{"SSL_CERT_FILE", fixturePath("trust/" + trust)}, {"SSL_CERT_DIR", emptyDirectory}};
    return spawn(request);
}

// Each line of a JSON Lines report, parsed; a line that does not parse fails
// the test.
std::vector<json> jsonLines(const std::string& out) {
    std::vector<json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(json::parse(line));
    }
    return objects;
}

json inspectOne(const std::string& fixture, const std::string& trust = "trusted.pem") {
    const SpawnResult r = inspect({"--json", fixturePath(fixture)}, trust);
    EXPECT_EQ(r.err, "");
    const auto objects = jsonLines(r.out);
    EXPECT_EQ(objects.size(), 1u) << r.out;
    return objects.empty() ? json() : objects.front();
}

std::string hex(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", code);
    return text;
}

// Every fixture of every table, all files of one trust setting in one
// process: the code is the one the table gives (and trustcheck prints), so a
// store kept between files or a trail that leaks from one file into the next
// shows here.
TEST(Inspect, GivesTrustchecksCodeForEveryFixtureInOneProcess) {
    std::map<std::string, std::vector<testing_support::ExpectedRow>> byTrust;
    for (const auto& row : testing_support::expectedRows()) {
        byTrust[row.trust].push_back(row);
    }
    ASSERT_FALSE(byTrust.empty());
    for (const auto& [trust, rows] : byTrust) {
        std::vector<std::string> arguments{"--json"};
        for (const auto& row : rows) {
            arguments.push_back(fixturePath(row.file));
        }
        const SpawnResult r = inspect(arguments, trust);
        EXPECT_EQ(r.err, "");
        const auto objects = jsonLines(r.out);
        ASSERT_EQ(objects.size(), rows.size()) << trust;
        bool anyFailed = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(objects[i]["file"], fixturePath(rows[i].file));
            EXPECT_EQ(objects[i]["code"], hex(rows[i].code)) << rows[i].file << ": " << rows[i].note;
            EXPECT_EQ(objects[i]["verified"], rows[i].code == 0) << rows[i].file;
            // A failure always says which check decided and why.
            if (rows[i].code != 0) {
                anyFailed = true;
                EXPECT_TRUE(objects[i]["decided_by"].is_string()) << rows[i].file;
                EXPECT_TRUE(objects[i]["explanation"].is_string()) << rows[i].file;
            }
        }
        EXPECT_EQ(r.status, anyFailed ? 1 : 0) << trust;
    }
}

// What the report says of particular files. Each row: the fixture, and the
// facts it must show.
struct FactsRow {
    const char* fixture;
    const char* reason;
    const char* decidedBy;  // null: verified
    const char* note;
};

const FactsRow factsRows[] = {
    {"pe/signed64-sha256.exe", "trusted", nullptr, "good signature: signer, three-certificate chain, no time-stamp"},
    {"pe/trust-timestamped.exe", "trusted", nullptr, "RFC 3161 time-stamp with the authority's chain"},
    {"pe/trust-expired-countersig-in-validity.exe", "trusted", nullptr, "countersignature inside the leaf's validity"},
    {"pe/signed64-nested.exe", "trusted", nullptr, "a nested signature is listed, not counted"},
    {"pe/trust-missing-intermediate.exe", "chain_incomplete", "publisher_chain", "names the issuer not found"},
    {"pe/trust-untrusted-root.exe", "untrusted_root", "publisher_chain", "names the root that is not trusted"},
    {"pe/trust-expired.exe", "certificate_expired", "publisher_chain", "names the expired certificate"},
    {"pe/broken-text-byte.exe", "digest_mismatch", "file_digest", "changed after signing"},
    {"pe/broken-signature-bit.exe", "signer_signature_invalid", "signer", "the signer's signature does not verify"},
    {"pe/unsigned64.exe", "no_signature", "find_signature", "unsigned program"},
};

TEST(Inspect, ReportsTheFactsOfEachKindOfFile) {
    for (const FactsRow& row : factsRows) {
        SCOPED_TRACE(std::string(row.fixture) + ": " + row.note);
        const json report = inspectOne(row.fixture);
        EXPECT_EQ(report["reason"], row.reason);
        EXPECT_EQ(report["format"], "PE");
        if (row.decidedBy == nullptr) {
            EXPECT_TRUE(report["decided_by"].is_null());
            EXPECT_EQ(report["signer"]["issuer"], "CN=Test Code Signing CA,O=trustcheck test PKI");
            EXPECT_EQ(report["digest_algorithm"].get<std::string>().substr(0, 3), "SHA");
            const json& chain = report["chain"];
            EXPECT_EQ(chain["usage"], "code_signing");
            EXPECT_TRUE(chain["trusted"].get<bool>());
            ASSERT_GE(chain["certificates"].size(), 2u);
            EXPECT_EQ(chain["certificates"][0]["sha256"].get<std::string>().size(), 64u);
        } else {
            EXPECT_EQ(report["decided_by"], row.decidedBy);
        }
    }

    const json stamped = inspectOne("pe/trust-timestamped.exe");
    EXPECT_EQ(stamped["timestamp"]["kind"], "rfc3161");
    EXPECT_EQ(stamped["timestamp"]["time"], "2024-01-01T12:00:00Z");
    EXPECT_EQ(stamped["chain"]["checked_at"], "2024-01-01T12:00:00Z");
    EXPECT_EQ(stamped["timestamp"]["chain"]["usage"], "time_stamping");
    EXPECT_EQ(stamped["timestamp"]["authority"]["subject"], "CN=Test Timestamp Authority,O=trustcheck test PKI");

    // The publisher's chain decides, and the authority's is still reported.
    const json onlyAuthorityTrusted = inspectOne("pe/trust-timestamped.exe", "../pki/tsa-root.pem");
    EXPECT_EQ(onlyAuthorityTrusted["decided_by"], "publisher_chain");
    EXPECT_FALSE(onlyAuthorityTrusted["chain"]["trusted"].get<bool>());
    EXPECT_TRUE(onlyAuthorityTrusted["timestamp"]["chain"]["trusted"].get<bool>());

    EXPECT_EQ(inspectOne("pe/trust-expired-countersig-in-validity.exe")["timestamp"]["kind"], "countersignature");
    EXPECT_EQ(inspectOne("pe/signed64-nested.exe")["nested_signatures"], 1);

    const json missing = inspectOne("pe/trust-missing-intermediate.exe");
    EXPECT_EQ(missing["chain"]["missing_issuer"], "CN=Test Code Signing CA,O=trustcheck test PKI");
    EXPECT_NE(missing["suggestion"].get<std::string>().find("trust its root"), std::string::npos);

    const json untrusted = inspectOne("pe/trust-untrusted-root.exe");
    EXPECT_NE(untrusted["explanation"].get<std::string>().find("does not trust for code signing"), std::string::npos);

    const json expired = inspectOne("pe/trust-expired.exe");
    EXPECT_NE(expired["explanation"].get<std::string>().find("which does not include"), std::string::npos);

    EXPECT_NE(inspectOne("pe/broken-text-byte.exe")["suggestion"].get<std::string>().find("changed after signing"),
              std::string::npos);
}

TEST(Inspect, SaysWhyAFileCannotBeRead) {
    const SpawnResult r = inspect({"--json", "/nonexistent/file.exe", std::filesystem::temp_directory_path(),
                                   fixturePath("trust/trusted.pem")});
    EXPECT_EQ(r.status, 1);
    const auto objects = jsonLines(r.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0]["code"], "80092003");
    EXPECT_EQ(objects[0]["error"], "No such file or directory");
    EXPECT_EQ(objects[1]["error"], "Is a directory");
    // A file no format claims: not a read error.
    EXPECT_EQ(objects[2]["code"], "800B0003");
    EXPECT_TRUE(objects[2]["error"].is_null());
    EXPECT_TRUE(objects[2]["format"].is_null());
}

TEST(Inspect, TextNamesTheSignerAndTheCheckThatDecided) {
    const SpawnResult r =
        inspect({fixturePath("pe/signed64-sha256.exe"), fixturePath("pe/trust-missing-intermediate.exe")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(fixturePath("pe/signed64-sha256.exe") + ": 0 (", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("subject: CN=Test Code Signer,O=trustcheck test PKI\n"), std::string::npos);
    std::string secondLine = "\n";
    secondLine += fixturePath("pe/trust-missing-intermediate.exe") + ": 800B010A (";
    EXPECT_NE(r.out.find(secondLine), std::string::npos);
    EXPECT_NE(r.out.find("issuer not found: CN=Test Code Signing CA"), std::string::npos);
    EXPECT_NE(r.out.find("why (publisher_chain): "), std::string::npos);
}

// Names come from the file: a line break or a terminal escape in a path must
// not reach the reader as such, and bytes that are not UTF-8 must still give
// JSON that parses.
TEST(Inspect, EscapesHostileNames) {
    const std::string hostile = "/nonexistent/a\nb\x1b[31m\xff.exe";
    const SpawnResult text = inspect({hostile});
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.rfind("/nonexistent/a\\x0ab\\x1b[31m\\xff.exe: 80092003 (", 0), 0u) << text.out;

    const SpawnResult structured = inspect({"--json", hostile});
    const auto objects = jsonLines(structured.out);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["file"], "/nonexistent/a\nb\x1b[31m\xEF\xBF\xBD.exe");
}

// Exit statuses and the command line. Each row: arguments, status, whether
// stdout or stderr carries the answer, and a note.
struct UsageRow {
    std::vector<std::string> arguments;
    int status;
    bool toStdout;
    const char* note;
};

TEST(Inspect, CommandLine) {
    const std::string good = fixturePath("pe/signed64-sha256.exe");
    const std::string unsigned64 = fixturePath("pe/unsigned64.exe");
    const UsageRow rows[] = {
        {{good, good}, 0, true, "every file verified"},
        {{good, unsigned64}, 1, true, "one did not"},
        {{}, 2, false, "no file named"},
        {{"--frobnicate", good}, 2, false, "unknown option"},
        {{"--help"}, 0, true, "help"},
        {{"--version"}, 0, true, "version"},
        {{"--", "--json"}, 1, true, "after --, an option is a file name"},
    };
    for (const UsageRow& row : rows) {
        SCOPED_TRACE(row.note);
        const SpawnResult r = inspect(row.arguments);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out.empty(), !row.toStdout) << r.out;
        EXPECT_EQ(r.err.empty(), row.toStdout) << r.err;
    }
    const SpawnResult afterDashes = inspect({"--json", "--", "--json"});
    ASSERT_EQ(jsonLines(afterDashes.out).size(), 1u);
    EXPECT_EQ(jsonLines(afterDashes.out)[0]["file"], "--json");
}

TEST(Inspect, ReportThatCannotBeWrittenIsAFailure) {
    SpawnRequest request;
    request.command = {"/bin/sh", "-c", std::string("exec \"$0\" \"$1\" > /dev/full"), TRUSTCHECK_INSPECT_PROGRAM};
    request.arguments = {fixturePath("pe/signed64-sha256.exe")};
    request.environment = {{"SSL_CERT_FILE", fixturePath("trust/trusted.pem")}};
    const SpawnResult r = spawn(request);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("could not write"), std::string::npos);
}

}  // namespace
