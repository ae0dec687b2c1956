// Access to the committed fixture files and their tables.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

std::string fixturePath(const std::string& relative);

// The rows of a tab-separated fixture table, header excluded, each split
// into its columns.
std::vector<std::vector<std::string>> readFixtureTable(const std::string& relative);

// One row of the expected-result tables (tests/fixtures/expected*.tsv, one
// per family of fixtures): a file, the code the Windows verifier gives for
// it, the trust file to check it against, and a note.
struct ExpectedRow {
    std::string file;
    std::uint32_t code;
    std::string trust;
    std::string note;
};

std::vector<ExpectedRow> expectedRows();

inline void PrintTo(const ExpectedRow& row, std::ostream* out) { *out << row.file << " with " << row.trust; }

// Lowercase hexadecimal, as the digest tables write digests.
std::string hex(const std::vector<std::uint8_t>& bytes);

// Points OpenSSL's default trust at a fixture trust file and at a directory
// with no certificates, so that the machine's own roots play no part.
void useFixtureTrust(const std::string& trustFile);

}  // namespace testing_support
