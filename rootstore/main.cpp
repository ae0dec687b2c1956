// trustcheck-roots: builds a trust store from Microsoft's root list, for
// judging files as a default Windows machine would (man trustcheck-roots).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "rootstore/import_store.h"
#include "rootstore/legacy_roots.h"

namespace {

// SHA-256 of the certificates of Microsoft Root Certificate Authority 2010
// and 2011, the roots the list's publisher chains to. They are fixed here:
// whoever could choose them could make any list look like Microsoft's.
constexpr rootstore::Sha256 microsoftRoot2010 = {
    0xdf, 0x54, 0x5b, 0xf9, 0x19, 0xa2, 0x43, 0x9c, 0x36, 0x98, 0x3b, 0x54, 0xcd, 0xfc, 0x90, 0x3d,
    0xfa, 0x4f, 0x37, 0xd3, 0x99, 0x6d, 0x8d, 0x84, 0xb4, 0xc3, 0x1e, 0xec, 0x6f, 0x3c, 0x16, 0x3e};
constexpr rootstore::Sha256 microsoftRoot2011 = {
    0x84, 0x7d, 0xf6, 0xa7, 0x84, 0x97, 0x94, 0x3f, 0x27, 0xfc, 0x72, 0xeb, 0x93, 0xf9, 0xa6, 0x37,
    0x32, 0x0a, 0x02, 0xb5, 0x61, 0xd0, 0xa9, 0x1b, 0x09, 0xe8, 0x7a, 0x78, 0x07, 0xed, 0x7c, 0x61};

int usage() {
    std::fputs("usage: trustcheck-roots [--max-age DAYS] INPUT_DIR STORE_DIR\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    rootstore::ImportRequest request;
    int index = 1;
    if (index < argc && std::string_view(argv[index]) == "--max-age") {
        if (index + 1 >= argc) {
            return usage();
        }
        char* end = nullptr;
        request.maxAgeDays = std::strtol(argv[index + 1], &end, 10);
        if (*argv[index + 1] == '\0' || *end != '\0' || request.maxAgeDays < 0 || request.maxAgeDays > 36500) {
            return usage();
        }
        index += 2;
    }
    if (argc - index != 2) {
        return usage();
    }
    request.inputDirectory = argv[index];
    request.storeDirectory = argv[index + 1];
    request.pins = {microsoftRoot2010, microsoftRoot2011};
    request.legacyRoots = rootstore::legacyRootThumbprints();
    request.now = std::time(nullptr);

    const auto outcome = rootstore::importStore(request);
    if (!outcome.ok) {
        std::fprintf(stderr, "trustcheck-roots: %s\n", outcome.error.c_str());
        return 1;
    }
    std::fputs(rootstore::describe(outcome.summary).c_str(), stdout);
    return 0;
}
