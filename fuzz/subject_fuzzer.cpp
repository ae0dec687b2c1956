// One subject format on its own: recognising the container, finding the
// signature and hashing the signed content, without the chain checks that
// the engine target also covers. Built once per format, with
// SUBJECT_LOCATOR naming the format's locate function and SUBJECT_NAME the
// file name the input is given (scripts are recognised by extension).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature/signed_message.h"
#include "fuzz_support.h"
#include SUBJECT_HEADER

namespace {

int outcome(const std::string& path) {
    using namespace authenticode;
    const auto file = MappedFile::open(path);
    if (!file) {
        std::abort();  // the input was just written
    }
    const auto subject = SUBJECT_LOCATOR(*file, path);
    if (!subject) {
        return -1;
    }
    if (const auto* reason = std::get_if<Reason>(&*subject)) {
        return static_cast<int>(*reason);
    }
    const auto& found = std::get<Subject>(*subject);
    auto decoded = decodeSignedMessage(found.signature);
    if (const auto* reason = std::get_if<Reason>(&decoded)) {
        return 100 + static_cast<int>(*reason);
    }
    return 200 + static_cast<int>(found.checkContent(std::get<SignedMessage>(decoded)).verdict());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::namedPathHolding(data, size, SUBJECT_NAME);
    if (outcome(path) != outcome(path)) {
        std::abort();
    }
    return 0;
}
