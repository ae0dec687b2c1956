#include "authenticode/der.h"

#include <algorithm>

namespace authenticode::der {

std::optional<Element> readElement(Bytes data) {
    if (data.size() < 2) {
        return std::nullopt;
    }
    const std::uint8_t tag = data[0];
    if ((tag & 0x1F) == 0x1F) {
        return std::nullopt;  // multi-byte tag numbers are not used here
    }

    std::size_t headerLength = 2;
    std::size_t contentLength = data[1];
    if (contentLength & 0x80) {
        const std::size_t lengthBytes = contentLength & 0x7F;
        // 0x80 is the indefinite form, which DER does not allow; more than
        // four length bytes could not describe a valid signature anyway.
        if (lengthBytes == 0 || lengthBytes > 4 || data.size() - 2 < lengthBytes) {
            return std::nullopt;
        }
        contentLength = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) {
            contentLength = (contentLength << 8) | data[2 + i];
        }
        // DER takes the shortest form: the long form only from 128 on, and
        // no leading zero byte. Another encoding of the same value would be
        // a second byte string for one signed structure.
        if (contentLength < 0x80 || data[2] == 0) {
            return std::nullopt;
        }
        headerLength += lengthBytes;
    }

    const auto contents = slice(data, headerLength, contentLength);
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
