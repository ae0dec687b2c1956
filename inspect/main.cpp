// trustcheck-inspect: the same verdict trustcheck gives, for many files, with
// who signed each one, the chains, the time-stamp and why it failed.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "inspect/inspection.h"
#include "inspect/report.h"

namespace {

constexpr int allVerified = 0;
constexpr int someNotVerified = 1;
constexpr int usageError = 2;

constexpr const char* usage =
    "Usage: trustcheck-inspect [--json] [--] FILE...\n"
    "Verifies each FILE's Authenticode signature as trustcheck does and says who signed it,\n"
    "which chains were built, its time-stamp and why it failed.\n"
    "\n"
    "  --json     one JSON object a line (JSON Lines) instead of text\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when every file verified, 1 when any did not, 2 for a usage error.\n"
    "See trustcheck-inspect(1).\n";

bool write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--json") {
            json = true;
        } else if (argument == "--help") {
            return write(usage) && std::fflush(stdout) == 0 ? allVerified : someNotVerified;
        } else if (argument == "--version") {
            return write("trustcheck-inspect " TRUSTCHECK_VERSION "\n") && std::fflush(stdout) == 0 ? allVerified
                                                                                                    : someNotVerified;
        } else {
            std::fprintf(stderr, "trustcheck-inspect: unknown option %s\n%s", argument.c_str(), usage);
            return usageError;
        }
    }
    if (files.empty()) {
        std::fputs(usage, stderr);
        return usageError;
    }

    // One time for every file of the run, so that a list checked together is
    // judged at one moment.
    const std::time_t now = std::time(nullptr);
    bool everyVerified = true;
    bool written = true;
    for (const std::string& file : files) {
        const inspect::Inspection inspection = inspect::inspectFile(file, now);
        everyVerified = everyVerified && inspection.code == 0;
        written = write(json ? inspect::jsonReport(inspection) : inspect::textReport(inspection)) && written;
        // Each file's report reaches its reader as soon as it is known.
        written = std::fflush(stdout) == 0 && written;
    }
    // A report that could not be written is not a success.
    if (!written) {
        std::fputs("trustcheck-inspect: could not write the report\n", stderr);
        return someNotVerified;
    }
    return everyVerified ? allVerified : someNotVerified;
}
