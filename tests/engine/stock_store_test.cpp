// The engine on files signed in the real world, against the machine's own
// trust store (the distribution's CA bundle), not the test root. The files and
// where they come from: tests/fixtures/real/README.md.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "authenticode/verify_file.h"
#include "fixtures.h"

namespace {

constexpr std::time_t atNow = -1;              // the clock when the test runs
constexpr std::time_t mid2020 = 1593907200;   // 2020-07-05, inside the 2020 Certum leaf's validity
constexpr std::time_t in2031 = 1924992000;    // 2031-01-01: after the 2020 chains' root and TSA expired

struct Case {
    const char* name;
    const char* file;
    std::time_t at;
    std::uint32_t code;
    const char* why;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.file << " at " << c.at; }

const Case cases[] = {
    {"CountersignedNow", "real/isunzlib.dll", atNow, 0,
     "Certum leaf expired in 2021; the legacy countersignature (Sectigo, USERTrust root) dates it 2020-07-04"},
    {"CountersignedIn2031", "real/isunzlib.dll", in2031, 0,
     "the countersignature still dates it after the Certum root (2029) and the TSA signer (2030) expired"},
    {"TimeStampedNow", "real/ISCC.exe", atNow, 0,
     "Certum leaf expired in 2025; the RFC 3161 token (Certum TSA, Certum Trusted Network CA 2) dates it 2024-06-10"},
    {"UnstampedInsideValidity", "real/isunzlib-no-timestamp.dll", mid2020, 0,
     "no time-stamp: the real chain is checked at the given time, inside the leaf's validity"},
    {"UnstampedNow", "real/isunzlib-no-timestamp.dll", atNow, 0x800B0101, "no time-stamp and the leaf expired in 2021"},
    {"RootAbsentNow", "real/fbx64.efi", atNow, 0x800B010A,
     "Debian's Secure Boot CA is in no system store and the signature carries only the leaf"},
};

// Whether OpenSSL's built-in default locations (what the engine uses when
// SSL_CERT_FILE and SSL_CERT_DIR are unset) hold any certificate.
bool systemStoreExists() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path bundle = X509_get_default_cert_file();
    if (fs::is_regular_file(bundle, error) && fs::file_size(bundle, error) > 0) {
        return true;
    }
    for (const auto& entry : fs::directory_iterator(X509_get_default_cert_dir(), error)) {
        if (entry.path().extension() == ".0") {
            return true;
        }
    }
    return false;
}

class StockStore : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
        if (!systemStoreExists()) {
            // CI installs the bundle (scripts/install-deps): there, its absence
            // is a failure, not a reason to skip.
            if (std::getenv("CI") != nullptr) {
                FAIL() << "no system CA bundle at " << X509_get_default_cert_file() << " or "
                       << X509_get_default_cert_dir() << "; install ca-certificates";
            }
            GTEST_SKIP() << "no system CA bundle at " << X509_get_default_cert_file() << " or "
                         << X509_get_default_cert_dir() << "; install ca-certificates to run these tests";
        }
    }
};

TEST_P(StockStore, GivesTheWindowsCode) {
    const Case& c = GetParam();
    const std::time_t at = c.at == atNow ? std::time(nullptr) : c.at;
    EXPECT_EQ(static_cast<std::uint32_t>(authenticode::verifyFile(testing_support::fixturePath(c.file), at)), c.code)
        << c.why;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, StockStore, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& row) { return std::string(row.param.name); });

}  // namespace
