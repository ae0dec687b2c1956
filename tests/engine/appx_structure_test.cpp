// ZIP archives and APPX packages: the archive structure the reader accepts,
// the data of stored and deflated parts, the central directory as it was
// before signing, and where a package's signature is or why there is none.
// Synthetic archives, plus the fixtures' digests recomputed by
// tools/appxtool.py.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>
#include <string>

#include "authenticode/formats/appx_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/zip_archive.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"
#include "synthetic_pe.h"

namespace {

using authenticode::Reason;
using Data = std::vector<std::uint8_t>;

constexpr std::time_t anyTime = 1700000000;

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

void append16(Data& out, std::uint64_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void append32(Data& out, std::uint64_t value) {
    append16(out, value & 0xFFFF);
    append16(out, (value >> 16) & 0xFFFF);
}
void append64(Data& out, std::uint64_t value) {
    append32(out, value & 0xFFFFFFFF);
    append32(out, value >> 32);
}
void put32(Data& out, std::size_t offset, std::uint32_t value) {
    testing_support::putU32(out, offset, value);
}

// A raw deflate stream made of one stored block: what zlib reads back as `data`.
Data storedDeflate(const Data& data) {
    Data out{0x01};
    append16(out, data.size());
    append16(out, ~data.size() & 0xFFFF);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

struct Part {
    std::string name;
    Data stored;  // the bytes as the archive holds them
    std::uint16_t method = 0;
    std::uint64_t uncompressed = 0;  // 0: the stored size
    bool descriptor = false;
};

Part storedPart(const std::string& name, const std::string& text) {
    return {name, bytesOf(text)};
}

// Writes archives the way the two layouts in the wild do: plain (sizes in
// the local headers, short end record) or the packaging tool's (data
// descriptors, ZIP64 extra fields, ZIP64 end records, marker fields).
struct ZipBuilder {
    bool zip64 = false;
    std::string comment;

    struct Layout {
        Data bytes;
        std::vector<std::size_t> localOffsets;
        std::size_t directoryOffset = 0;
    };

    Layout build(const std::vector<Part>& parts) const {
        Layout layout;
        Data& out = layout.bytes;
        Data central;
        for (const Part& part : parts) {
            const std::uint64_t uncompressed = part.uncompressed ? part.uncompressed : part.stored.size();
            const bool descriptor = part.descriptor || zip64;
            const std::size_t offset = out.size();
            layout.localOffsets.push_back(offset);
            append32(out, 0x04034B50);
            append16(out, zip64 ? 45 : 20);
            append16(out, descriptor ? 8 : 0);
            append16(out, part.method);
            append32(out, 0);  // time and date
            append32(out, 0);  // crc-32: not what a signature rests on
            append32(out, descriptor ? 0 : part.stored.size());
            append32(out, descriptor ? 0 : uncompressed);
            append16(out, part.name.size());
            append16(out, 0);
            out.insert(out.end(), part.name.begin(), part.name.end());
            out.insert(out.end(), part.stored.begin(), part.stored.end());
            if (descriptor) {
                append32(out, 0x08074B50);
                append32(out, 0);
                if (zip64) {
                    append64(out, part.stored.size());
                    append64(out, uncompressed);
                } else {
                    append32(out, part.stored.size());
                    append32(out, uncompressed);
                }
            }
            append32(central, 0x02014B50);
            append16(central, zip64 ? 45 : 20);
            append16(central, zip64 ? 45 : 20);
            append16(central, descriptor ? 8 : 0);
            append16(central, part.method);
            append32(central, 0);
            append32(central, 0);
            append32(central, zip64 ? 0xFFFFFFFF : part.stored.size());
            append32(central, zip64 ? 0xFFFFFFFF : uncompressed);
            append16(central, part.name.size());
            append16(central, zip64 ? 28 : 0);
            append16(central, 0);
            append16(central, 0);
            append16(central, 0);
            append32(central, 0);
            append32(central, zip64 ? 0xFFFFFFFF : offset);
            central.insert(central.end(), part.name.begin(), part.name.end());
            if (zip64) {
                append16(central, 1);
                append16(central, 24);
                append64(central, uncompressed);
                append64(central, part.stored.size());
                append64(central, offset);
            }
        }
        layout.directoryOffset = out.size();
        out.insert(out.end(), central.begin(), central.end());
        if (zip64) {
            const std::size_t record = out.size();
            append32(out, 0x06064B50);
            append64(out, 44);
            append16(out, 45);
            append16(out, 45);
            append32(out, 0);
            append32(out, 0);
            append64(out, parts.size());
            append64(out, parts.size());
            append64(out, central.size());
            append64(out, layout.directoryOffset);
            append32(out, 0x07064B50);
            append32(out, 0);
            append64(out, record);
            append32(out, 1);
        }
        append32(out, 0x06054B50);
        append16(out, 0);
        append16(out, 0);
        append16(out, zip64 ? 0xFFFF : parts.size());
        append16(out, zip64 ? 0xFFFF : parts.size());
        append32(out, zip64 ? 0xFFFFFFFF : central.size());
        append32(out, zip64 ? 0xFFFFFFFF : layout.directoryOffset);
        append16(out, comment.size());
        out.insert(out.end(), comment.begin(), comment.end());
        return layout;
    }
};

std::vector<Part> threeParts() {
    return {storedPart("AppxManifest.xml", "<Package/>"), storedPart("AppxBlockMap.xml", "<BlockMap/>"),
            storedPart("[Content_Types].xml", "<Types/>")};
}

TEST(ZipArchive, ReadsBothLayouts) {
    for (const bool zip64 : {false, true}) {
        ZipBuilder builder;
        builder.zip64 = zip64;
        builder.comment = zip64 ? "" : "a comment with PK\x05\x06 in it";
        const auto layout = builder.build(threeParts());
        const auto archive = authenticode::readZipArchive(layout.bytes);
        ASSERT_TRUE(archive.has_value()) << zip64;
        ASSERT_EQ(archive->entries.size(), 3u);
        EXPECT_EQ(archive->entries[1].name, "AppxBlockMap.xml");
        EXPECT_EQ(archive->entries[2].localHeaderOffset, layout.localOffsets[2]);
        EXPECT_EQ(archive->entries[2].compressedSize, 8u);
        EXPECT_EQ(archive->centralDirectoryOffset, layout.directoryOffset);
        EXPECT_EQ(archive->end.zip64Record.empty(), !zip64);
        const auto data = authenticode::zipEntryData(layout.bytes, archive->entries[1]);
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(Data(data->compressed.begin(), data->compressed.end()), bytesOf("<BlockMap/>"));
        EXPECT_EQ(data->end, layout.localOffsets[2]);
    }
}

TEST(ZipArchive, RejectsMalformedStructure) {
    ZipBuilder plain;
    const auto layout = plain.build(threeParts());
    const std::size_t end = layout.bytes.size() - 22;
    const std::size_t directory = layout.directoryOffset;
    ZipBuilder wide;
    wide.zip64 = true;
    const auto wideLayout = wide.build(threeParts());
    const std::size_t wideEnd = wideLayout.bytes.size() - 22;
    const std::size_t record = wideEnd - 20 - 56;

    struct Case {
        const char* name;
        bool zip64;
        std::function<void(Data&)> change;
    };
    const Case cases[] = {
        {"bytes after the end record", false, [](Data& d) { d.push_back(0); }},
        {"comment length beyond the file", false, [&](Data& d) { d[end + 20] = 1; }},
        {"directory offset past the end", false, [&](Data& d) { put32(d, end + 16, 0x7FFFFFF0); }},
        {"directory size too small", false, [&](Data& d) { put32(d, end + 12, end - directory - 1); }},
        {"more entries than room for them", false,
         [&](Data& d) {
             testing_support::putU16(d, end + 10, 0xFFFE);
             testing_support::putU16(d, end + 8, 0xFFFE);
         }},
        {"fewer entries than the directory holds", false,
         [&](Data& d) {
             testing_support::putU16(d, end + 10, 2);
             testing_support::putU16(d, end + 8, 2);
         }},
        {"entry counts disagree", false, [&](Data& d) { testing_support::putU16(d, end + 8, 2); }},
        {"second disk", false,
         [&](Data& d) {
             testing_support::putU16(d, end + 4, 1);
             testing_support::putU16(d, end + 6, 1);
         }},
        {"central record signature", false, [&](Data& d) { d[directory] = 'Q'; }},
        {"name runs out of the directory", false, [&](Data& d) { testing_support::putU16(d, directory + 28, 0xFFFF); }},
        {"local header at the directory", false, [&](Data& d) { put32(d, directory + 42, directory); }},
        {"entry on another disk", false, [&](Data& d) { testing_support::putU16(d, directory + 34, 1); }},
        {"gap before the end record", false,
         [&](Data& d) {
             d.insert(d.begin() + static_cast<std::ptrdiff_t>(end), {0, 0, 0, 0});
         }},
        {"ZIP64 record size field", true, [&](Data& d) { d[record + 4] = 45; }},
        {"ZIP64 entry count 2^60", true,
         [&](Data& d) {
             d[record + 31] = 0x10;
             d[record + 39] = 0x10;
         }},
        {"ZIP64 directory offset 2^62", true, [&](Data& d) { d[record + 55] = 0x40; }},
        {"ZIP64 locator offset past the end", true, [&](Data& d) { d[wideEnd - 20 + 15] = 0x40; }},
        {"short field disagrees with ZIP64", true,
         [&](Data& d) {
             testing_support::putU16(d, wideEnd + 10, 2);
             testing_support::putU16(d, wideEnd + 8, 2);
         }},
        {"ZIP64 extra field missing", true,
         [&](Data& d) { testing_support::putU16(d, wideLayout.directoryOffset + 30, 0); }},
        {"ZIP64 extra field too short", true,
         [&](Data& d) { testing_support::putU16(d, wideLayout.directoryOffset + 46 + 16 + 2, 8); }},
    };
    for (const Case& c : cases) {
        Data bytes = c.zip64 ? wideLayout.bytes : layout.bytes;
        c.change(bytes);
        EXPECT_FALSE(authenticode::readZipArchive(bytes).has_value()) << c.name;
    }
    // Every cut of the archive short of its end.
    for (std::size_t size = 0; size < layout.bytes.size(); ++size) {
        const Data cut(layout.bytes.begin(), layout.bytes.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(authenticode::readZipArchive(cut).has_value()) << size;
    }
}

std::optional<Data> readPart(const Part& part, bool zip64 = false) {
    ZipBuilder builder;
    builder.zip64 = zip64;
    const auto layout = builder.build({part});
    const auto archive = authenticode::readZipArchive(layout.bytes);
    if (!archive) {
        ADD_FAILURE() << part.name;
        return std::nullopt;
    }
    Data out;
    if (!authenticode::readZipEntry(layout.bytes, archive->entries[0], [&](authenticode::Bytes block) {
            out.insert(out.end(), block.begin(), block.end());
        })) {
        return std::nullopt;
    }
    return out;
}

TEST(ZipEntry, DataIsExactlyWhatTheDirectorySays) {
    const Data text = bytesOf("hello, package");
    struct Case {
        const char* name;
        Part part;
        std::optional<Data> expected;
    };
    Data trailing = storedDeflate(text);
    trailing.push_back(0);
    Data truncated = storedDeflate(text);
    truncated.resize(truncated.size() - 3);
    const Case cases[] = {
        {"stored", {"a", text}, text},
        {"stored with a descriptor", {"a", text, 0, 0, true}, text},
        {"deflated", {"a", storedDeflate(text), 8, text.size()}, text},
        {"deflated, more than the directory says", {"a", storedDeflate(text), 8, text.size() - 1}, std::nullopt},
        {"deflated, less than the directory says", {"a", storedDeflate(text), 8, text.size() + 1}, std::nullopt},
        {"deflated, bytes after the stream", {"a", trailing, 8, text.size()}, std::nullopt},
        {"deflated, stream cut short", {"a", truncated, 8, text.size()}, std::nullopt},
        {"not deflate at all", {"a", {0x07, 0x00}, 8, 5}, std::nullopt},
        {"stored sizes disagree", {"a", text, 0, text.size() + 1}, std::nullopt},
        {"another method", {"a", text, 12, text.size()}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readPart(c.part), c.expected) << c.name;
        EXPECT_EQ(readPart(c.part, true), c.expected) << c.name << " (ZIP64 layout)";
    }
}

TEST(ZipEntry, LocalHeaderMustAgreeWithTheDirectory) {
    ZipBuilder builder;
    const auto layout = builder.build(threeParts());
    const auto archive = authenticode::readZipArchive(layout.bytes);
    ASSERT_TRUE(archive.has_value());
    const std::size_t local = layout.localOffsets[0];
    struct Case {
        const char* name;
        std::function<void(Data&)> change;
    };
    const Case cases[] = {
        {"signature", [&](Data& d) { d[local] = 'Q'; }},
        {"name", [&](Data& d) { d[local + 30] = 'a'; }},
        {"method", [&](Data& d) { d[local + 8] = 8; }},
        {"compressed size", [&](Data& d) { d[local + 18] += 1; }},
        {"descriptor announced but absent", [&](Data& d) { d[local + 6] = 8; }},
        {"extra field runs past the file", [&](Data& d) { testing_support::putU16(d, local + 28, 0xFFFF); }},
    };
    for (const Case& c : cases) {
        Data bytes = layout.bytes;
        c.change(bytes);
        EXPECT_FALSE(authenticode::zipEntryData(bytes, archive->entries[0]).has_value()) << c.name;
    }
}

// The central directory and end records of a signed package, hashed as they
// were before signing, are exactly the tail of the same package unsigned.
TEST(AppxPackage, CentralDirectoryIsHashedAsItWasBeforeSigning) {
    for (const bool zip64 : {false, true}) {
        ZipBuilder builder;
        builder.zip64 = zip64;
        const auto parts = threeParts();
        const auto unsigned_ = builder.build(parts);
        auto withSignature = parts;
        withSignature.push_back(storedPart("AppxSignature.p7x", "PKCX0123456789"));
        const auto signed_ = builder.build(withSignature);
        const auto archive = authenticode::readZipArchive(signed_.bytes);
        ASSERT_TRUE(archive.has_value());

        authenticode::Hasher hasher(EVP_sha256());
        authenticode::hashUnsignedCentralDirectory(*archive, archive->entries.back(), hasher);
        const Data tail(unsigned_.bytes.begin() + static_cast<std::ptrdiff_t>(unsigned_.directoryOffset),
                        unsigned_.bytes.end());
        EXPECT_EQ(testing_support::hex(hasher.finish()), testing_support::hex(authenticode::digestOf(EVP_sha256(), tail))) << zip64;
    }
}

Reason verifyPackage(const std::string& name, const Data& bytes) {
    return authenticode::verifyFileReason(testing_support::writeTempFile(name, bytes), anyTime);
}

TEST(AppxPackage, FindsTheSignatureOrSaysWhyNot) {
    const Data junkMessage = {0x30, 0x03, 0x02, 0x01, 0x05};
    const auto signature = [](const Data& content) {
        Data bytes = bytesOf("PKCX");
        bytes.insert(bytes.end(), content.begin(), content.end());
        return Part{"AppxSignature.p7x", bytes};
    };
    const auto signedParts = [&](const Data& content) {
        auto parts = threeParts();
        parts.push_back(signature(content));
        return parts;
    };
    struct Case {
        const char* name;
        std::function<Data()> make;
        Reason expected;
    };
    ZipBuilder plain;
    const Case cases[] = {
        {"no signature", [&] { return plain.build(threeParts()).bytes; }, Reason::NoSignature},
        {"no block map",
         [&] {
             return plain.build({storedPart("[Content_Types].xml", "<Types/>"), signature(junkMessage)}).bytes;
         },
         Reason::SubjectFormatUnknown},
        {"two content type parts",
         [&] {
             auto parts = signedParts(junkMessage);
             parts.insert(parts.begin(), storedPart("[Content_Types].xml", "<Types/>"));
             return plain.build(parts).bytes;
         },
         Reason::SubjectFormatUnknown},
        {"two block maps, names differing in case",
         [&] {
             auto parts = signedParts(junkMessage);
             parts.insert(parts.begin(), storedPart("appxblockmap.XML", "<BlockMap/>"));
             return plain.build(parts).bytes;
         },
         Reason::SubjectFormatUnknown},
        {"signature without PKCX",
         [&] {
             auto parts = threeParts();
             parts.push_back({"AppxSignature.p7x", junkMessage});
             return plain.build(parts).bytes;
         },
         Reason::NoSignature},
        {"signature deflated and corrupt",
         [&] {
             auto parts = threeParts();
             parts.push_back({"AppxSignature.p7x", {0x07, 0x00}, 8, 9});
             return plain.build(parts).bytes;
         },
         Reason::NoSignature},
        {"signature claims to inflate to 1 GiB",
         [&] {
             auto parts = threeParts();
             parts.push_back({"AppxSignature.p7x", storedDeflate(bytesOf("PKCX")), 8, std::uint64_t{1} << 30});
             return plain.build(parts).bytes;
         },
         Reason::MalformedMessage},
        {"not a PKCS#7", [&] { return plain.build(signedParts(junkMessage)).bytes; }, Reason::MalformedMessage},
        {"not DER",
         [&] {
             return plain.build(signedParts({0x04, 0x05})).bytes;
         },
         Reason::MalformedMessage},
        {"bytes after the DER",
         [&] {
             return plain.build(signedParts({0x30, 0x00, 0x00})).bytes;
         },
         Reason::HiddenDataInSignature},
        {"a part after the signature",
         [&] {
             auto parts = signedParts(junkMessage);
             parts.push_back(storedPart("late.txt", "added"));
             return plain.build(parts).bytes;
         },
         Reason::DigestMismatch},
        {"bytes between the signature and the directory",
         [&] {
             const auto layout = plain.build(signedParts(junkMessage));
             Data bytes = layout.bytes;
             const std::size_t end = bytes.size() - 22;
             bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(layout.directoryOffset), {'x', 'y'});
             // The local headers all lie before the gap; only the directory moves.
             put32(bytes, end + 2 + 16, static_cast<std::uint32_t>(layout.directoryOffset + 2));
             return bytes;
         },
         Reason::SubjectFormatUnknown},
        {"empty file", [] { return Data{}; }, Reason::SubjectFormatUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(verifyPackage("package.appx", c.make()), c.expected) << c.name;
    }
    // Only the names of packages and bundles make a file a package.
    EXPECT_EQ(verifyPackage("package.zip", plain.build(threeParts()).bytes), Reason::SubjectFormatUnknown);
    EXPECT_EQ(verifyPackage("package.MsixBundle", plain.build(threeParts()).bytes), Reason::NoSignature);
}

TEST(AppxPackage, NamesByExtension) {
    for (const char* name : {"a.appx", "a.msix", "dir/a.appxbundle", "A.MSIXBUNDLE", "x.Appx"}) {
        EXPECT_TRUE(authenticode::isAppxPath(name)) << name;
    }
    for (const char* name : {"a.zip", "a.appx.zip", "appx", "a.msi", "a.appx/b", "a.eappx"}) {
        EXPECT_FALSE(authenticode::isAppxPath(name)) << name;
    }
}

TEST(AppxPackage, PartDigestsMatchTheIndependentlyComputedValues) {
    const auto rows = testing_support::readFixtureTable("digests-appx.tsv");
    ASSERT_GE(rows.size(), 20u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        const auto file = authenticode::MappedFile::open(testing_support::fixturePath(row[0]));
        ASSERT_TRUE(file.has_value()) << row[0];
        const auto archive = authenticode::readZipArchive(file->bytes());
        ASSERT_TRUE(archive.has_value()) << row[0];
        const auto signature = std::find_if(archive->entries.begin(), archive->entries.end(),
                                            [](const auto& entry) { return entry.name == "AppxSignature.p7x"; });
        ASSERT_NE(signature, archive->entries.end()) << row[0];
        const auto digest =
            authenticode::packagePartDigest(*file, *archive, *signature, row[2], EVP_get_digestbyname(row[1].c_str()));
        ASSERT_TRUE(digest.has_value()) << row[0] << " " << row[2];
        EXPECT_EQ(testing_support::hex(*digest), row[3]) << row[0] << " " << row[2];
    }
}

TEST(AppxPackage, HostileArchivesAnswerQuickly) {
    ZipBuilder wide;
    wide.zip64 = true;
    Data claims = wide.build(threeParts()).bytes;
    const std::size_t record = claims.size() - 22 - 20 - 56;
    claims[record + 31] = 0x7F;  // 2^63-ish entries
    claims[record + 39] = 0x7F;
    Data endRecords(1 << 20, 0);
    for (std::size_t i = endRecords.size() - 65557; i + 4 < endRecords.size(); i += 4) {
        endRecords[i] = 'P';
        endRecords[i + 1] = 'K';
        endRecords[i + 2] = 5;
        endRecords[i + 3] = 6;
    }
    const std::pair<const char*, Data> cases[] = {
        {"claims.msix", claims},
        {"end-records.appx", endRecords},
        {"zeros.appx", Data(32 << 20, 0)},
    };
    for (const auto& [name, bytes] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(verifyPackage(name, bytes), Reason::SubjectFormatUnknown) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << name;
    }
}

}  // namespace

namespace {

std::vector<std::uint8_t> fixtureBytes(const std::string& relative) {
    std::ifstream in(testing_support::fixturePath(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A central directory changed in a field nothing but its digest covers (the
// first entry's "version made by") must fail the package's digest: the AXCD
// digest is all that binds the directory to the signature.
TEST(AppxPackage, ACentralDirectoryChangedOnlyThereFailsItsDigest) {
    testing_support::useFixtureTrust("trusted.pem");
    auto bytes = fixtureBytes("appx/signed.appx");
    ASSERT_GT(bytes.size(), 22u);
    ASSERT_EQ(verifyPackage("directory-intact.appx", bytes), Reason::Trusted);
    // The end record closes the file: its signature, then at +16 the
    // directory's offset.
    const std::size_t end = bytes.size() - 22;
    ASSERT_EQ(bytes[end], 0x50);
    ASSERT_EQ(bytes[end + 1], 0x4B);
    const std::size_t directory = bytes[end + 16] | (bytes[end + 17] << 8) | (bytes[end + 18] << 16) |
                                  (static_cast<std::size_t>(bytes[end + 19]) << 24);
    ASSERT_LT(directory + 4, end);
    bytes[directory + 4] ^= 0x01;  // version made by, low byte
    EXPECT_EQ(verifyPackage("directory-changed.appx", bytes), Reason::DigestMismatch);
}

}  // namespace
