// The chain policy on chains made here, certificate by certificate: which
// shapes the platform accepts, and which failure is reported when several
// coincide.
#include <gtest/gtest.h>

#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/chain/chain_policy.h"
#include "authenticode/chain/trust_store.h"
#include "authenticode/reason.h"
#include "authenticode/signature/openssl_ptr.h"
#include "outcome_print.h"

namespace {

using authenticode::Outcome;
using authenticode::Reason;
using authenticode::Usage;
using KeyPtr = std::unique_ptr<EVP_PKEY, authenticode::OpenSslFree<EVP_PKEY_free>>;

// The chain holds: no failure.
constexpr Outcome holds = Outcome::pass();

constexpr std::time_t year2030 = 1893456000;
constexpr long day = 24 * 60 * 60;

KeyPtr rsaKey(unsigned bits) {
    return KeyPtr(EVP_RSA_gen(bits));
}

struct Issued {
    authenticode::X509Ptr certificate;
    KeyPtr key;
};

// A certificate for `subject` (an O= value), valid from 2020 for `days`,
// signed by `issuer` (itself when null), with extensions in OpenSSL's
// configuration syntax.
Issued issue(const std::string& subject, const Issued* issuer, std::vector<std::pair<int, std::string>> extensions,
             unsigned bits = 1024, long days = 36500) {
    Issued out{authenticode::X509Ptr(X509_new()), rsaKey(bits)};
    X509* certificate = out.certificate.get();
    X509_set_version(certificate, X509_VERSION_3);
    static long serial = 1;
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(subject.c_str()), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(subject.c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(certificate, issuer != nullptr ? X509_get_subject_name(issuer->certificate.get()) : name);
    ASN1_TIME_set(X509_getm_notBefore(certificate), 1577836800);  // 2020-01-01
    ASN1_TIME_set(X509_getm_notAfter(certificate), 1577836800 + days * day);
    X509_set_pubkey(certificate, out.key.get());
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer != nullptr ? issuer->certificate.get() : certificate, certificate, nullptr,
                   nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        EXPECT_NE(extension, nullptr) << value;
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(certificate, issuer != nullptr ? issuer->key.get() : out.key.get(), EVP_sha256());
    return out;
}

const std::vector<std::pair<int, std::string>> caExtensions = {{NID_basic_constraints, "critical,CA:TRUE"},
                                                               {NID_key_usage, "critical,keyCertSign,cRLSign"}};
const std::vector<std::pair<int, std::string>> leafExtensions = {{NID_ext_key_usage, "codeSigning"}};

// A copy of a certificate with OpenSSL trust settings ("openssl x509
// -addtrust/-addreject"): trusted for one usage, rejected for one, or both;
// NID_undef leaves that side out.
authenticode::X509Ptr withTrustSettings(X509* certificate, int trustNid, int rejectNid) {
    authenticode::X509Ptr copy(X509_dup(certificate));
    if (trustNid != NID_undef) {
        X509_add1_trust_object(copy.get(), OBJ_nid2obj(trustNid));
    }
    if (rejectNid != NID_undef) {
        X509_add1_reject_object(copy.get(), OBJ_nid2obj(rejectNid));
    }
    return copy;
}

// Writes the roots (with any OpenSSL trust settings they carry) to a file
// the store is then read from, and nothing else.
std::unique_ptr<authenticode::TrustStore> storeOf(const std::vector<X509*>& roots, const std::string& name) {
    // One folder a process: CTest runs each test in a process of its own, side by side.
    const auto directory = std::filesystem::temp_directory_path() / ("trustcheck-chain-policy-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory / "empty");
    const std::string path = (directory / (name + ".pem")).string();
    std::FILE* file = std::fopen(path.c_str(), "w");
    for (X509* root : roots) {
        PEM_write_X509_AUX(file, root);
    }
    std::fclose(file);
    setenv("SSL_CERT_FILE", path.c_str(), 1);
    setenv("SSL_CERT_DIR", (directory / "empty").c_str(), 1);
    return authenticode::TrustStore::loadMachine();
}

Outcome verify(const authenticode::TrustStore& trust, const Issued& leaf, const std::vector<const Issued*>& untrusted,
               Usage usage = Usage::CodeSigning) {
    authenticode::CertificateStackPtr stack(sk_X509_new_null());
    for (const Issued* certificate : untrusted) {
        X509_up_ref(certificate->certificate.get());
        sk_X509_push(stack.get(), certificate->certificate.get());
    }
    return authenticode::verifyChain(trust, leaf.certificate.get(), stack.get(), year2030, usage);
}

struct Row {
    const char* name;
    Outcome expected;
    const char* note;
};

TEST(ChainPolicy, ShapesOfIssuersAndKeys) {
    const Issued root = issue("Root", nullptr, caExtensions);
    const Issued ca = issue("CA", &root, caExtensions);
    const Issued noBasicConstraints = issue("No BC", &root, {{NID_key_usage, "keyCertSign"}});
    const Issued notCa = issue("Not CA", &root, {{NID_basic_constraints, "CA:FALSE"}, {NID_key_usage, "keyCertSign"}});
    const Issued weakCa = issue("Weak CA", &root, caExtensions, 512);
    const Issued constrained = issue("Constrained", &root,
                                     {{NID_basic_constraints, "critical,CA:TRUE"},
                                      {NID_key_usage, "critical,keyCertSign"},
                                      {NID_name_constraints, "critical,permitted;email:allowed.test"}});

    const Issued good = issue("Publisher", &ca, leafExtensions);
    const Issued weakLeaf = issue("Weak publisher", &ca, leafExtensions, 512);
    const Issued underWeak = issue("Publisher under weak", &weakCa, leafExtensions);
    const Issued underNoBc = issue("Publisher under no BC", &noBasicConstraints, leafExtensions);
    const Issued underNotCa = issue("Publisher under not CA", &notCa, leafExtensions);
    const Issued outsideConstraints =
        issue("Outside", &constrained, {{NID_ext_key_usage, "codeSigning"}, {NID_subject_alt_name, "email:a@other.test"}});
    const Issued expired = issue("Expired publisher", &ca, leafExtensions, 1024, 30);

    const auto trust = storeOf({root.certificate.get()}, "root");
    ASSERT_NE(trust, nullptr);
    const struct {
        const Issued& leaf;
        const Issued& issuer;
        Outcome expected;
        const char* note;
    } rows[] = {
        {good, ca, holds, "root, CA with basicConstraints, publisher"},
        {weakLeaf, ca, Reason::CertificateSignatureInvalid, "a 512-bit RSA publisher key is refused"},
        {underWeak, weakCa, Reason::CertificateSignatureInvalid, "a 512-bit RSA key in the middle of the chain"},
        {underNoBc, noBasicConstraints, holds, "an issuer without basicConstraints may issue"},
        {underNotCa, notCa, Reason::BasicConstraintsViolated, "an issuer that says cA:FALSE may not"},
        {outsideConstraints, constrained, Reason::NameConstraintsViolated, "a name outside the issuer's constraints"},
        {expired, ca, Reason::CertificateExpired, "publisher expired in 2020"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(verify(*trust, row.leaf, {&row.issuer}), row.expected) << row.note;
    }
}

TEST(ChainPolicy, ATrustAnchorIsACaWhateverItsExtensions) {
    // A version 3 root with no basicConstraints at all, as Microsoft's 1997
    // root is, and one that even says cA:FALSE.
    for (const auto& rootExtensions : std::vector<std::vector<std::pair<int, std::string>>>{
             {}, {{NID_basic_constraints, "CA:FALSE"}}}) {
        const Issued root = issue("Old root", nullptr, rootExtensions);
        const Issued publisher = issue("Old publisher", &root, leafExtensions);
        const auto trust = storeOf({root.certificate.get()}, "old-root");
        EXPECT_EQ(verify(*trust, publisher, {}), holds) << rootExtensions.size();
    }
}

TEST(ChainPolicy, TrustSettingsOfTheRoot) {
    const Issued root = issue("Root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const Issued stamper = issue("Stamper", &root, {{NID_ext_key_usage, "critical,timeStamping"}});

    const auto withSettings = [&root](int trustNid, int rejectNid) {
        return withTrustSettings(root.certificate.get(), trustNid, rejectNid);
    };
    const auto serverOnly = withSettings(NID_server_auth, NID_undef);
    const auto codeSigning = withSettings(NID_code_sign, NID_undef);
    const auto rejectsCodeSigning = withSettings(NID_undef, NID_code_sign);

    const struct {
        X509* root;
        const Issued& leaf;
        Usage usage;
        Outcome expected;
        const char* note;
    } rows[] = {
        {serverOnly.get(), publisher, Usage::CodeSigning, Reason::WrongUsage,
         "trusted for TLS servers only: a root, but not for code signing"},
        {serverOnly.get(), stamper, Usage::TimeStamping, Reason::WrongUsage, "nor for time stamping"},
        {codeSigning.get(), publisher, Usage::CodeSigning, holds, "trusted for code signing"},
        {codeSigning.get(), stamper, Usage::TimeStamping, Reason::WrongUsage, "for code signing only"},
        {rejectsCodeSigning.get(), publisher, Usage::CodeSigning, Reason::ExplicitlyDistrusted,
         "a copy that rejects code signing is explicit distrust"},
    };
    for (const auto& row : rows) {
        const auto trust = storeOf({row.root}, "settings");
        EXPECT_EQ(verify(*trust, row.leaf, {}, row.usage), row.expected) << row.note;
    }
}

// Two failures at once: the one earlier in the platform's order is
// reported, whichever OpenSSL meets first.
TEST(ChainPolicy, PrecedenceWhenFailuresCoincide) {
    const Issued root = issue("Root", nullptr, caExtensions);
    const Issued otherRoot = issue("Other root", nullptr, caExtensions);
    const Issued expired = issue("Expired", &root, leafExtensions, 1024, 30);
    const Issued weakExpired = issue("Weak expired", &root, leafExtensions, 512, 30);
    const Issued serverLeafExpired = issue("Server", &root, {{NID_ext_key_usage, "serverAuth"}}, 1024, 30);

    const auto untrusting = storeOf({otherRoot.certificate.get()}, "other");
    EXPECT_EQ(verify(*untrusting, expired, {&root}), Reason::UntrustedRoot) << "untrusted root before expired";
    const auto trusting = storeOf({root.certificate.get()}, "root");
    EXPECT_EQ(verify(*trusting, weakExpired, {}), Reason::CertificateSignatureInvalid) << "weak key before expired";
    EXPECT_EQ(verify(*trusting, serverLeafExpired, {}), Reason::CertificateExpired) << "expired before wrong usage";
}

namespace root_program {

using authenticode::RootRestrictions;

constexpr std::time_t year2019 = 1546300800;
constexpr std::time_t year2021 = 1609459200;
constexpr std::time_t year2024 = 1704067200;
constexpr std::time_t year2025 = 1735689600;

authenticode::Thumbprint thumbprintOf(X509* certificate) {
    authenticode::Thumbprint thumbprint{};
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha1(), thumbprint.data(), &length);
    return thumbprint;
}

std::filesystem::path freshDirectory(const std::string& name) {
    // One folder a process: CTest runs each test in a process of its own, side by side.
    const auto directory =
        std::filesystem::temp_directory_path() / ("trustcheck-root-program-" + std::to_string(::getpid())) / name;
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    return directory;
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    std::fputs(text.c_str(), file);
    std::fclose(file);
}

void writeCertificates(const std::filesystem::path& path, const std::vector<X509*>& certificates) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    for (X509* certificate : certificates) {
        PEM_write_X509_AUX(file, certificate);
    }
    std::fclose(file);
}

// The roots in a bundle, and beside them, in the store directory, the
// properties file a root-program import writes.
std::unique_ptr<authenticode::TrustStore> storeWithProperties(const std::vector<X509*>& roots,
                                                              const std::string& properties) {
    const auto directory = freshDirectory("properties");
    writeCertificates(directory / "roots.pem", roots);
    std::filesystem::create_directories(directory / "store");
    writeText(directory / "store" / authenticode::rootPropertiesFileName, properties);
    return authenticode::TrustStore::load((directory / "roots.pem").c_str(), (directory / "store").c_str(), nullptr);
}

Outcome verifyAt(const authenticode::TrustStore& trust, const Issued& leaf, const std::vector<const Issued*>& untrusted,
                 std::time_t at, Usage usage = Usage::CodeSigning) {
    authenticode::CertificateStackPtr stack(sk_X509_new_null());
    for (const Issued* certificate : untrusted) {
        X509_up_ref(certificate->certificate.get());
        sk_X509_push(stack.get(), certificate->certificate.get());
    }
    return authenticode::verifyChain(trust, leaf.certificate.get(), stack.get(), at, usage);
}

RootRestrictions usages(std::vector<std::string> oids) {
    RootRestrictions restrictions;
    restrictions.usages = std::move(oids);
    return restrictions;
}

const std::string codeSigning = "1.3.6.1.5.5.7.3.3";
const std::string timeStamping = "1.3.6.1.5.5.7.3.8";
const std::string serverAuth = "1.3.6.1.5.5.7.3.1";

// Every property of a root, on a publisher certified in 2020 and checked at
// `at`: the time-stamp's time, or now when there is none.
TEST(RootProperties, EachPropertyDecidesAsOnWindows) {
    const Issued root = issue("Listed root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const Issued stamper = issue("Stamper", &root, {{NID_ext_key_usage, "critical,timeStamping"}});

    const auto disallowing = [](std::vector<std::string> oids) {
        RootRestrictions restrictions;
        restrictions.disallowedUsages = std::move(oids);
        return restrictions;
    };
    const auto disabledAt = [](std::time_t when) {
        RootRestrictions restrictions;
        restrictions.disabledAt = when;
        return restrictions;
    };
    const auto notBefore = [](std::time_t when, std::optional<std::vector<std::string>> oids) {
        RootRestrictions restrictions;
        restrictions.notBefore = when;
        restrictions.notBeforeUsages = std::move(oids);
        return restrictions;
    };

    const struct {
        std::optional<RootRestrictions> restrictions;  // none: the root is not in the file
        const Issued& leaf;
        Usage usage;
        std::time_t at;
        Outcome expected;
        const char* note;
    } rows[] = {
        {std::nullopt, publisher, Usage::CodeSigning, year2030, holds, "a root the file does not name"},
        {RootRestrictions{}, publisher, Usage::CodeSigning, year2030, holds, "no usage property: every usage"},
        {usages({codeSigning}), publisher, Usage::CodeSigning, year2030, holds, "code signing listed"},
        {usages({serverAuth}), publisher, Usage::CodeSigning, year2030, Reason::RootNotTrustedForUsage,
         "trusted for TLS only: 0x800B0110"},
        {usages({"2.5.29.37.0"}), publisher, Usage::CodeSigning, year2030, holds, "the any usage"},
        {usages({}), publisher, Usage::CodeSigning, year2030, Reason::RootNotTrustedForUsage,
         "an empty list: no usage at all"},
        {usages({codeSigning}), stamper, Usage::TimeStamping, year2030, Reason::RootNotTrustedForUsage,
         "a time-stamp authority's root must be trusted for time stamping"},
        {usages({serverAuth, timeStamping}), stamper, Usage::TimeStamping, year2030, holds,
         "time stamping listed"},
        {disallowing({codeSigning}), publisher, Usage::CodeSigning, year2030, Reason::RootNotTrustedForUsage,
         "code signing disallowed"},
        {disallowing({timeStamping}), publisher, Usage::CodeSigning, year2030, holds,
         "another usage disallowed"},
        {disabledAt(year2025), publisher, Usage::CodeSigning, year2030, Reason::UntrustedRoot,
         "disabled before the signature's time: a root that is not trusted"},
        {disabledAt(year2025), publisher, Usage::CodeSigning, year2024, holds,
         "time-stamped before the disabled date"},
        {disabledAt(year2025), stamper, Usage::TimeStamping, year2030, Reason::UntrustedRoot,
         "the disabled date holds for time-stamp authorities too"},
        {notBefore(year2019, std::nullopt), publisher, Usage::CodeSigning, year2030, Reason::RootIssuedAfterCutoff,
         "publisher certified after the not-before date, for every usage"},
        {notBefore(year2019, std::vector<std::string>{codeSigning}), publisher, Usage::CodeSigning, year2030,
         Reason::RootIssuedAfterCutoff, "the not-before date applies to code signing"},
        {notBefore(year2019, std::vector<std::string>{serverAuth}), publisher, Usage::CodeSigning, year2030,
         holds, "the not-before date applies to TLS only"},
        {notBefore(year2021, std::nullopt), publisher, Usage::CodeSigning, year2030, holds,
         "publisher certified before the not-before date"},
    };
    for (const auto& row : rows) {
        std::string properties = "# a comment line\n";
        if (row.restrictions) {
            properties += authenticode::formatRootProperties(thumbprintOf(root.certificate.get()), *row.restrictions) + "\n";
        }
        const auto trust = storeWithProperties({root.certificate.get()}, properties);
        ASSERT_NE(trust, nullptr);
        EXPECT_EQ(verifyAt(*trust, row.leaf, {}, row.at, row.usage), row.expected) << row.note;
    }
    EXPECT_EQ(authenticode::resultCodeFor(Reason::RootNotTrustedForUsage), static_cast<std::int32_t>(0x800B0110));
    EXPECT_EQ(authenticode::resultCodeFor(Reason::RootIssuedAfterCutoff), static_cast<std::int32_t>(0x800B0110));
}

// The properties file is the administrator's, but a line that cannot be read
// must not lift a restriction: such a root is trusted for nothing.
TEST(RootProperties, LinesThatDoNotReadRestrictMore) {
    const Issued root = issue("Listed root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const std::string thumbprint = authenticode::formatRootProperties(thumbprintOf(root.certificate.get()), {}).substr(0, 40);
    const struct {
        std::string line;
        Outcome expected;
        const char* note;
    } rows[] = {
        {thumbprint + "\tany\t-\t-\t-\tany\tname", holds, "well formed, no restriction"},
        {thumbprint + "\tany\t-\t-\t-\tany\tname\r", holds, "a CRLF line end"},
        {thumbprint + "\tany\t-\t-\t-\tany", Reason::RootNotTrustedForUsage, "a field missing"},
        {thumbprint + "\tcode signing\t-\t-\t-\tany\tname", Reason::RootNotTrustedForUsage,
         "a usage that is not an OID"},
        {thumbprint + "\tany\t-\t2025-13-01T00:00:00Z\t-\tany\tname", Reason::RootNotTrustedForUsage,
         "a date that is not one"},
        {thumbprint + "\tany\t-\t2025-01-01\t-\tany\tname", Reason::RootNotTrustedForUsage, "a date without its time"},
        {thumbprint.substr(0, 38) + "\tserverAuth", holds, "a short thumbprint names no root"},
    };
    for (const auto& row : rows) {
        const auto trust = storeWithProperties({root.certificate.get()}, row.line + "\n");
        ASSERT_NE(trust, nullptr);
        EXPECT_EQ(verifyAt(*trust, publisher, {}, year2030), row.expected) << row.note;
    }
}

// A properties file larger than any root program is not read for some roots
// and ignored for others: every root is then trusted for nothing.
TEST(RootProperties, AnOversizedFileRestrictsEveryRoot) {
    const Issued root = issue("Listed root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const auto trust = storeWithProperties({root.certificate.get()}, std::string(17u << 20, '#'));
    ASSERT_NE(trust, nullptr);
    EXPECT_EQ(verifyAt(*trust, publisher, {}, year2030), Reason::RootNotTrustedForUsage);
}

// A cross-certificate the signature carries leads from a root the program
// restricts to one it trusts: Windows takes that chain, and so must we.
TEST(RootProperties, ARestrictedRootIsPassedByACarriedCrossCertificate) {
    const Issued oldRoot = issue("Old root", nullptr, caExtensions);
    const Issued newRoot = issue("New root", nullptr, caExtensions);
    const Issued ca = issue("CA", &newRoot, caExtensions);
    const Issued publisher = issue("Publisher", &ca, leafExtensions);
    // The new root's name and key, certified by the old root.
    Issued cross{authenticode::X509Ptr(X509_dup(newRoot.certificate.get())), nullptr};
    X509_set_issuer_name(cross.certificate.get(), X509_get_subject_name(oldRoot.certificate.get()));
    ASN1_INTEGER_set(X509_get_serialNumber(cross.certificate.get()), 4242);
    X509_sign(cross.certificate.get(), oldRoot.key.get(), EVP_sha256());

    const std::string properties =
        authenticode::formatRootProperties(thumbprintOf(newRoot.certificate.get()), usages({serverAuth})) + "\n" +
        authenticode::formatRootProperties(thumbprintOf(oldRoot.certificate.get()), usages({codeSigning})) + "\n";
    const auto trust = storeWithProperties({newRoot.certificate.get(), oldRoot.certificate.get()}, properties);
    ASSERT_NE(trust, nullptr);
    EXPECT_EQ(verifyAt(*trust, publisher, {&ca}, year2030), Reason::RootNotTrustedForUsage) << "no other way than the new root";
    EXPECT_EQ(verifyAt(*trust, publisher, {&ca, &cross}, year2030), holds) << "through the old root";

    authenticode::ChainRecord record;
    authenticode::CertificateStackPtr carried(sk_X509_new_null());
    for (const Issued* certificate : {&ca, static_cast<const Issued*>(&cross)}) {
        X509_up_ref(certificate->certificate.get());
        sk_X509_push(carried.get(), certificate->certificate.get());
    }
    ASSERT_EQ(authenticode::verifyChain(*trust, publisher.certificate.get(), carried.get(), year2030,
                                        Usage::CodeSigning, &record),
              holds);
    ASSERT_EQ(record.certificates.size(), 4u) << "the trail shows the chain that was taken";
    EXPECT_EQ(X509_cmp(record.certificates.back().get(), oldRoot.certificate.get()), 0);
}

// The code-signing-only place: consulted beside the store, loose files and
// hashed entries alike, trust settings honoured.
TEST(CodeSigningPlace, TrustsAndDistrustsForCodeSigningOnly) {
    const Issued root = issue("Publisher root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const auto withSettings = [&root](int trustNid, int rejectNid) {
        return withTrustSettings(root.certificate.get(), trustNid, rejectNid);
    };
    const auto trustedForCodeSigning = withSettings(NID_code_sign, NID_undef);
    const auto rejected = withSettings(NID_undef, NID_code_sign);
    const auto serverOnly = withSettings(NID_server_auth, NID_undef);
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx", X509_subject_name_hash(root.certificate.get()));

    const struct {
        X509* inStore;  // in the machine's bundle, or null
        X509* inPlace;  // in the place, or null
        std::string name;
        Outcome expected;
        const char* note;
    } rows[] = {
        {nullptr, nullptr, "", Reason::ChainIncomplete, "the root nowhere"},
        {nullptr, trustedForCodeSigning.get(), "publisher.pem", holds, "trusted for code signing, loose file"},
        {nullptr, trustedForCodeSigning.get(), std::string(hash) + ".0", holds, "the same, rehashed"},
        {nullptr, root.certificate.get(), "publisher.crt", holds, "a plain certificate: trusted here"},
        {nullptr, serverOnly.get(), "publisher.pem", Reason::WrongUsage, "trusted for TLS only"},
        {root.certificate.get(), rejected.get(), "distrusted.pem", Reason::ExplicitlyDistrusted,
         "a root of the machine's store distrusted for code signing"},
        {root.certificate.get(), rejected.get(), std::string(hash) + ".0", Reason::ExplicitlyDistrusted,
         "the same, rehashed"},
        {nullptr, trustedForCodeSigning.get(), "publisher.txt", Reason::ChainIncomplete,
         "other files are not certificates"},
    };
    for (const auto& row : rows) {
        const auto directory = freshDirectory("place");
        std::filesystem::create_directories(directory / "empty");
        std::filesystem::create_directories(directory / "place");
        writeCertificates(directory / "bundle.pem", row.inStore != nullptr ? std::vector<X509*>{row.inStore}
                                                                           : std::vector<X509*>{});
        if (row.inPlace != nullptr) {
            writeCertificates(directory / "place" / row.name, {row.inPlace});
        }
        const auto trust = authenticode::TrustStore::load((directory / "bundle.pem").c_str(),
                                                          (directory / "empty").c_str(),
                                                          (directory / "place").c_str());
        ASSERT_NE(trust, nullptr);
        EXPECT_EQ(verifyAt(*trust, publisher, {}, year2030), row.expected) << row.note;
    }
}

TEST(CodeSigningPlace, CarriesRootPropertiesToo) {
    const Issued root = issue("Publisher root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const auto directory = freshDirectory("place-properties");
    std::filesystem::create_directories(directory / "empty");
    std::filesystem::create_directories(directory / "place");
    writeCertificates(directory / "place" / "root.pem", {root.certificate.get()});
    writeText(directory / "place" / authenticode::rootPropertiesFileName,
              authenticode::formatRootProperties(thumbprintOf(root.certificate.get()), usages({serverAuth})) + "\n");
    writeCertificates(directory / "bundle.pem", {});
    const auto trust = authenticode::TrustStore::load((directory / "bundle.pem").c_str(), (directory / "empty").c_str(),
                                                      (directory / "place").c_str());
    ASSERT_NE(trust, nullptr);
    EXPECT_EQ(verifyAt(*trust, publisher, {}, year2030), Reason::RootNotTrustedForUsage);
}

}  // namespace root_program

}  // namespace
