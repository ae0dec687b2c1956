// A small reader for DER: tag, length and contents, always inside the bytes
// it was given. Only single-byte tags, which is all that the structures read
// with it use, and only the shortest definite length: a long form for a
// length under 128, a leading zero length byte or the indefinite form is
// refused, so one structure has one encoding and the bytes that are checked
// are the bytes that were signed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "authenticode/reading/bytes.h"

namespace authenticode::der {

constexpr std::uint8_t tagInteger = 0x02;
constexpr std::uint8_t tagBitString = 0x03;
constexpr std::uint8_t tagOctetString = 0x04;
constexpr std::uint8_t tagNull = 0x05;
constexpr std::uint8_t tagOid = 0x06;
constexpr std::uint8_t tagSequence = 0x30;
constexpr std::uint8_t tagSet = 0x31;
constexpr std::uint8_t tagContext0 = 0xA0;  // [0], constructed
constexpr std::uint8_t tagContext1 = 0xA1;  // [1], constructed

struct Element {
    std::uint8_t tag;
    Bytes contents;  // the value, without tag and length
    Bytes encoding;  // tag, length and value
};

// Reads the element at the front of `data`. Nothing if its header is
// malformed or not the shortest form, or its contents run past the end of
// `data`.
std::optional<Element> readElement(Bytes data);

// Reads the elements of a constructed value one after another.
class Reader {
public:
    explicit Reader(Bytes data) : rest_(data) {}

    bool atEnd() const { return rest_.empty(); }

    // What has not been read yet.
    Bytes rest() const { return rest_; }

    // The next element, whatever its tag.
    std::optional<Element> next();

    // The next element if it has `tag`; nothing (and nothing consumed) if
    // the next element has another tag or is malformed.
    std::optional<Element> next(std::uint8_t tag);

    // The next element if it has `tag`; nothing consumed otherwise.
    std::optional<Element> optional(std::uint8_t tag) { return next(tag); }

private:
    Bytes rest_;
};

// Whether an element is an OBJECT IDENTIFIER with the given contents bytes.
bool isOid(const Element& element, Bytes oidContents);

}  // namespace authenticode::der
