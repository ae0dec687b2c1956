#include "authenticode/indirect_digest.h"

#include "authenticode/asn1_view.h"
#include "authenticode/digest_algorithm.h"
#include "authenticode/oids.h"

namespace authenticode {

namespace {

// The SignedData's digestAlgorithms, the SignerInfo's digestAlgorithm and
// the DigestInfo's algorithm must all name the same digest.
bool digestAlgorithmsAgree(const SignedMessage& message, Bytes indirectAlgorithm) {
    const STACK_OF(X509_ALGOR)* declared = message.pkcs7->d.sign->md_algs;
    if (sk_X509_ALGOR_num(declared) <= 0) {
        return false;
    }
    for (int i = 0; i < sk_X509_ALGOR_num(declared); ++i) {
        if (!isOid(sk_X509_ALGOR_value(declared, i)->algorithm, indirectAlgorithm)) {
            return false;
        }
    }
    return message.signer->digest_alg != nullptr && isOid(message.signer->digest_alg->algorithm, indirectAlgorithm);
}

}  // namespace

Outcome checkIndirectDataForm(const SignedMessage& message, Bytes dataType, IndirectData& indirect,
                              const EVP_MD*& digest) {
    if (!isOid(message.contentType, oids::bytes(oids::spcIndirectData))) {
        return Reason::MalformedMessage;
    }
    const auto parsed = parseIndirectData(message.content);
    if (!parsed || (!dataType.empty() && !sameBytes(parsed->dataType, dataType))) {
        return Reason::MalformedMessage;
    }
    indirect = *parsed;
    digest = supportedDigest(indirect.digestAlgorithm);
    if (digest == nullptr) {
        return Reason::UnsupportedDigestAlgorithm;
    }
    if (!digestAlgorithmsAgree(message, indirect.digestAlgorithm)) {
        return Reason::DigestAlgorithmsDisagree;
    }
    return Outcome::pass();
}

Outcome checkIndirectDigest(const SignedMessage& message, Bytes dataType,
                            const std::function<void(Hasher&)>& hashContent) {
    IndirectData indirect{};
    const EVP_MD* digest = nullptr;
    if (const Outcome form = checkIndirectDataForm(message, dataType, indirect, digest); !form.passed()) {
        return form;
    }
    Hasher hasher(digest);
    hashContent(hasher);
    const std::vector<std::uint8_t> contentDigest = hasher.finish();
    if (contentDigest.empty()) {
        return Reason::SystemError;
    }
    return sameBytes(contentDigest, indirect.digest) ? Outcome::pass() : Reason::DigestMismatch;
}

}  // namespace authenticode
