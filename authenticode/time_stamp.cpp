#include "authenticode/time_stamp.h"

#include <openssl/ts.h>

#include <array>
#include <climits>

#include "authenticode/chain/chain_policy.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/digest_algorithm.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/signature/oids.h"
#include "authenticode/signature/signer_info.h"

namespace authenticode {

namespace {

// 1.2.840.113549.1.9.16.1.4 id-ct-TSTInfo
constexpr std::array<std::uint8_t, 11> tstInfoType{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x04};

TimeStamp failed(Reason reason) {
    TimeStamp timeStamp;
    timeStamp.outcome = reason;
    return timeStamp;
}

TimeStamp attested(std::time_t time, X509* authority, STACK_OF(X509) * certificates) {
    TimeStamp timeStamp;
    timeStamp.time = time;
    timeStamp.authority = authority;
    timeStamp.certificates = certificates;
    return timeStamp;
}

std::optional<std::time_t> secondsOf(const ASN1_TIME* time) {
    std::tm broken{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) {
        return std::nullopt;
    }
    return timegm(&broken);
}

// The sole value of a single-valued attribute, if it is a SEQUENCE: its
// whole encoding.
std::optional<Bytes> sequenceValue(X509_ATTRIBUTE* attribute) {
    if (X509_ATTRIBUTE_count(attribute) != 1) {
        return std::nullopt;
    }
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    return bytesOf(value->value.sequence);
}

// The Authenticode countersignature: a SignerInfo whose message digest
// covers the primary signature value, with the time in its signingTime.
TimeStamp checkCounterSignature(X509_ATTRIBUTE* attribute, const SignedMessage& primary) {
    const auto encoding = sequenceValue(attribute);
    if (!encoding || encoding->size() > LONG_MAX) {
        return failed(Reason::CounterSignatureInvalid);
    }
    const unsigned char* cursor = encoding->data();
    SignerInfoPtr counterSigner(d2i_PKCS7_SIGNER_INFO(nullptr, &cursor, static_cast<long>(encoding->size())));
    if (!counterSigner || cursor != encoding->data() + encoding->size()) {
        return failed(Reason::CounterSignatureInvalid);
    }

    const SignerCheck check =
        checkSignerInfo(counterSigner.get(), primary.certificates, bytesOf(primary.signer->enc_digest), {},
                        SignatureForms::AlsoLegacyBareDigest);
    if (check.status == SignerStatus::CertificateMissing) {
        return failed(Reason::TimeStampSignerNotFound);
    }
    if (check.status != SignerStatus::Valid) {
        return failed(Reason::CounterSignatureInvalid);
    }

    const ASN1_TYPE* signingTime = singleAttributeValue(counterSigner->auth_attr, NID_pkcs9_signingTime);
    const auto time = signingTime != nullptr && (signingTime->type == V_ASN1_UTCTIME ||
                                                 signingTime->type == V_ASN1_GENERALIZEDTIME)
                          ? secondsOf(signingTime->value.utctime)
                          : std::nullopt;
    if (!time) {
        return failed(Reason::CounterSignatureInvalid);
    }
    return attested(*time, check.certificate, primary.certificates);
}

// The RFC 3161 token: a SignedData over a TSTInfo whose message imprint is
// the digest of the primary signature value, with the time in genTime.
TimeStamp checkRfc3161Token(X509_ATTRIBUTE* attribute, const SignedMessage& primary) {
    const auto encoding = sequenceValue(attribute);
    if (!encoding) {
        return failed(Reason::TimeStampInvalid);
    }
    auto decoded = decodeSignedMessage(*encoding);
    auto* token = std::get_if<SignedMessage>(&decoded);
    if (token == nullptr || !isOid(token->contentType, Bytes(tstInfoType.data(), tstInfoType.size())) ||
        token->digestedContent.size() > LONG_MAX) {
        return failed(Reason::TimeStampInvalid);
    }

    const unsigned char* cursor = token->digestedContent.data();
    TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &cursor, static_cast<long>(token->digestedContent.size())));
    if (!info || cursor != token->digestedContent.data() + token->digestedContent.size()) {
        return failed(Reason::TimeStampInvalid);
    }
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const X509_ALGOR* imprintAlgorithm = imprint != nullptr ? TS_MSG_IMPRINT_get_algo(imprint) : nullptr;
    const EVP_MD* imprintDigest =
        imprintAlgorithm != nullptr ? supportedDigest(bytesOf(imprintAlgorithm->algorithm)) : nullptr;
    if (imprintDigest == nullptr ||
        !sameBytes(bytesOf(TS_MSG_IMPRINT_get_msg(imprint)),
                   digestOf(imprintDigest, bytesOf(primary.signer->enc_digest)))) {
        return failed(Reason::TimeStampInvalid);
    }

    const SignerCheck check = checkSignerInfo(token->signer, token->certificates, token->digestedContent,
                                              Bytes(tstInfoType.data(), tstInfoType.size()));
    const auto time = secondsOf(TS_TST_INFO_get_time(info.get()));
    if (check.status == SignerStatus::CertificateMissing) {
        return failed(Reason::TimeStampSignerNotFound);
    }
    if (check.status != SignerStatus::Valid || !time) {
        return failed(Reason::TimeStampInvalid);
    }
    TimeStamp timeStamp = attested(*time, check.certificate, token->certificates);
    timeStamp.token = std::move(*token);
    return timeStamp;
}

}  // namespace

TimeStamp checkTimeStamp(const SignedMessage& primary) {
    const STACK_OF(X509_ATTRIBUTE)* attributes = primary.signer->unauth_attr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        if (OBJ_obj2nid(type) == NID_pkcs9_countersignature) {
            return checkCounterSignature(attribute, primary);
        }
        if (isOid(type, oids::bytes(oids::rfc3161TimeStamp))) {
            return checkRfc3161Token(attribute, primary);
        }
    }
    return {};
}

Outcome checkTimeStampAuthority(const TimeStamp& timeStamp, const TrustStore& trust, ChainRecord* record) {
    if (!timeStamp.time || timeStamp.authority == nullptr) {
        return Outcome::pass();
    }
    const Outcome chain =
        verifyChain(trust, timeStamp.authority, timeStamp.certificates, *timeStamp.time, Usage::TimeStamping, record);
    return chain.passed() ? Outcome::pass() : Reason::TimeStampInvalid;
}

}  // namespace authenticode
