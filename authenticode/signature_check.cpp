#include "authenticode/signature_check.h"

#include "authenticode/chain/chain_policy.h"
#include "authenticode/chain/trust_store.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/digest_algorithm.h"
#include "authenticode/signature/indirect_data.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/signature/signer_info.h"
#include "authenticode/time_stamp.h"

namespace authenticode {

namespace {

Outcome signerOutcome(SignerStatus status) {
    switch (status) {
        case SignerStatus::Valid: return Outcome::pass();
        case SignerStatus::CertificateMissing: return Reason::SignerCertificateMissing;
        case SignerStatus::UnsupportedAlgorithm: return Reason::UnsupportedDigestAlgorithm;
        case SignerStatus::Invalid: return Reason::SignerSignatureInvalid;
    }
    return Reason::SignerSignatureInvalid;
}

// What the signature says of itself, for the trail: the digest algorithm its
// content names and the nested signatures beside it.
void noteSignature(const SignedMessage& message, Trail& trail) {
    if (const auto indirect = parseIndirectData(message.content)) {
        if (const EVP_MD* digest = supportedDigest(indirect->digestAlgorithm)) {
            trail.digestAlgorithm = EVP_MD_get0_name(digest);
        }
    }
    trail.nestedSignatures = nestedSignatureCount(message);
}

}  // namespace

Outcome checkSignature(const Subject& subject, std::time_t now, Trail* trail) {
    // Notes the check that decided when it failed; passes the outcome on.
    const auto decide = [trail](Check check, Outcome outcome) {
        if (trail != nullptr && !outcome.passed()) {
            trail->decidedBy = check;
        }
        return outcome;
    };
    auto decoded = decodeSignedMessage(subject.signature);
    if (const auto* reason = std::get_if<Reason>(&decoded)) {
        return decide(Check::FindSignature, *reason);
    }
    const auto& message = std::get<SignedMessage>(decoded);
    if (trail != nullptr) {
        noteSignature(message, *trail);
    }

    // The file's content first, then the signer: a changed file reports its
    // digest whatever else is wrong with the signature.
    if (const Outcome content = subject.checkContent(message); !content.passed()) {
        return decide(Check::FileDigest, content);
    }
    const SignerCheck signer =
        checkSignerInfo(message.signer, message.certificates, message.digestedContent, bytesOf(message.contentType));
    if (trail != nullptr) {
        trail->signer = keepCertificate(signer.certificate);
    }
    if (const Outcome signature = signerOutcome(signer.status); !signature.passed()) {
        return decide(Check::Signer, signature);
    }

    const TimeStamp timeStamp = checkTimeStamp(message);
    if (trail != nullptr) {
        trail->timeStampKind = !timeStamp.time ? TimeStampKind::None
                               : timeStamp.token ? TimeStampKind::Rfc3161
                                                 : TimeStampKind::CounterSignature;
        trail->timeStampTime = timeStamp.time;
        trail->timeStampAuthority = keepCertificate(timeStamp.authority);
    }
    if (!timeStamp.outcome.passed()) {
        return decide(Check::TimeStamp, timeStamp.outcome);
    }

    // Only now that the signature holds is the machine's trust consulted.
    const TrustStore* trust = TrustStore::machine();
    if (trust == nullptr) {
        return Reason::SystemError;
    }
    // The signer's own signingTime is never trusted; a time-stamp's time is,
    // unless the signer's certificate asks for lifetime signing. The
    // signer's chain is reported before the time-stamp authority's: a file
    // whose publisher is unknown says so even when its time-stamp is from an
    // unknown authority too.
    const std::time_t at = timeStamp.time && !hasLifetimeSigning(signer.certificate) ? *timeStamp.time : now;
    if (const Outcome chain = verifyChain(*trust, signer.certificate, message.certificates, at, Usage::CodeSigning,
                                          trail != nullptr ? &trail->publisherChain : nullptr);
        !chain.passed()) {
        // The verdict is the publisher's, but a reader of the trail still
        // learns where the time-stamp authority's chain ends.
        if (trail != nullptr && timeStamp.time) {
            static_cast<void>(checkTimeStampAuthority(timeStamp, *trust, &trail->authorityChain));
        }
        return decide(Check::PublisherChain, chain);
    }
    return decide(Check::TimeStampAuthorityChain,
                  checkTimeStampAuthority(timeStamp, *trust, trail != nullptr ? &trail->authorityChain : nullptr));
}

}  // namespace authenticode
