// The whole verifier on arbitrary file contents: every format, the signature
// and the chain. The result must be a known code, and the same both times.
#include <cstdlib>

#include "authenticode/verify_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::useTestTrust();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::pathHolding(data, size);
    const std::int32_t first = authenticode::verifyFile(path, fuzzing::fuzzTime);
    fuzzing::requireKnownCode(first);
    if (authenticode::verifyFile(path, fuzzing::fuzzTime) != first) {
        std::abort();
    }
    return 0;
}
