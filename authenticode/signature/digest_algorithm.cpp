#include "authenticode/signature/digest_algorithm.h"

#include <array>
#include <cstdint>

#include "authenticode/signature/asn1_view.h"

namespace authenticode {

namespace {

struct KnownDigest {
    std::array<std::uint8_t, 9> oid;  // contents bytes; MD5's is one byte shorter
    std::size_t oidLength;
    const EVP_MD* (*algorithm)();
};

constexpr KnownDigest knownDigests[] = {
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}, 8, EVP_md5},                  // 1.2.840.113549.2.5
    {{0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5, EVP_sha1},                                     // 1.3.14.3.2.26
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, 9, EVP_sha256},           // 2.16.840.1.101.3.4.2.1
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}, 9, EVP_sha384},           // 2.16.840.1.101.3.4.2.2
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, 9, EVP_sha512},           // 2.16.840.1.101.3.4.2.3
};

}  // namespace

const EVP_MD* supportedDigest(Bytes oid) {
    for (const KnownDigest& known : knownDigests) {
        if (sameBytes(oid, Bytes(known.oid.data(), known.oidLength))) {
            return known.algorithm();
        }
    }
    return nullptr;
}

}  // namespace authenticode
