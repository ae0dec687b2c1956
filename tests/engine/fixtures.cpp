#include "fixtures.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

std::string fixturePath(const std::string& relative) {
    return std::string(TRUSTCHECK_SOURCE_DIR) + "/tests/fixtures/" + relative;
}

std::vector<std::vector<std::string>> readFixtureTable(const std::string& relative) {
    std::ifstream in(fixturePath(relative));
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> columns;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            columns.push_back(field);
        }
        rows.push_back(columns);
    }
    return rows;
}

void useFixtureTrust(const std::string& trustFile) {
    const auto emptyDirectory = std::filesystem::temp_directory_path() / "trustcheck-no-certificates";
    std::filesystem::create_directories(emptyDirectory);
    setenv("SSL_CERT_FILE", fixturePath("trust/" + trustFile).c_str(), 1);
    setenv("SSL_CERT_DIR", emptyDirectory.c_str(), 1);
}

}  // namespace testing_support
