#include "authenticode/formats/pe_subject.h"

#include <array>

#include "authenticode/formats/signature_der.h"
#include "authenticode/signature/indirect_digest.h"

namespace authenticode {

namespace {

constexpr std::size_t certificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t pkcsSignedDataType = 2;   // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr std::size_t checksumSize = 4;
constexpr std::size_t directoryEntrySize = 8;
constexpr std::size_t entryAlignment = 8;

std::size_t alignUp(std::size_t value) {
    return value + (entryAlignment - value % entryAlignment) % entryAlignment;
}

struct PrimaryEntry {
    Bytes certificate;  // bCertificate: the entry after its 8-byte header
    std::size_t end;    // offset in the table just past dwLength
};

// Walks the WIN_CERTIFICATE entries to the first one that holds PKCS#7
// SignedData.
std::variant<PrimaryEntry, Reason> findPrimaryEntry(Bytes table) {
    std::size_t position = 0;
    while (position < table.size()) {
        // WIN_CERTIFICATE: dwLength (header included), wRevision,
        // wCertificateType, then bCertificate.
        ByteCursor entry(table.subspan(position));
        std::uint32_t length = 0;
        std::uint16_t revision = 0;
        std::uint16_t type = 0;
        if (!entry.fields(length, revision, type) || length < certificateHeaderSize ||
            length > table.size() - position) {
            return Reason::NoSignature;
        }
        if (type == pkcsSignedDataType) {
            return PrimaryEntry{table.subspan(position + certificateHeaderSize, length - certificateHeaderSize),
                                position + length};
        }
        position = alignUp(position + length);
    }
    return Reason::NoSignature;
}

}  // namespace

std::optional<SubjectOrReason> locatePeSubject(const MappedFile& file, std::string_view /*path*/) {
    const Bytes bytes = file.bytes();
    const auto parsed = parsePeImage(bytes);
    if (!parsed) {
        return std::nullopt;
    }
    const PeImage& image = *parsed;
    if (!image.certificateDirectoryOffset || image.certificateTableOffset == 0 || image.certificateTableSize == 0) {
        return Reason::NoSignature;
    }
    // The table must be the last thing in the file, after the headers.
    const std::size_t tableOffset = image.certificateTableOffset;
    const std::size_t tableEnd = tableOffset + std::size_t{image.certificateTableSize};  // two 32-bit values
    if (tableEnd != bytes.size() || tableOffset < image.headersEnd) {
        return Reason::NoSignature;
    }
    if (tableOffset % entryAlignment != 0) {
        return Reason::CertificateTableMisaligned;
    }

    const Bytes table = bytes.subspan(tableOffset);
    const auto primary = findPrimaryEntry(table);
    if (const auto* reason = std::get_if<Reason>(&primary)) {
        return *reason;
    }
    const auto& entry = std::get<PrimaryEntry>(primary);

    // Only the primary signature counts. Any other byte in the table that is
    // not zero padding, a further entry with content among them, is data the
    // signature does not cover, hidden where a digest does not look.
    const auto message = signatureDer(entry.certificate, AfterSignature::ZeroPadding);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }
    if (!allZero(table.subspan(entry.end))) {
        return Reason::HiddenDataInSignature;
    }

    return Subject{std::get<Bytes>(message), [&file, image = *parsed, tableOffset](const SignedMessage& signedMessage) {
                       // Any data type: the digest binds the signature to the
                       // image, and signed EFI binaries name other types
                       // (1.3.6.1.4.1.311.2.1.21) that firmware and other
                       // verifiers accept.
                       return checkIndirectDigest(signedMessage, anyDataType,
                                                  [&](Hasher& hasher) { hashPeImage(file, image, tableOffset, hasher); });
                   }};
}

void hashPeImage(const MappedFile& file, const PeImage& image, std::size_t end, Hasher& hasher) {
    const std::size_t checksumEnd = image.checksumOffset + checksumSize;
    const std::size_t directory = image.certificateDirectoryOffset.value_or(end);
    const std::size_t directoryEnd = image.certificateDirectoryOffset ? directory + directoryEntrySize : end;
    if (checksumEnd > directory || directoryEnd > end) {
        hasher.abandon();
        return;
    }
    hashFileRange(file, 0, image.checksumOffset, hasher);
    hashFileRange(file, checksumEnd, directory - checksumEnd, hasher);
    hashFileRange(file, directoryEnd, end - directoryEnd, hasher);

    static constexpr std::array<std::uint8_t, entryAlignment> zeros{};
    hasher.update(Bytes(zeros.data(), (entryAlignment - end % entryAlignment) % entryAlignment));
}

}  // namespace authenticode
