// Access to the committed fixture files and their tables.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

std::string fixturePath(const std::string& relative);

// The rows of a tab-separated fixture table, header excluded, each split
// into its columns.
std::vector<std::vector<std::string>> readFixtureTable(const std::string& relative);

// Points OpenSSL's default trust at a fixture trust file and at a directory
// with no certificates, so that the machine's own roots play no part.
void useFixtureTrust(const std::string& trustFile);

}  // namespace testing_support
