// Shapes of DER that the signed structures use again and again, read in one
// place so that each is strict the same way everywhere.
#pragma once

#include <cstdint>
#include <optional>

#include "authenticode/reading/der.h"

namespace authenticode::der {

// The element with `tag` that fills `data` exactly: nothing if the tag
// differs, the element is malformed, or any byte follows it. Signed
// structures are read this way wherever a byte outside the element would be
// one that nothing checks.
inline std::optional<Element> readWhole(Bytes data, std::uint8_t tag) {
    auto element = readElement(data);
    if (!element || element->tag != tag || element->encoding.size() != data.size()) {
        return std::nullopt;
    }
    return element;
}

struct Pair {
    Element first;
    Element second;
};

// The contents of a constructed value that holds exactly two elements, with
// the tags given: nothing if either is missing or has another tag, or if
// anything follows them.
inline std::optional<Pair> readPair(Bytes contents, std::uint8_t firstTag, std::uint8_t secondTag) {
    Reader fields(contents);
    auto first = fields.next(firstTag);
    auto second = fields.next(secondTag);
    if (!first || !second || !fields.atEnd()) {
        return std::nullopt;
    }
    return Pair{*first, *second};
}

}  // namespace authenticode::der
