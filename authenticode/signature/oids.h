// Contents bytes of the object identifiers that Authenticode uses.
#pragma once

#include <array>
#include <cstdint>

#include "authenticode/reading/bytes.h"

namespace authenticode::oids {

// 1.3.6.1.4.1.311.2.1.4 SPC_INDIRECT_DATA_OBJID
inline constexpr std::array<std::uint8_t, 10> spcIndirectData{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                              0x82, 0x37, 0x02, 0x01, 0x04};
// 1.3.6.1.4.1.311.2.1.15 SPC_PE_IMAGE_DATA_OBJID
inline constexpr std::array<std::uint8_t, 10> spcPeImageData{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                             0x82, 0x37, 0x02, 0x01, 0x0F};
// 1.3.6.1.4.1.311.2.1.30 SPC_SIPINFO_OBJID: the data is an SpcSipInfo naming
// the subject interface package that made the digest (MSI, scripts)
inline constexpr std::array<std::uint8_t, 10> spcSipInfo{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                         0x82, 0x37, 0x02, 0x01, 0x1E};
// 1.3.6.1.4.1.311.2.1.25 SPC_CAB_DATA_OBJID
inline constexpr std::array<std::uint8_t, 10> spcCabData{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                         0x82, 0x37, 0x02, 0x01, 0x19};
// 1.3.6.1.4.1.311.10.1 szOID_CTL, a certificate trust list (the content of a catalog)
inline constexpr std::array<std::uint8_t, 9> certificateTrustList{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                                  0x82, 0x37, 0x0A, 0x01};
// 1.2.840.113549.1.7.2 PKCS #7 signedData
inline constexpr std::array<std::uint8_t, 9> pkcs7SignedData{0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                             0x0D, 0x01, 0x07, 0x02};
// 1.3.6.1.4.1.311.3.3.1 SPC_RFC3161_OBJID, an RFC 3161 time-stamp token
inline constexpr std::array<std::uint8_t, 10> rfc3161TimeStamp{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                               0x82, 0x37, 0x03, 0x03, 0x01};
// 1.3.6.1.4.1.311.2.4.1 SPC_NESTED_SIGNATURE_OBJID: further signatures, as
// unauthenticated attribute values of the primary signer
inline constexpr std::array<std::uint8_t, 10> nestedSignature{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                              0x82, 0x37, 0x02, 0x04, 0x01};
// 1.3.6.1.4.1.311.10.3.13 lifetime signing
inline constexpr std::array<std::uint8_t, 10> lifetimeSigning{0x2B, 0x06, 0x01, 0x04, 0x01,
                                                              0x82, 0x37, 0x0A, 0x03, 0x0D};

inline Bytes bytes(const auto& oid) { return Bytes(oid.data(), oid.size()); }

}  // namespace authenticode::oids
