// The engine on real signed files: every fixture's reason at a pinned time,
// the image digest against values computed independently, and the rules
// about which time the chain is checked at.
#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "authenticode/formats/pe_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/pe_image.h"
#include "authenticode/reason.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"

namespace {

using authenticode::Reason;
using testing_support::fixturePath;

// 2030-01-01: long after the short-lived leaves expired, long before the
// long-lived ones do.
constexpr std::time_t pinnedNow = 1893456000;
constexpr std::time_t mid2011 = 1308096000;  // inside the short-lived leaves' validity
constexpr std::time_t in2092 = 3849984000;   // inside the not-yet-valid leaf's validity

std::int32_t verifyAt(const std::string& file, std::time_t now, const std::string& trust = "trusted.pem") {
    testing_support::useFixtureTrust(trust);
    return authenticode::verifyFile(fixturePath(file), now);
}

TEST(Fixtures, EachGivesTheExpectedCodeAtAPinnedTime) {
    const auto rows = testing_support::expectedRows();
    ASSERT_GT(rows.size(), 50u);
    for (const auto& row : rows) {
        EXPECT_EQ(verifyAt(row.file, pinnedNow, row.trust), static_cast<std::int32_t>(row.code))
            << row.file << " with " << row.trust;
    }
}

TEST(ImageDigest, MatchesTheIndependentlyComputedValues) {
    const auto rows = testing_support::readFixtureTable("digests.tsv");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const auto file = authenticode::MappedFile::open(fixturePath(row[0]));
        ASSERT_TRUE(file.has_value()) << row[0];
        const auto image = authenticode::parsePeImage(file->bytes());
        ASSERT_TRUE(image.has_value()) << row[0];
        const std::size_t end =
            image->certificateTableOffset != 0 ? image->certificateTableOffset : file->bytes().size();
        authenticode::Hasher hasher(EVP_get_digestbyname(row[1].c_str()));
        authenticode::hashPeImage(*file, *image, end, hasher);
        EXPECT_EQ(testing_support::hex(hasher.finish()), row[2]) << row[0];
    }
}

TEST(VerificationTime, WithoutATimeStampIsNow) {
    EXPECT_EQ(verifyAt("pe/trust-expired.exe", mid2011), 0);
    EXPECT_EQ(verifyAt("pe/trust-not-yet-valid.exe", in2092), 0);
    EXPECT_EQ(verifyAt("pe/trust-not-yet-valid.exe", pinnedNow), static_cast<std::int32_t>(0x800B0101));
}

TEST(VerificationTime, IsTheTimeStampsWhateverNowIs) {
    // Time-stamped after the leaf expired: expired even while the leaf is valid now.
    EXPECT_EQ(verifyAt("pe/trust-expired-rfc3161-after-expiry.exe", mid2011), static_cast<std::int32_t>(0x800B0101));
    EXPECT_EQ(verifyAt("pe/trust-expired-countersig-after-expiry.exe", mid2011),
              static_cast<std::int32_t>(0x800B0101));
    EXPECT_EQ(verifyAt("pe/trust-expired-rfc3161-in-validity.exe", pinnedNow), 0);
    EXPECT_EQ(verifyAt("pe/trust-expired-countersig-in-validity.exe", pinnedNow), 0);
}

TEST(VerificationTime, LifetimeSigningIgnoresTheTimeStamp) {
    EXPECT_EQ(verifyAt("pe/trust-lifetime-expired-rfc3161.exe", mid2011), 0);
    EXPECT_EQ(verifyAt("pe/trust-lifetime-expired-rfc3161.exe", pinnedNow), static_cast<std::int32_t>(0x800B0101));
}

TEST(TrustStore, WithoutTheTestRootTheChainCannotBeCompleted) {
    const auto chaining = static_cast<std::int32_t>(0x800B010A);
    EXPECT_EQ(verifyAt("pe/signed64-sha256.exe", pinnedNow, "nonexistent.pem"), chaining);
    // The publisher's missing root is reported before the time-stamp
    // authority's, which is missing too.
    EXPECT_EQ(verifyAt("pe/trust-expired-rfc3161-in-validity.exe", pinnedNow, "nonexistent.pem"), chaining);
    EXPECT_EQ(verifyAt("pe/trust-expired-countersig-in-validity.exe", pinnedNow, "nonexistent.pem"), chaining);
    EXPECT_EQ(verifyAt("real/isunzlib.dll", pinnedNow, "nonexistent.pem"), chaining);
}

}  // namespace

namespace {

// Writes the fixture root and its rejecting twin into a folder, as a hashed
// directory the way c_rehash lays it out, and as one bundle file.
struct StoreWithRejectedCopy {
    std::filesystem::path directory;
    std::filesystem::path bundle;

    explicit StoreWithRejectedCopy(const std::string& name, bool rejectedFirst) {
        directory = std::filesystem::temp_directory_path() / ("trustcheck-store-" + name);
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory / "hashed");
        const std::string plain = readFile(fixturePath("pki/root.pem"));
        const std::string rejecting = readFile(fixturePath("trust/distrusted.pem"));
        const std::string hash = subjectHash(plain);
        const std::string first = rejectedFirst ? rejecting : plain;
        const std::string second = rejectedFirst ? plain : rejecting;
        writeFile(directory / "hashed" / (hash + ".0"), first);
        writeFile(directory / "hashed" / (hash + ".1"), second);
        bundle = directory / "bundle.pem";
        writeFile(bundle, first + second);
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    static std::string subjectHash(const std::string& pem) {
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        char hash[16];
        std::snprintf(hash, sizeof hash, "%08lx", X509_subject_name_hash(certificate));
        X509_free(certificate);
        BIO_free(bio);
        return hash;
    }
};

TEST(TrustStore, ARejectingCopyBesideTheTrustedOneDistrustsWhicheverComesFirst) {
    const auto distrusted = static_cast<std::int32_t>(0x800B0111);
    for (const bool rejectedFirst : {false, true}) {
        SCOPED_TRACE(rejectedFirst ? "rejecting copy first" : "trusted copy first");
        const StoreWithRejectedCopy store(rejectedFirst ? "rejected-first" : "trusted-first", rejectedFirst);

        setenv("SSL_CERT_FILE", (store.directory / "no-bundle.pem").c_str(), 1);
        setenv("SSL_CERT_DIR", (store.directory / "hashed").c_str(), 1);
        EXPECT_EQ(authenticode::verifyFile(fixturePath("pe/signed64-sha256.exe"), pinnedNow), distrusted);

        setenv("SSL_CERT_FILE", store.bundle.c_str(), 1);
        setenv("SSL_CERT_DIR", (store.directory / "no-directory").c_str(), 1);
        EXPECT_EQ(authenticode::verifyFile(fixturePath("pe/signed64-sha256.exe"), pinnedNow), distrusted);
    }
}

}  // namespace
