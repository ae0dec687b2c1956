// The engine's costly steps, timed one at a time: hashing a mapped file, the
// signature's decoding and signer check, the trust store and the chain, the
// whole verification in one process, and how the signature's cost grows with
// the number of certificates and attributes it carries.
#include <benchmark/benchmark.h>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "authenticode/chain/chain_policy.h"
#include "authenticode/chain/trust_store.h"
#include "authenticode/formats/pe_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/signature/signer_info.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"

namespace {

using namespace authenticode;

constexpr const char* signedFixture = "pe/signed64-sha256.exe";

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

// A scratch file of pseudo-random bytes, removed when the program ends.
class ScratchFile {
public:
    explicit ScratchFile(std::size_t size)
        : path_(std::filesystem::temp_directory_path() /
                ("trustcheck-bench-" + std::to_string(::getpid()) + "-" + std::to_string(size))) {
        std::ofstream out(path_, std::ios::binary);
        std::vector<unsigned char> block(std::size_t{1} << 20);
        for (std::size_t written = 0; written < size; written += block.size()) {
            RAND_bytes(block.data(), static_cast<int>(block.size()));
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(std::min(block.size(), size - written)));
        }
        if (!out) {
            fail("cannot write " + path_.string());
        }
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

const ScratchFile& scratchFile(std::size_t size) {
    static std::vector<std::unique_ptr<ScratchFile>> files;
    for (const auto& file : files) {
        if (std::filesystem::file_size(file->path()) == size) {
            return *file;
        }
    }
    files.push_back(std::make_unique<ScratchFile>(size));
    return *files.back();
}

// Hashing: what verifying a large file costs beyond its fixed part.

void HashMappedFile(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    const auto file = MappedFile::open(scratchFile(size).path());
    if (!file) {
        fail("cannot map the scratch file");
    }
    for (auto _ : state) {
        Hasher hasher(EVP_sha256());
        hashFileRange(*file, 0, size, hasher);
        benchmark::DoNotOptimize(hasher.finish());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(HashMappedFile)->Arg(1)->Arg(100)->ArgName("MiB")->Unit(benchmark::kMillisecond);

// The floor under HashMappedFile: the same digest over bytes already in the
// heap, with no page to map or fault in.
void HashResidentBuffer(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    std::vector<std::uint8_t> buffer(size, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(digestOf(EVP_sha256(), buffer));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(HashResidentBuffer)->Arg(1)->Arg(100)->ArgName("MiB")->Unit(benchmark::kMillisecond);

// The signature of a fixture file, as the PE format finds it.

// The DER of the fixture's primary signature.
const std::vector<std::uint8_t>& fixtureSignature() {
    static const std::vector<std::uint8_t> der = [] {
        const auto file = MappedFile::open(testing_support::fixturePath(signedFixture));
        if (!file) {
            fail("cannot open the fixture");
        }
        const auto subject = locatePeSubject(*file, signedFixture);
        if (!subject || !std::holds_alternative<Subject>(*subject)) {
            fail("the fixture has no signature");
        }
        const Bytes signature = std::get<Subject>(*subject).signature;
        return std::vector<std::uint8_t>(signature.begin(), signature.end());
    }();
    return der;
}

SignedMessage decodeOrFail(Bytes der) {
    auto decoded = decodeSignedMessage(der);
    if (!std::holds_alternative<SignedMessage>(decoded)) {
        fail("the signature does not decode");
    }
    return std::move(std::get<SignedMessage>(decoded));
}

SignerCheck checkPrimarySigner(const SignedMessage& message) {
    return checkSignerInfo(message.signer, message.certificates, message.digestedContent,
                           bytesOf(message.contentType));
}

void DecodeSignedMessage(benchmark::State& state) {
    const Bytes der = fixtureSignature();
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeSignedMessage(der));
    }
}
BENCHMARK(DecodeSignedMessage)->Unit(benchmark::kMicrosecond);

void CheckSignerInfo(benchmark::State& state) {
    const SignedMessage message = decodeOrFail(fixtureSignature());
    for (auto _ : state) {
        const SignerCheck check = checkPrimarySigner(message);
        if (check.status != SignerStatus::Valid) {
            state.SkipWithError("the fixture's signer does not verify");
            break;
        }
    }
}
BENCHMARK(CheckSignerInfo)->Unit(benchmark::kMicrosecond);

// Trust: the machine's store as a process without settings finds it, and the
// fixture root the tests use.

void useStockStore() {
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
}

void LoadStockStore(benchmark::State& state) {
    useStockStore();
    for (auto _ : state) {
        benchmark::DoNotOptimize(TrustStore::loadMachine());
    }
}
BENCHMARK(LoadStockStore)->Unit(benchmark::kMicrosecond);

void VerifyChainToFixtureRoot(benchmark::State& state) {
    testing_support::useFixtureTrust("trusted.pem");
    const auto trust = TrustStore::loadMachine();
    const SignedMessage message = decodeOrFail(fixtureSignature());
    X509* signer = checkPrimarySigner(message).certificate;
    const std::time_t now = std::time(nullptr);
    for (auto _ : state) {
        if (!verifyChain(*trust, signer, message.certificates, now, Usage::CodeSigning).passed()) {
            state.SkipWithError("the fixture's chain is not trusted");
            break;
        }
    }
}
BENCHMARK(VerifyChainToFixtureRoot)->Unit(benchmark::kMicrosecond);

// The stock store holds neither the fixture root nor its intermediate: the
// chain ends untrusted after the same lookups a real chain would make.
void VerifyChainInStockStore(benchmark::State& state) {
    useStockStore();
    const auto trust = TrustStore::loadMachine();
    const SignedMessage message = decodeOrFail(fixtureSignature());
    X509* signer = checkPrimarySigner(message).certificate;
    const std::time_t now = std::time(nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(verifyChain(*trust, signer, message.certificates, now, Usage::CodeSigning));
    }
}
BENCHMARK(VerifyChainInStockStore)->Unit(benchmark::kMicrosecond);

// The whole engine in one process, without the process's own start.
void VerifyFileWithFixtureRoot(benchmark::State& state) {
    testing_support::useFixtureTrust("trusted.pem");
    const std::string path = testing_support::fixturePath(signedFixture);
    const std::time_t now = std::time(nullptr);
    for (auto _ : state) {
        if (verifyFileReason(path, now) != Reason::Trusted) {
            state.SkipWithError("the fixture is not trusted");
            break;
        }
    }
}
BENCHMARK(VerifyFileWithFixtureRoot)->Unit(benchmark::kMicrosecond);

void VerifyFileInStockStore(benchmark::State& state) {
    useStockStore();
    const std::string path = testing_support::fixturePath(signedFixture);
    const std::time_t now = std::time(nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(verifyFileReason(path, now));
    }
}
BENCHMARK(VerifyFileInStockStore)->Unit(benchmark::kMicrosecond);

// Scaling: the fixture signature re-encoded with N more certificates or N
// more authenticated attributes. The time per item must stay flat (the
// complexity line reads O(N)); nothing may compare every item with every
// other. The fit has no constant term, so the ranges start where the items,
// not the signature itself, take most of the time.

using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;

std::vector<std::uint8_t> encode(PKCS7* pkcs7) {
    const int length = i2d_PKCS7(pkcs7, nullptr);
    std::vector<std::uint8_t> der(static_cast<std::size_t>(std::max(length, 0)));
    unsigned char* cursor = der.data();
    if (length <= 0 || i2d_PKCS7(pkcs7, &cursor) != length) {
        fail("cannot encode the message");
    }
    return der;
}

Pkcs7Ptr decodeFixtureForEditing() {
    const auto& der = fixtureSignature();
    const unsigned char* cursor = der.data();
    Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    if (!pkcs7) {
        fail("cannot decode the fixture signature");
    }
    return pkcs7;
}

// `count` certificates that all name the leaf's issuer as their subject, so
// that every one of them is a candidate issuer while the chain is built.
// They go in front of the real ones, where the search meets them first.
std::vector<std::uint8_t> withDecoyIssuers(int count) {
    Pkcs7Ptr pkcs7 = decodeFixtureForEditing();
    STACK_OF(X509)* certificates = pkcs7->d.sign->cert;
    const SignedMessage original = decodeOrFail(fixtureSignature());
    X509* leaf = checkPrimarySigner(original).certificate;
    PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key || leaf == nullptr) {
        fail("cannot make a decoy key");
    }
    for (int i = 0; i < count; ++i) {
        X509Ptr decoy(X509_new());
        ASN1_INTEGER_set(X509_get_serialNumber(decoy.get()), 0x70000000 + i);
        X509_set_subject_name(decoy.get(), X509_get_issuer_name(leaf));
        X509_set_issuer_name(decoy.get(), X509_get_issuer_name(leaf));
        X509_gmtime_adj(X509_getm_notBefore(decoy.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(decoy.get()), 3600);
        X509_set_pubkey(decoy.get(), key.get());
        if (X509_sign(decoy.get(), key.get(), EVP_sha256()) <= 0 ||
            sk_X509_insert(certificates, decoy.get(), 0) <= 0) {
            fail("cannot make a decoy certificate");
        }
        decoy.release();  // owned by the message now
    }
    return encode(pkcs7.get());
}

std::vector<std::uint8_t> withExtraAttributes(int count) {
    Pkcs7Ptr pkcs7 = decodeFixtureForEditing();
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(pkcs7->d.sign->signer_info, 0);
    const unsigned char value[16] = {};
    for (int i = 0; i < count; ++i) {
        const std::string oid = "1.3.6.1.4.1.55555.1." + std::to_string(i);
        ASN1_OBJECT* type = OBJ_txt2obj(oid.c_str(), 1);
        const bool added = type != nullptr && X509at_add1_attr_by_OBJ(&signer->auth_attr, type, V_ASN1_OCTET_STRING,
                                                                      value, sizeof value) != nullptr;
        ASN1_OBJECT_free(type);
        if (!added) {
            fail("cannot add an attribute");
        }
    }
    return encode(pkcs7.get());
}

void SignatureWithDecoyIssuers(benchmark::State& state) {
    testing_support::useFixtureTrust("trusted.pem");
    const auto trust = TrustStore::loadMachine();
    const std::vector<std::uint8_t> der = withDecoyIssuers(static_cast<int>(state.range(0)));
    const std::time_t now = std::time(nullptr);
    for (auto _ : state) {
        const SignedMessage message = decodeOrFail(der);
        const SignerCheck signer = checkPrimarySigner(message);
        benchmark::DoNotOptimize(verifyChain(*trust, signer.certificate, message.certificates, now, Usage::CodeSigning));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(SignatureWithDecoyIssuers)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// The extra attributes change what the signature covers, so the signer no
// longer verifies; every step up to and including the signature check still
// runs, which is what is timed.
void SignatureWithExtraAttributes(benchmark::State& state) {
    const std::vector<std::uint8_t> der = withExtraAttributes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const SignedMessage message = decodeOrFail(der);
        benchmark::DoNotOptimize(checkPrimarySigner(message));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(SignatureWithExtraAttributes)
    ->RangeMultiplier(4)
    ->Range(256, 16384)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "engine_bench: %s\n", error.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
