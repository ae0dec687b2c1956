#include "command/report.h"

#include <cstdio>
#include <string>

namespace command {

namespace {

// The path as typed, byte for byte, except that a line break becomes '?':
// the report is one line, and a file name must not be able to add a second,
// forged one.
std::string asOneLine(const char* path) {
    std::string line(path);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = '?';
        }
    }
    return line;
}

}  // namespace

void printUsageLine(const char* startName) {
    std::printf("Usage %s [filename]\n", startName);
}

bool printReportLine(const char* path, HRESULT code, const char* description) {
    const int written = std::printf("%s: %X (%s)\n", asOneLine(path).c_str(), static_cast<unsigned>(code), description);
    // stdout is fully buffered when it is not a terminal: the write to the
    // device happens at the flush, so only the flush can tell.
    const bool flushed = std::fflush(stdout) == 0;
    return written >= 0 && flushed && std::ferror(stdout) == 0;
}

}  // namespace command
