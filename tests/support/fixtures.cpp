#include "fixtures.h"

#include <algorithm>
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

std::vector<ExpectedRow> expectedRows() {
    std::vector<std::string> tables;
    for (const auto& entry : std::filesystem::directory_iterator(fixturePath(""))) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("expected") && name.ends_with(".tsv")) {
            tables.push_back(name);
        }
    }
    std::sort(tables.begin(), tables.end());
    std::vector<ExpectedRow> rows;
    for (const std::string& table : tables) {
        for (const auto& columns : readFixtureTable(table)) {
            if (columns.size() >= 3) {
                rows.push_back({columns[0], static_cast<std::uint32_t>(std::stoul(columns[1], nullptr, 16)),
                                columns[2], columns.size() > 3 ? columns[3] : ""});
            }
        }
    }
    return rows;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

void useFixtureTrust(const std::string& trustFile) {
    const auto emptyDirectory = std::filesystem::temp_directory_path() / "trustcheck-no-certificates";
    std::filesystem::create_directories(emptyDirectory);
    setenv("SSL_CERT_FILE", fixturePath("trust/" + trustFile).c_str(), 1);
    setenv("SSL_CERT_DIR", emptyDirectory.c_str(), 1);
}

}  // namespace testing_support
