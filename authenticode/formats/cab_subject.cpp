#include "authenticode/formats/cab_subject.h"

#include <array>

#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"
#include "authenticode/formats/signature_der.h"

namespace authenticode {

namespace {

// CFHEADER, little-endian throughout:
//   0  "MSCF"          4  reserved1 (a header checksum nobody fills in)
//   8  cbCabinet      12  reserved2      16  coffFiles      20  reserved3
//  24  versionMinor   25  versionMajor   26  cFolders       28  cFiles
//  30  flags          32  setID          34  iCabinet
// With cfhdrRESERVE_PRESENT in flags the header goes on with
//  36  cbCFHeader (u16)   38  cbCFFolder (u8)   39  cbCFData (u8)
//  40  abReserve[cbCFHeader]
// and then the optional previous/next cabinet names, the CFFOLDER entries,
// the CFFILE entries and the data blocks.
constexpr std::array<std::uint8_t, 4> magic{'M', 'S', 'C', 'F'};
constexpr std::size_t fixedHeaderSize = 36;
constexpr std::size_t flagsOffset = 30;
constexpr std::uint16_t reservePresent = 0x0004;
constexpr std::size_t reserveSizeOffset = 36;  // cbCFHeader
constexpr std::size_t reserveOffset = 40;      // abReserve

// A signed cabinet's abReserve is exactly this 20-byte record:
//  40  u16 size of extra reserved data, always 0 (it would follow the two
//      sizes and be part of the digest)
//  42  u16 size of the signature information that follows, 16
//  44  u32 file offset of the PKCS#7
//  48  u32 size of the PKCS#7 area (the DER, zero-padded to a multiple of 8)
//  52  8 unused bytes
// The record is written when the cabinet is signed, so apart from the
// extra-data size none of it is hashed.
constexpr std::size_t signatureRecordSize = 20;
constexpr std::uint16_t signatureInfoSize = 16;
constexpr std::size_t signatureOffsetField = 44;
constexpr std::size_t signatureSizeField = 48;
constexpr std::size_t unusedOffset = 52;
constexpr std::size_t unusedSize = 8;
constexpr std::size_t signedHeaderEnd = reserveOffset + signatureRecordSize;  // 60

// Hashed pieces of the header: the magic, cbCabinet through iCabinet (the
// reserved1 checksum field is left out), and the extra-data size.
constexpr std::size_t magicSize = 4;
constexpr std::size_t hashedFieldsOffset = 8;
constexpr std::size_t extraDataSizeSize = 2;

bool startsWithMagic(Bytes bytes) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

}  // namespace

std::variant<CabSignatureLocation, Reason> findCabSignature(Bytes file) {
    const auto flags = readU16(file, flagsOffset);
    if (!flags || (*flags & reservePresent) == 0) {
        return Reason::NoSignature;
    }
    const auto reserveSize = readU16(file, reserveSizeOffset);
    const auto extraDataSize = readU16(file, reserveOffset);
    const auto infoSize = readU16(file, reserveOffset + 2);
    const auto signatureOffset = readU32(file, signatureOffsetField);
    const auto signatureSize = readU32(file, signatureSizeField);
    if (!reserveSize || !extraDataSize || !infoSize || !signatureOffset || !signatureSize ||
        file.size() < signedHeaderEnd) {
        return Reason::NoSignature;  // the header is cut short
    }
    if (*reserveSize != signatureRecordSize || *extraDataSize != 0 || *infoSize != signatureInfoSize) {
        return Reason::NoSignature;  // a reserved area, but not a signature record
    }
    // The signature lies after the header and ends exactly at the end of the
    // file (both values are 32-bit, so their sum cannot overflow).
    const std::size_t offset = *signatureOffset;
    const std::size_t size = *signatureSize;
    if (size == 0 || offset < signedHeaderEnd || offset + size != file.size()) {
        return Reason::NoSignature;
    }
    return CabSignatureLocation{offset, size};
}

std::optional<SubjectOrReason> locateCabSubject(const MappedFile& file, std::string_view /*path*/) {
    const Bytes bytes = file.bytes();
    if (!startsWithMagic(bytes)) {
        return std::nullopt;
    }
    const auto found = findCabSignature(bytes);
    if (const auto* reason = std::get_if<Reason>(&found)) {
        return *reason;
    }
    const auto location = std::get<CabSignatureLocation>(found);

    const Bytes area = bytes.subspan(location.signatureOffset);
    // Nothing unsigned may hide in the padding after the DER or in the
    // record's unused bytes.
    const auto message = signatureDer(area, AfterSignature::ZeroPadding);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }
    if (!allZero(bytes.subspan(unusedOffset, unusedSize))) {
        return Reason::HiddenDataInSignature;
    }

    return Subject{std::get<Bytes>(message), [&file, location](const SignedMessage& signedMessage) {
                       return checkIndirectDigest(signedMessage, oids::bytes(oids::spcCabData),
                                                  [&](Hasher& hasher) { hashCabinet(file, location, hasher); });
                   }};
}

void hashCabinet(const MappedFile& file, const CabSignatureLocation& location, Hasher& hasher) {
    if (location.signatureOffset < signedHeaderEnd || location.signatureOffset > file.bytes().size()) {
        hasher.abandon();
        return;
    }
    hashFileRange(file, 0, magicSize, hasher);
    hashFileRange(file, hashedFieldsOffset, fixedHeaderSize - hashedFieldsOffset, hasher);
    hashFileRange(file, reserveOffset, extraDataSizeSize, hasher);
    hashFileRange(file, signedHeaderEnd, location.signatureOffset - signedHeaderEnd, hasher);
}

}  // namespace authenticode
