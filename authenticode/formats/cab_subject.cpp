#include "authenticode/formats/cab_subject.h"

#include <array>

#include "authenticode/formats/signature_der.h"
#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"

namespace authenticode {

namespace {

constexpr std::array<std::uint8_t, 4> magic{'M', 'S', 'C', 'F'};
constexpr std::uint16_t reservePresent = 0x0004;  // cfhdrRESERVE_PRESENT

// CFHEADER, after the magic. With cfhdrRESERVE_PRESENT in flags it goes on
// with the reserved-area sizes and abReserve[cbCFHeader]; then come the
// optional previous/next cabinet names, the CFFOLDER entries, the CFFILE
// entries and the data blocks.
struct CabHeader {
    static constexpr std::size_t size = 36;
    std::uint32_t reserved1;  // a header checksum nobody fills in
    std::uint32_t cabinetSize;
    std::uint32_t reserved2;
    std::uint32_t filesOffset;
    std::uint32_t reserved3;
    std::uint8_t versionMinor;
    std::uint8_t versionMajor;
    std::uint16_t folderCount;
    std::uint16_t fileCount;
    std::uint16_t flags;
    std::uint16_t setId;
    std::uint16_t cabinetIndex;
    // Present only with cfhdrRESERVE_PRESENT.
    std::uint16_t headerReserveSize;  // cbCFHeader
    std::uint8_t folderReserveSize;   // cbCFFolder
    std::uint8_t dataReserveSize;     // cbCFData
};

// A signed cabinet's abReserve is exactly this 20-byte record. It is
// written when the cabinet is signed, so apart from the extra-data size none
// of it is hashed.
struct CabSignatureRecord {
    static constexpr std::size_t size = 20;
    std::uint16_t extraDataSize;  // always 0: extra data would follow the sizes and be part of the digest
    std::uint16_t infoSize;       // of the signature information that follows, 16
    std::uint32_t signatureOffset;
    std::uint32_t signatureSize;  // the DER, zero-padded to a multiple of 8
    Bytes unused;                 // 8 bytes
};
constexpr std::uint16_t signatureInfoSize = 16;

// Where the pieces of a signed header are, for the digest: the magic and
// cbCabinet through iCabinet are hashed (the reserved1 checksum is left
// out), then the extra-data size, then all after the signature record.
constexpr std::size_t magicSize = 4;
constexpr std::size_t hashedFieldsOffset = 8;
constexpr std::size_t reserveOffset = 40;  // abReserve
constexpr std::size_t extraDataSizeSize = 2;
constexpr std::size_t signedHeaderEnd = reserveOffset + CabSignatureRecord::size;  // 60

struct SignedCabHeader {
    CabHeader header;
    CabSignatureRecord record;
    CabSignatureLocation location;
};

std::variant<SignedCabHeader, Reason> readSignedHeader(Bytes file) {
    ByteCursor cursor(file);
    CabHeader h{};
    if (!cursor.skip(magicSize) ||
        !cursor.fields(h.reserved1, h.cabinetSize, h.reserved2, h.filesOffset, h.reserved3, h.versionMinor,
                       h.versionMajor, h.folderCount, h.fileCount, h.flags, h.setId, h.cabinetIndex) ||
        (h.flags & reservePresent) == 0) {
        return Reason::NoSignature;
    }
    CabSignatureRecord record{};
    const auto unused = cursor.fields(h.headerReserveSize, h.folderReserveSize, h.dataReserveSize) &&
                                cursor.fields(record.extraDataSize, record.infoSize, record.signatureOffset,
                                              record.signatureSize)
                            ? cursor.bytes(8)
                            : std::nullopt;
    if (!unused) {
        return Reason::NoSignature;  // the header is cut short
    }
    if (h.headerReserveSize != CabSignatureRecord::size || record.extraDataSize != 0 ||
        record.infoSize != signatureInfoSize) {
        return Reason::NoSignature;  // a reserved area, but not a signature record
    }
    // The signature lies after the header and ends exactly at the end of the
    // file (both values are 32-bit, so their sum cannot overflow).
    const std::size_t offset = record.signatureOffset;
    const std::size_t size = record.signatureSize;
    if (size == 0 || offset < signedHeaderEnd || offset + size != file.size()) {
        return Reason::NoSignature;
    }
    record.unused = *unused;
    return SignedCabHeader{h, record, CabSignatureLocation{offset, size}};
}

bool startsWithMagic(Bytes bytes) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

}  // namespace

std::variant<CabSignatureLocation, Reason> findCabSignature(Bytes file) {
    auto found = readSignedHeader(file);
    if (const auto* reason = std::get_if<Reason>(&found)) {
        return *reason;
    }
    return std::get<SignedCabHeader>(found).location;
}

std::optional<SubjectOrReason> locateCabSubject(const MappedFile& file, std::string_view /*path*/) {
    const Bytes bytes = file.bytes();
    if (!startsWithMagic(bytes)) {
        return std::nullopt;
    }
    const auto found = readSignedHeader(bytes);
    if (const auto* reason = std::get_if<Reason>(&found)) {
        return *reason;
    }
    const CabSignatureRecord& record = std::get<SignedCabHeader>(found).record;
    const CabSignatureLocation location = std::get<SignedCabHeader>(found).location;

    const Bytes area = bytes.subspan(location.signatureOffset);
    // Nothing unsigned may hide in the padding after the DER or in the
    // record's unused bytes.
    const auto message = signatureDer(area, AfterSignature::ZeroPadding);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }
    if (!allZero(record.unused)) {
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
    hashFileRange(file, hashedFieldsOffset, CabHeader::size - hashedFieldsOffset, hasher);
    hashFileRange(file, reserveOffset, extraDataSizeSize, hasher);
    hashFileRange(file, signedHeaderEnd, location.signatureOffset - signedHeaderEnd, hasher);
}

}  // namespace authenticode
