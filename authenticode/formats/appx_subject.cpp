#include "authenticode/formats/appx_subject.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "authenticode/formats/signature_der.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"

namespace authenticode {

namespace {

constexpr std::string_view signatureName = "AppxSignature.p7x";
constexpr std::string_view contentTypesName = "[Content_Types].xml";
constexpr std::string_view blockMapName = "AppxBlockMap.xml";
constexpr std::string_view codeIntegrityName = "AppxMetadata/CodeIntegrity.cat";

constexpr std::array<std::string_view, 4> packageExtensions{".appx", ".msix", ".appxbundle", ".msixbundle"};

// The signature file: "PKCX", then the DER. The platform's own reader takes
// no more than a few megabytes; anything near this bound is not a signature.
constexpr std::string_view signatureMagic = "PKCX";
constexpr std::uint64_t maxSignatureSize = 16 << 20;

constexpr std::string_view digestsMagic = "APPX";
constexpr std::size_t tagSize = 4;

const ZipEntry* findEntry(const ZipArchive& archive, std::string_view name) {
    const auto found = std::find_if(archive.entries.begin(), archive.entries.end(),
                                    [&](const ZipEntry& entry) { return entry.name == name; });
    return found == archive.entries.end() ? nullptr : &*found;
}

// Part names are compared without regard to ASCII case, as a file system on
// the platform would: two parts whose names differ only in case could stand
// for one another.
bool namesAreUnique(const ZipArchive& archive) {
    std::vector<std::string> names;
    names.reserve(archive.entries.size());
    for (const ZipEntry& entry : archive.entries) {
        std::string name(entry.name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
}

struct Package {
    ZipArchive archive;
    std::size_t signature;  // index of the signature's entry
};

// Compares the tagged digests the signature carries with this package's.
// The SpcSipInfo's GUID (package or bundle) is not compared: the verifier
// picks the interface by the file, and the digests decide.
Outcome checkPackageDigests(const MappedFile& file, const Package& package, const SignedMessage& message) {
    const auto form = checkIndirectDataForm(message, oids::bytes(oids::spcSipInfo));
    if (const auto* reason = std::get_if<Reason>(&form)) {
        return *reason;
    }
    const auto& [indirect, algorithm] = std::get<CheckedIndirectData>(form);
    const ZipArchive& archive = package.archive;
    const ZipEntry& signature = archive.entries[package.signature];
    const ZipEntry* codeIntegrity = findEntry(archive, codeIntegrityName);

    const auto size = static_cast<std::size_t>(EVP_MD_get_size(algorithm));
    const Bytes carried = indirect.digest;
    const std::size_t expectedCount = codeIntegrity ? 5 : 4;
    if (carried.size() != digestsMagic.size() + expectedCount * (tagSize + size) ||
        !std::equal(digestsMagic.begin(), digestsMagic.end(), carried.begin())) {
        return Reason::DigestMismatch;
    }

    std::vector<std::string_view> seen;
    // The magic, then each digest as a four-letter tag and its value; the
    // size check above makes them fit exactly.
    ByteCursor digests(carried.subspan(digestsMagic.size()));
    while (!digests.empty()) {
        const auto tagBytes = digests.bytes(tagSize);
        const auto value = tagBytes ? digests.bytes(size) : std::nullopt;
        if (!value) {
            return Reason::DigestMismatch;
        }
        const std::string_view tag(reinterpret_cast<const char*>(tagBytes->data()), tagSize);
        if (std::find(seen.begin(), seen.end(), tag) != seen.end()) {
            return Reason::DigestMismatch;
        }
        seen.push_back(tag);

        const auto computed = packagePartDigest(file, archive, signature, tag, algorithm);
        if (computed && computed->empty()) {
            return Reason::SystemError;
        }
        if (!computed || !sameBytes(*computed, *value)) {
            return Reason::DigestMismatch;
        }
    }
    return Outcome::pass();
}

}  // namespace

bool isAppxPath(std::string_view path) {
    std::string lower(path.substr(path.find_last_of('/') == std::string_view::npos ? 0 : path.find_last_of('/') + 1));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return std::any_of(packageExtensions.begin(), packageExtensions.end(),
                       [&](std::string_view extension) { return lower.ends_with(extension); });
}

std::optional<std::vector<std::uint8_t>> packagePartDigest(const MappedFile& file, const ZipArchive& archive,
                                                           const ZipEntry& signature, std::string_view tag,
                                                           const EVP_MD* algorithm) {
    Hasher hasher(algorithm);
    if (tag == "AXPC") {
        hashFileRange(file, 0, static_cast<std::size_t>(signature.localHeaderOffset), hasher);
        return hasher.finish();
    }
    if (tag == "AXCD") {
        hashUnsignedCentralDirectory(archive, signature, hasher);
        return hasher.finish();
    }
    const std::string_view name = tag == "AXCT"   ? contentTypesName
                                  : tag == "AXBM" ? blockMapName
                                  : tag == "AXCI" ? codeIntegrityName
                                                  : std::string_view();
    const ZipEntry* entry = name.empty() ? nullptr : findEntry(archive, name);
    if (entry == nullptr || !readZipEntry(file.bytes(), *entry, [&](Bytes data) { hasher.update(data); })) {
        return std::nullopt;
    }
    return hasher.finish();
}

void hashUnsignedCentralDirectory(const ZipArchive& archive, const ZipEntry& signature, Hasher& hasher) {
    const std::uint64_t size = archive.centralDirectorySize - signature.centralRecord.size();
    const std::uint64_t offset = signature.localHeaderOffset;
    const std::uint64_t count = archive.entries.size() - 1;
    for (const ZipEntry& entry : archive.entries) {
        if (entry.centralRecord.data() != signature.centralRecord.data()) {
            hasher.update(entry.centralRecord);
        }
    }
    // The end records as they would be without the signature's entry. The
    // archive reader has already read each of them, so they read again.
    std::vector<std::uint8_t> records;
    if (!archive.end.zip64Record.empty()) {
        ByteCursor recordCursor(archive.end.zip64Record);
        ByteCursor locatorCursor(archive.end.zip64Locator);
        auto record = Zip64EndRecord::read(recordCursor);
        auto locator = Zip64Locator::read(locatorCursor);
        if (!record || !locator) {
            hasher.abandon();
            return;
        }
        record->entriesOnDisk = count;
        record->entries = count;
        record->directorySize = size;
        record->directoryOffset = offset;
        record->appendTo(records);
        records.insert(records.end(), recordCursor.rest().begin(), recordCursor.rest().end());
        locator->recordOffset = offset + size;
        locator->appendTo(records);
    }
    ByteCursor endCursor(archive.end.record);
    auto end = ZipEndRecord::read(endCursor);
    if (!end) {
        hasher.abandon();
        return;
    }
    // Fields that defer to the ZIP64 record keep their marker; the disk
    // numbers are zero whatever the archive says.
    end->disk = 0;
    end->directoryDisk = 0;
    for (std::uint16_t* field : {&end->entriesOnDisk, &end->entries}) {
        if (*field != zipMarker16) {
            *field = static_cast<std::uint16_t>(count);
        }
    }
    if (end->directorySize != zipMarker32) {
        end->directorySize = static_cast<std::uint32_t>(size);
    }
    if (end->directoryOffset != zipMarker32) {
        end->directoryOffset = static_cast<std::uint32_t>(offset);
    }
    end->appendTo(records);
    records.insert(records.end(), endCursor.rest().begin(), endCursor.rest().end());
    hasher.update(records);
}

std::optional<SubjectOrReason> locateAppxSubject(const MappedFile& file, std::string_view path) {
    if (!isAppxPath(path)) {
        return std::nullopt;
    }
    const Bytes bytes = file.bytes();
    auto archive = readZipArchive(bytes);
    if (!archive || !namesAreUnique(*archive) || !findEntry(*archive, contentTypesName) ||
        !findEntry(*archive, blockMapName)) {
        return Reason::SubjectFormatUnknown;
    }
    const ZipEntry* signature = findEntry(*archive, signatureName);
    if (signature == nullptr) {
        return Reason::NoSignature;
    }
    // The signature is the last record, directly before the central
    // directory: nothing after it escapes the digest of the records. A
    // record added behind it is content the signature never saw; bytes
    // that no record accounts for make the archive malformed.
    for (const ZipEntry& entry : archive->entries) {
        if (&entry != signature && entry.localHeaderOffset >= signature->localHeaderOffset) {
            return Reason::DigestMismatch;
        }
    }
    const auto data = zipEntryData(bytes, *signature);
    if (!data || data->end != archive->centralDirectoryOffset) {
        return Reason::SubjectFormatUnknown;
    }

    if (signature->uncompressedSize > maxSignatureSize) {
        return Reason::MalformedMessage;
    }
    std::vector<std::uint8_t> content;
    if (!readZipEntry(bytes, *signature,
                      [&](Bytes block) { content.insert(content.end(), block.begin(), block.end()); }) ||
        content.size() < signatureMagic.size() ||
        !std::equal(signatureMagic.begin(), signatureMagic.end(), content.begin())) {
        return Reason::NoSignature;
    }
    content.erase(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(signatureMagic.size()));

    // The subject keeps the signature's bytes and the archive's structure
    // alive for as long as it is checked.
    const auto der = std::make_shared<const std::vector<std::uint8_t>>(std::move(content));
    const auto message = signatureDer(*der, AfterSignature::Nothing);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }
    const auto index = static_cast<std::size_t>(signature - archive->entries.data());
    const auto package = std::make_shared<const Package>(Package{std::move(*archive), index});
    return Subject{std::get<Bytes>(message), [&file, der, package](const SignedMessage& signedMessage) {
                       return checkPackageDigests(file, *package, signedMessage);
                   }};
}

}  // namespace authenticode
