#include "authenticode/chain/chain_policy.h"

#include <openssl/x509v3.h>

#include <bitset>

#include "authenticode/chain/alternative_chain.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/oids.h"

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
    RootNotTrustedForUsage,
    RootIssuedAfterCutoff,
    CriticalExtension,
    BasicConstraints,
    NameConstraints,
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
        case X509_V_ERR_PERMITTED_VIOLATION:
        case X509_V_ERR_EXCLUDED_VIOLATION:
        case X509_V_ERR_SUBTREE_MINMAX:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
        case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
            return Failure::NameConstraints;
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

// Whether OpenSSL's "not a CA" concerns a certificate the Windows chain
// engine lets issue: one without a basicConstraints extension (the engine
// takes an absent extension as "may be a CA"; OpenSSL asks for the extension
// or a key usage), or the self-signed certificate at the top, which as a
// trust anchor is a CA whatever its extensions say (Microsoft's 1997 root is
// a version 3 certificate without the extension).
bool issuesOnWindows(X509_STORE_CTX* context) {
    X509* certificate = X509_STORE_CTX_get_current_cert(context);
    if (certificate == nullptr) {
        return false;
    }
    const std::uint32_t flags = X509_get_extension_flags(certificate);
    const bool top = X509_STORE_CTX_get_error_depth(context) == sk_X509_num(X509_STORE_CTX_get0_chain(context)) - 1;
    return (flags & EXFLAG_BCONS) == 0 || (top && (flags & EXFLAG_SS) != 0);
}

// OpenSSL stops at the first error unless told to go on; going on gathers
// every failure so that precedence, not discovery order, decides.
int gatherFailures(int ok, X509_STORE_CTX* context) {
    if (ok == 0 && X509_STORE_CTX_get_error(context) == X509_V_ERR_INVALID_CA && issuesOnWindows(context)) {
        return 1;
    }
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

// The smallest RSA key the platform accepts anywhere in a chain (it has
// refused shorter ones since 2012).
constexpr int minimumRsaBits = 1024;

bool hasWeakKey(X509* certificate) {
    const EVP_PKEY* key = X509_get0_pubkey(certificate);
    return key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && EVP_PKEY_get_bits(key) < minimumRsaBits;
}

// Whether a store certificate's OpenSSL trust settings trust it for other
// usages only, rejecting none of this one: a root that is trusted, but not
// for this purpose. OpenSSL reports it as untrusted.
bool trustedForOtherUsagesOnly(X509* certificate, Usage usage) {
    const STACK_OF(ASN1_OBJECT)* trusted = X509_get0_trust_objects(certificate);
    if (sk_ASN1_OBJECT_num(trusted) <= 0 || sk_ASN1_OBJECT_num(X509_get0_reject_objects(certificate)) > 0) {
        return false;
    }
    const int usageNid = usage == Usage::CodeSigning ? NID_code_sign : NID_time_stamp;
    for (int i = 0; i < sk_ASN1_OBJECT_num(trusted); ++i) {
        const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(trusted, i));
        if (nid == usageNid || nid == NID_anyExtendedKeyUsage) {
            return false;
        }
    }
    return true;
}

// The Authenticode rules that OpenSSL's chain check does not apply.
void checkPolicy(const TrustStore& trust, STACK_OF(X509) * chain, Usage usage, Failures& failures) {
    const int length = sk_X509_num(chain);
    bool distrusted = false;
    for (int depth = 0; depth < length; ++depth) {
        X509* certificate = sk_X509_value(chain, depth);
        if (trust.distrusts(certificate, usage)) {
            note(failures, Failure::Distrusted);
            distrusted = true;
        }
        if (hasWeakKey(certificate)) {
            note(failures, Failure::CertificateSignature);
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
        // Whether an issuer may issue is OpenSSL's check, filtered by
        // issuesOnWindows: gatherFailures lets verification go on past every
        // failure, so that check sees each certificate of the chain.
    }
    // A root trusted for other usages only is the wrong usage: neither an
    // unknown root nor distrust, which OpenSSL reports it as.
    X509* top = length > 0 ? sk_X509_value(chain, length - 1) : nullptr;
    if (top != nullptr && !distrusted && trustedForOtherUsagesOnly(top, usage)) {
        failures.reset(static_cast<std::size_t>(Failure::UntrustedRoot));
        failures.reset(static_cast<std::size_t>(Failure::Distrusted));
        note(failures, Failure::WrongUsage);
    }
}

// What the root program says about the chain's root: only for a chain that
// reached a trusted root, as there is nothing to restrict otherwise. True
// when it took trust away.
bool checkRootProperties(const TrustStore& trust, STACK_OF(X509) * chain, std::time_t at, Usage usage,
                         Failures& failures) {
    const int length = sk_X509_num(chain);
    if (trust.rootProperties().empty() || length == 0 || failures.test(static_cast<std::size_t>(Failure::Incomplete)) ||
        failures.test(static_cast<std::size_t>(Failure::UntrustedRoot))) {
        return false;
    }
    const Outcome root =
        trust.rootProperties().check(sk_X509_value(chain, length - 1), sk_X509_value(chain, 0), at, usage);
    if (root.passed()) {
        return false;
    }
    switch (root.failure()) {
        case Reason::UntrustedRoot: note(failures, Failure::UntrustedRoot); return true;
        case Reason::RootIssuedAfterCutoff: note(failures, Failure::RootIssuedAfterCutoff); return true;
        default: note(failures, Failure::RootNotTrustedForUsage); return true;
    }
}

Outcome outcomeFor(const Failures& failures) {
    static constexpr Reason reasons[] = {
        Reason::CertificateSignatureInvalid, Reason::ExplicitlyDistrusted, Reason::ChainIncomplete,
        Reason::UntrustedRoot, Reason::CertificateExpired, Reason::WrongUsage,
        Reason::RootNotTrustedForUsage, Reason::RootIssuedAfterCutoff,
        Reason::UnknownCriticalExtension, Reason::BasicConstraintsViolated, Reason::NameConstraintsViolated,
    };
    static_assert(std::size(reasons) == static_cast<std::size_t>(Failure::Count));
    for (std::size_t i = 0; i < failures.size(); ++i) {
        if (failures.test(i)) {
            return reasons[i];
        }
    }
    return Outcome::pass();
}

}  // namespace

namespace {

struct OneChain {
    Outcome outcome;
    // The chain's root when the root program's properties of it took trust
    // away; null otherwise.
    X509Ptr restrictedRoot;
};

// One chain as OpenSSL builds it, checked; with `issuers`, built against
// those instead of the whole store.
OneChain checkOneChain(const TrustStore& trust, X509* leaf, STACK_OF(X509) * untrusted, std::time_t at, Usage usage,
                       STACK_OF(X509) * issuers, ChainRecord* record) {
    X509StoreContextPtr context(X509_STORE_CTX_new());
    if (!context || leaf == nullptr || X509_STORE_CTX_init(context.get(), trust.store(), leaf, untrusted) != 1) {
        return {Reason::SystemError, nullptr};
    }
    if (issuers != nullptr) {
        X509_STORE_CTX_set0_trusted_stack(context.get(), issuers);
    }
    Failures failures;
    X509_STORE_CTX_set_ex_data(context.get(), failuresIndex(), &failures);
    X509_STORE_CTX_set_verify_cb(context.get(), gatherFailures);
    X509_STORE_CTX_set_trust(context.get(), usage == Usage::CodeSigning ? X509_TRUST_OBJECT_SIGN : X509_TRUST_TSA);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_time(parameters, at);
    X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_TRUSTED_FIRST);

    if (X509_verify_cert(context.get()) < 0) {
        return {Reason::SystemError, nullptr};
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    checkPolicy(trust, chain, usage, failures);
    X509Ptr restrictedRoot;
    if (checkRootProperties(trust, chain, at, usage, failures)) {
        X509* root = sk_X509_value(chain, sk_X509_num(chain) - 1);
        if (X509_up_ref(root) == 1) {
            restrictedRoot.reset(root);
        }
    }
    const Outcome outcome = outcomeFor(failures);
    if (record != nullptr) {
        record->checked = true;
        record->at = at;
        record->outcome = outcome;
        record->certificates.clear();
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            record->certificates.push_back(keepCertificate(sk_X509_value(chain, i)));
        }
    }
    return {outcome, std::move(restrictedRoot)};
}

}  // namespace

Outcome verifyChain(const TrustStore& trust, X509* leaf, STACK_OF(X509) * untrusted, std::time_t at, Usage usage,
                    ChainRecord* record) {
    const OneChain first = checkOneChain(trust, leaf, untrusted, at, usage, nullptr, record);
    if (!first.restrictedRoot) {
        return first.outcome;
    }
    // Windows picks, among the chains it can build, one that meets the
    // usage; OpenSSL stops at the first, which ends at the stored root of
    // the issuer's name. When the root program restricts that root, the
    // certificates the signature carries may still lead elsewhere (a
    // cross-certificate to an older root trusted for the usage): that chain
    // is taken if it holds.
    const CertificateStackPtr issuers = issuersAvoiding(trust.store(), leaf, untrusted, first.restrictedRoot.get());
    ChainRecord alternative;
    if (issuers &&
        checkOneChain(trust, leaf, untrusted, at, usage, issuers.get(), record != nullptr ? &alternative : nullptr)
            .outcome.passed()) {
        if (record != nullptr) {
            *record = std::move(alternative);
        }
        return Outcome::pass();
    }
    return first.outcome;
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
