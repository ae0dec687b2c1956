#include "command/report.h"

#include <cstdio>

void printUsageLine(const char* startName) {
    std::printf("Usage %s [filename]\n", startName);
}

void printReportLine(const char* path, HRESULT code, const char* description) {
    std::printf("%s: %X (%s)\n", path, static_cast<unsigned>(code), description);
}
