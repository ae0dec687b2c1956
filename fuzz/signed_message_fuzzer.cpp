// A PKCS#7 signature on its own: decoding, the indirect data, the signer,
// time-stamps and chains, without a file around it.
#include <cstdlib>
#include <memory>

#include "authenticode/chain/trust_store.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/signature/signer_info.h"
#include "authenticode/time_stamp.h"
#include "fuzz_support.h"

namespace {

const authenticode::TrustStore& testTrust() {
    static const std::unique_ptr<authenticode::TrustStore> trust = [] {
        fuzzing::useTestTrust();
        return authenticode::TrustStore::loadMachine();
    }();
    return *trust;
}

// One pass over everything the engine does with a signature.
int outcome(authenticode::Bytes input) {
    using namespace authenticode;
    auto decoded = decodeSignedMessage(input);
    if (const auto* reason = std::get_if<Reason>(&decoded)) {
        return static_cast<int>(*reason);
    }
    const auto& message = std::get<SignedMessage>(decoded);
    const auto checked = checkIndirectDataForm(message, oids::bytes(oids::spcPeImageData));
    const auto* form = std::get_if<Reason>(&checked);
    const SignerCheck signer = checkSignerInfo(message.signer, message.certificates, message.digestedContent,
                                               bytesOf(message.contentType));
    const TimeStamp timeStamp = checkTimeStamp(message);
    const Outcome authority = checkTimeStampAuthority(timeStamp, testTrust());
    // A number that every result feeds, so that none of the work is left out.
    return (form != nullptr ? static_cast<int>(*form) : 0) * 1000000 + static_cast<int>(signer.status) * 10000 +
           static_cast<int>(timeStamp.outcome.verdict()) * 100 + static_cast<int>(authority.verdict());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const authenticode::Bytes input(data, size);
    if (outcome(input) != outcome(input)) {
        std::abort();
    }
    return 0;
}
