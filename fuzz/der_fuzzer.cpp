// The DER reader: walks every element, into constructed ones, to a fixed
// depth. It must stay inside the input whatever the lengths claim.
#include "authenticode/der.h"

namespace {

std::size_t walk(authenticode::Bytes data, int depth) {
    std::size_t elements = 0;
    authenticode::der::Reader reader(data);
    while (auto element = reader.next()) {
        ++elements;
        if ((element->tag & 0x20) != 0 && depth < 64) {
            elements += walk(element->contents, depth + 1);
        }
    }
    return elements;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    walk(authenticode::Bytes(data, size), 0);
    return 0;
}
