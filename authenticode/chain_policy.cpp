#include "authenticode/chain_policy.h"

#include <openssl/x509v3.h>

#include <bitset>

#include "authenticode/asn1_view.h"
#include "authenticode/oids.h"

namespace authenticode {

namespace {

// The failures a chain can have, in the order of precedence in which they
// are reported: the first one present decides.
enum class Failure {
    CertificateSignature,
    Distrusted,
    Incomplete,
    UntrustedRoot,
    Expired,
    WrongUsage,
    CriticalExtension,
    BasicConstraints,
    Count,
};

using Failures = std::bitset<static_cast<std::size_t>(Failure::Count)>;

void note(Failures& failures, Failure failure) {
    failures.set(static_cast<std::size_t>(failure));
}

Failure failureForVerifyError(int error) {
    switch (error) {
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return Failure::CertificateSignature;
        case X509_V_ERR_CERT_REJECTED:
            return Failure::Distrusted;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return Failure::UntrustedRoot;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return Failure::Expired;
        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
            return Failure::WrongUsage;
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return Failure::CriticalExtension;
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return Failure::BasicConstraints;
        default:
            // Missing issuers, and anything else that keeps the chain from
            // reaching a trusted root.
            return Failure::Incomplete;
    }
}

int failuresIndex() {
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// OpenSSL stops at the first error unless told to go on; going on gathers
// every failure so that precedence, not discovery order, decides.
int gatherFailures(int ok, X509_STORE_CTX* context) {
    if (ok == 0) {
        auto* failures = static_cast<Failures*>(X509_STORE_CTX_get_ex_data(context, failuresIndex()));
        if (failures != nullptr) {
            note(*failures, failureForVerifyError(X509_STORE_CTX_get_error(context)));
        }
    }
    return 1;
}

std::uint32_t usageBit(Usage usage) {
    return usage == Usage::CodeSigning ? XKU_CODE_SIGN : XKU_TIMESTAMP;
}

bool hasExtendedKeyUsage(X509* certificate) {
    return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0;
}

// The Authenticode rules that OpenSSL's chain check does not apply.
void checkPolicy(const TrustStore& trust, STACK_OF(X509) * chain, Usage usage, Failures& failures) {
    const int length = sk_X509_num(chain);
    for (int depth = 0; depth < length; ++depth) {
        X509* certificate = sk_X509_value(chain, depth);
        if (trust.distrusts(certificate, usage)) {
            note(failures, Failure::Distrusted);
        }

        const std::uint32_t usages = X509_get_extended_key_usage(certificate);
        if (depth == 0) {
            // A code-signing leaf without the extension may sign anything; a
            // time-stamping leaf must say so.
            const bool required = usage == Usage::TimeStamping;
            if ((hasExtendedKeyUsage(certificate) || required) && (usages & usageBit(usage)) == 0) {
                note(failures, Failure::WrongUsage);
            }
            continue;
        }

        // A CA's extended key usage limits what it may certify.
        if (hasExtendedKeyUsage(certificate) && (usages & (usageBit(usage) | XKU_ANYEKU)) == 0) {
            note(failures, Failure::WrongUsage);
        }
        // An issuer must say it is a CA; a version 1 self-signed root, which
        // has no extensions at all, is the one exception.
        const std::uint32_t flags = X509_get_extension_flags(certificate);
        const bool version1Root = X509_get_version(certificate) == X509_VERSION_1 && (flags & EXFLAG_SS) != 0;
        if (!version1Root && ((flags & EXFLAG_BCONS) == 0 || (flags & EXFLAG_CA) == 0)) {
            note(failures, Failure::BasicConstraints);
        }
    }
}

Reason reasonFor(const Failures& failures) {
    static constexpr Reason reasons[] = {
        Reason::CertificateSignatureInvalid, Reason::ExplicitlyDistrusted, Reason::ChainIncomplete,
        Reason::UntrustedRoot, Reason::CertificateExpired, Reason::WrongUsage,
        Reason::UnknownCriticalExtension, Reason::BasicConstraintsViolated,
    };
    static_assert(std::size(reasons) == static_cast<std::size_t>(Failure::Count));
    for (std::size_t i = 0; i < failures.size(); ++i) {
        if (failures.test(i)) {
            return reasons[i];
        }
    }
    return Reason::Trusted;
}

}  // namespace

Reason verifyChain(const TrustStore& trust, X509* leaf, STACK_OF(X509) * untrusted, std::time_t at, Usage usage,
                   ChainRecord* record) {
    X509StoreContextPtr context(X509_STORE_CTX_new());
    if (!context || leaf == nullptr || X509_STORE_CTX_init(context.get(), trust.store(), leaf, untrusted) != 1) {
        return Reason::SystemError;
    }
    Failures failures;
    X509_STORE_CTX_set_ex_data(context.get(), failuresIndex(), &failures);
    X509_STORE_CTX_set_verify_cb(context.get(), gatherFailures);
    X509_STORE_CTX_set_trust(context.get(), usage == Usage::CodeSigning ? X509_TRUST_OBJECT_SIGN : X509_TRUST_TSA);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_time(parameters, at);
    X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_TRUSTED_FIRST);

    if (X509_verify_cert(context.get()) < 0) {
        return Reason::SystemError;
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    checkPolicy(trust, chain, usage, failures);
    const Reason reason = reasonFor(failures);
    if (record != nullptr) {
        record->checked = true;
        record->at = at;
        record->reason = reason;
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            record->certificates.push_back(keepCertificate(sk_X509_value(chain, i)));
        }
    }
    return reason;
}

bool hasLifetimeSigning(X509* certificate) {
    int critical = 0;
    ExtendedKeyUsagePtr usages(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr)));
    for (int i = 0; usages && i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
        if (isOid(sk_ASN1_OBJECT_value(usages.get(), i), oids::bytes(oids::lifetimeSigning))) {
            return true;
        }
    }
    return false;
}

}  // namespace authenticode
