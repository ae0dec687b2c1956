#include "authenticode/reading/der.h"

#include <algorithm>

namespace authenticode::der {

std::optional<Element> readElement(Bytes data) {
    ByteCursor cursor(data);
    std::uint8_t tag = 0;
    std::uint8_t firstLengthByte = 0;
    if (!cursor.fields(tag, firstLengthByte) || (tag & 0x1F) == 0x1F) {
        return std::nullopt;  // multi-byte tag numbers are not used here
    }

    std::size_t contentLength = firstLengthByte;
    if (firstLengthByte & 0x80) {
        // 0x80 is the indefinite form, which DER does not allow; more than
        // four length bytes could not describe a valid signature anyway.
        const std::size_t lengthBytes = firstLengthByte & 0x7F;
        const auto digits = lengthBytes == 0 || lengthBytes > 4 ? std::nullopt : cursor.bytes(lengthBytes);
        if (!digits) {
            return std::nullopt;
        }
        contentLength = 0;
        for (const std::uint8_t digit : *digits) {
            contentLength = (contentLength << 8) | digit;
        }
        // DER takes the shortest form: the long form only from 128 on, and
        // no leading zero byte. Another encoding of the same value would be
        // a second byte string for one signed structure.
        if (contentLength < 0x80 || (*digits)[0] == 0) {
            return std::nullopt;
        }
    }

    const std::size_t headerLength = data.size() - cursor.remaining();
    const auto contents = cursor.bytes(contentLength);
    if (!contents) {
        return std::nullopt;
    }
    return Element{tag, *contents, data.first(headerLength + contentLength)};
}

std::optional<Element> Reader::next() {
    auto element = readElement(rest_);
    if (element) {
        rest_ = rest_.subspan(element->encoding.size());
    }
    return element;
}

std::optional<Element> Reader::next(std::uint8_t tag) {
    auto element = readElement(rest_);
    if (!element || element->tag != tag) {
        return std::nullopt;
    }
    rest_ = rest_.subspan(element->encoding.size());
    return element;
}

bool isOid(const Element& element, Bytes oidContents) {
    return element.tag == tagOid && std::equal(element.contents.begin(), element.contents.end(),
                                                oidContents.begin(), oidContents.end());
}

}  // namespace authenticode::der
