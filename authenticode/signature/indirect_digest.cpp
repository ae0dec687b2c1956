#include "authenticode/signature/indirect_digest.h"

#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/digest_algorithm.h"
#include "authenticode/signature/oids.h"

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

std::variant<CheckedIndirectData, Reason> checkIndirectDataForm(const SignedMessage& message, Bytes dataType) {
    if (!isOid(message.contentType, oids::bytes(oids::spcIndirectData))) {
        return Reason::MalformedMessage;
    }
    const auto parsed = parseIndirectData(message.content);
    if (!parsed || (!dataType.empty() && !sameBytes(parsed->dataType, dataType))) {
        return Reason::MalformedMessage;
    }
    const EVP_MD* digest = supportedDigest(parsed->digestAlgorithm);
    if (digest == nullptr) {
        return Reason::UnsupportedDigestAlgorithm;
    }
    if (!digestAlgorithmsAgree(message, parsed->digestAlgorithm)) {
        return Reason::DigestAlgorithmsDisagree;
    }
    return CheckedIndirectData{*parsed, digest};
}

Outcome checkIndirectDigest(const SignedMessage& message, Bytes dataType,
                            const std::function<void(Hasher&)>& hashContent) {
    const auto form = checkIndirectDataForm(message, dataType);
    if (const auto* reason = std::get_if<Reason>(&form)) {
        return *reason;
    }
    const auto& [indirect, digest] = std::get<CheckedIndirectData>(form);
    Hasher hasher(digest);
    hashContent(hasher);
    const std::vector<std::uint8_t> contentDigest = hasher.finish();
    if (contentDigest.empty()) {
        return Reason::SystemError;
    }
    return sameBytes(contentDigest, indirect.digest) ? Outcome::pass() : Reason::DigestMismatch;
}

}  // namespace authenticode
