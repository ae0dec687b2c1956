// The chain policy on chains made here, certificate by certificate: which
// shapes the platform accepts, and which failure is reported when several
// coincide.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "authenticode/chain_policy.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/reason.h"
#include "authenticode/trust_store.h"

namespace {

using authenticode::Reason;
using authenticode::Usage;
using KeyPtr = std::unique_ptr<EVP_PKEY, authenticode::OpenSslFree<EVP_PKEY_free>>;

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

// Writes the roots (with any OpenSSL trust settings they carry) to a file
// the store is then read from, and nothing else.
std::unique_ptr<authenticode::TrustStore> storeOf(const std::vector<X509*>& roots, const std::string& name) {
    const auto directory = std::filesystem::temp_directory_path() / "trustcheck-chain-policy";
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

Reason verify(const authenticode::TrustStore& trust, const Issued& leaf, const std::vector<const Issued*>& untrusted,
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
    Reason expected;
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
        Reason expected;
        const char* note;
    } rows[] = {
        {good, ca, Reason::Trusted, "root, CA with basicConstraints, publisher"},
        {weakLeaf, ca, Reason::CertificateSignatureInvalid, "a 512-bit RSA publisher key is refused"},
        {underWeak, weakCa, Reason::CertificateSignatureInvalid, "a 512-bit RSA key in the middle of the chain"},
        {underNoBc, noBasicConstraints, Reason::Trusted, "an issuer without basicConstraints may issue"},
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
        EXPECT_EQ(verify(*trust, publisher, {}), Reason::Trusted) << rootExtensions.size();
    }
}

TEST(ChainPolicy, TrustSettingsOfTheRoot) {
    const Issued root = issue("Root", nullptr, caExtensions);
    const Issued publisher = issue("Publisher", &root, leafExtensions);
    const Issued stamper = issue("Stamper", &root, {{NID_ext_key_usage, "critical,timeStamping"}});

    const auto withSettings = [&root](int trustNid, int rejectNid) {
        authenticode::X509Ptr copy(X509_dup(root.certificate.get()));
        if (trustNid != NID_undef) {
            X509_add1_trust_object(copy.get(), OBJ_nid2obj(trustNid));
        }
        if (rejectNid != NID_undef) {
            X509_add1_reject_object(copy.get(), OBJ_nid2obj(rejectNid));
        }
        return copy;
    };
    const auto serverOnly = withSettings(NID_server_auth, NID_undef);
    const auto codeSigning = withSettings(NID_code_sign, NID_undef);
    const auto rejectsCodeSigning = withSettings(NID_undef, NID_code_sign);

    const struct {
        X509* root;
        const Issued& leaf;
        Usage usage;
        Reason expected;
        const char* note;
    } rows[] = {
        {serverOnly.get(), publisher, Usage::CodeSigning, Reason::WrongUsage,
         "trusted for TLS servers only: a root, but not for code signing"},
        {serverOnly.get(), stamper, Usage::TimeStamping, Reason::WrongUsage, "nor for time stamping"},
        {codeSigning.get(), publisher, Usage::CodeSigning, Reason::Trusted, "trusted for code signing"},
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

}  // namespace
