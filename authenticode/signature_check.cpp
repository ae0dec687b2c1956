#include "authenticode/signature_check.h"

#include "authenticode/asn1_view.h"
#include "authenticode/chain_policy.h"
#include "authenticode/digest_algorithm.h"
#include "authenticode/indirect_data.h"
#include "authenticode/oids.h"
#include "authenticode/signed_message.h"
#include "authenticode/signer_info.h"
#include "authenticode/time_stamp.h"
#include "authenticode/trust_store.h"

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

Reason reasonForSigner(SignerStatus status) {
    switch (status) {
        case SignerStatus::Valid: return Reason::Trusted;
        case SignerStatus::CertificateMissing: return Reason::SignerCertificateMissing;
        case SignerStatus::UnsupportedAlgorithm: return Reason::UnsupportedDigestAlgorithm;
        case SignerStatus::Invalid: return Reason::SignerSignatureInvalid;
    }
    return Reason::SignerSignatureInvalid;
}

// Whether the signature holds: the message, what it says was signed, the
// digest of the subject's content, and the signer's own signature.
Reason checkSignedContent(const Subject& subject, const SignedMessage& message, SignerCheck& signer) {
    if (!isOid(message.contentType, oids::bytes(oids::spcIndirectData))) {
        return Reason::MalformedMessage;
    }
    const auto indirect = parseIndirectData(message.content);
    if (!indirect || !sameBytes(indirect->dataType, subject.indirectDataType)) {
        return Reason::MalformedMessage;
    }
    const EVP_MD* digest = supportedDigest(indirect->digestAlgorithm);
    if (digest == nullptr) {
        return Reason::UnsupportedDigestAlgorithm;
    }
    if (!digestAlgorithmsAgree(message, indirect->digestAlgorithm)) {
        return Reason::DigestAlgorithmsDisagree;
    }

    Hasher hasher(digest);
    subject.hashContent(hasher);
    const std::vector<std::uint8_t> contentDigest = hasher.finish();
    if (contentDigest.empty()) {
        return Reason::SystemError;
    }
    if (!sameBytes(contentDigest, indirect->digest)) {
        return Reason::DigestMismatch;
    }

    signer = checkSignerInfo(message.signer, message.certificates, message.digestedContent,
                             oids::bytes(oids::spcIndirectData));
    return reasonForSigner(signer.status);
}

}  // namespace

Reason checkSignature(const Subject& subject, std::time_t now) {
    auto decoded = decodeSignedMessage(subject.signature);
    if (const auto* reason = std::get_if<Reason>(&decoded)) {
        return *reason;
    }
    const auto& message = std::get<SignedMessage>(decoded);

    SignerCheck signer{SignerStatus::Invalid, nullptr};
    if (const Reason reason = checkSignedContent(subject, message, signer); reason != Reason::Trusted) {
        return reason;
    }

    // Only now that the signature holds is the machine's trust consulted.
    const auto trust = TrustStore::loadMachine();
    if (!trust) {
        return Reason::SystemError;
    }
    const TimeStamp timeStamp = checkTimeStamp(message, *trust);
    if (timeStamp.reason != Reason::Trusted) {
        return timeStamp.reason;
    }
    // The signer's own signingTime is never trusted; a valid time-stamp is,
    // unless the signer's certificate asks for lifetime signing.
    const std::time_t at = timeStamp.time && !hasLifetimeSigning(signer.certificate) ? *timeStamp.time : now;
    return verifyChain(*trust, signer.certificate, message.certificates, at, Usage::CodeSigning);
}

}  // namespace authenticode
