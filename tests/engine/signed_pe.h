// Signed PE files taken apart and put back together in memory: DER
// elements built by hand, and the fields of a fixture's signature, so that a
// test can change any one of them.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "authenticode/reading/der.h"
#include "authenticode/reading/pe_image.h"
#include "fixtures.h"
#include "synthetic_pe.h"

namespace testing_support {

using Data = std::vector<std::uint8_t>;

inline Data readFixture(const std::string& relative) {
    std::ifstream in(testing_support::fixturePath(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Data bytesOf(const std::string& text) {
    return Data(text.begin(), text.end());
}

inline Data toData(authenticode::Bytes bytes) {
    return Data(bytes.begin(), bytes.end());
}

// The tag and definite length of a DER element.
inline Data header(std::uint8_t tag, std::size_t length) {
    Data out{tag};
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return out;
    }
    Data digits;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(rest));
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
    return out;
}

inline Data der(std::uint8_t tag, const Data& contents) {
    Data out = header(tag, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

inline Data concat(const std::vector<Data>& parts) {
    Data out;
    for (const Data& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Data repeated(const Data& element, std::size_t times) {
    Data out;
    out.reserve(element.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

// `depth` SEQUENCEs, each the only element of the one around it, with a
// NULL at the bottom. The headers are worked out from the inside and laid
// down from the outside, so that building it does not copy it `depth` times.
inline Data nestedSequences(std::size_t depth) {
    const Data bottom = {0x05, 0x00};
    std::vector<Data> headers;
    std::size_t size = bottom.size();
    for (std::size_t i = 0; i < depth; ++i) {
        headers.push_back(header(0x30, size));
        size += headers.back().size();
    }
    Data out;
    out.reserve(size);
    for (auto header = headers.rbegin(); header != headers.rend(); ++header) {
        out.insert(out.end(), header->begin(), header->end());
    }
    out.insert(out.end(), bottom.begin(), bottom.end());
    return out;
}

inline const Data oidSignedData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
inline const Data oidIndirectData = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
inline const Data oidCounterSignature = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x06};
inline const Data oidRfc3161 = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01};
inline const Data oidUnknown = {0x06, 0x06, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x7F};

inline Data attribute(const Data& type, const Data& value) {
    return der(0x30, concat({type, der(0x31, value)}));
}

// The signature of a signed PE, taken apart into the SignedData's fields
// and the one SignerInfo's fields (each a whole encoding), so that a case
// can change any of them and put the file back together.
struct SignedPe {
    Data image;  // everything before the certificate table
    std::size_t directory = 0;
    Data version, digestAlgorithms, content, certificates, signerVersion, signerId, digestAlgorithm,
        authenticated, signatureAlgorithm, signature, unauthenticated;

    static SignedPe load(const std::string& fixture) {
        const Data file = readFixture(fixture);
        const auto pe = authenticode::parsePeImage(file);
        EXPECT_TRUE(pe && pe->certificateDirectoryOffset);
        SignedPe out;
        out.image.assign(file.begin(), file.begin() + pe->certificateTableOffset);
        out.directory = *pe->certificateDirectoryOffset;

        const authenticode::Bytes table = authenticode::Bytes(file).subspan(pe->certificateTableOffset + 8);
        const auto contentInfo = authenticode::der::readElement(table);
        authenticode::der::Reader outer(contentInfo->contents);
        outer.next();  // signedData
        const auto explicitContent = outer.next();
        const auto signedData = authenticode::der::readElement(explicitContent->contents);
        authenticode::der::Reader fields(signedData->contents);
        const auto take = [](authenticode::der::Reader& reader) { return toData(reader.next()->encoding); };
        out.version = take(fields);
        out.digestAlgorithms = take(fields);
        out.content = take(fields);
        out.certificates = take(fields);
        const auto signers = fields.next();
        const auto signer = authenticode::der::readElement(signers->contents);
        authenticode::der::Reader signerFields(signer->contents);
        out.signerVersion = take(signerFields);
        out.signerId = take(signerFields);
        out.digestAlgorithm = take(signerFields);
        out.authenticated = take(signerFields);
        out.signatureAlgorithm = take(signerFields);
        out.signature = take(signerFields);
        if (!signerFields.atEnd()) {
            out.unauthenticated = take(signerFields);
        }
        return out;
    }

    Data signerInfo() const {
        return der(0x30, concat({signerVersion, signerId, digestAlgorithm, authenticated, signatureAlgorithm, signature,
                                 unauthenticated}));
    }

    Data signedData(const Data& signerInfos) const {
        const Data body = der(0x30, concat({version, digestAlgorithms, content, certificates, signerInfos}));
        return der(0x30, concat({oidSignedData, der(0xA0, body)}));
    }

    Data file(const Data& pkcs7) const {
        Data table;
        testing_support::appendCertificate(table, 2, pkcs7);
        Data out = image;
        testing_support::putU32(out, directory + 4, static_cast<std::uint32_t>(table.size()));
        out.insert(out.end(), table.begin(), table.end());
        return out;
    }

    Data file() const { return file(signedData(der(0x31, signerInfo()))); }

    // The contents of an element, without its tag and length.
    static Data contentsOf(const Data& element) { return toData(authenticode::der::readElement(element)->contents); }
};

}  // namespace testing_support
