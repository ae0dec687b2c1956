#include "authenticode/reason.h"

namespace authenticode {

namespace {

constexpr std::int32_t code(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

}  // namespace

std::int32_t resultCodeFor(Reason reason) {
    // Where a row is marked "best knowledge", no public record of the
    // Windows verifier's answer was found; the choice is ours and is kept
    // here so it can be tuned in one place.
    switch (reason) {
        case Reason::Trusted: return 0;
        case Reason::FileUnreadable: return code(0x80092003);              // CRYPT_E_FILE_ERROR, best knowledge
        case Reason::SubjectFormatUnknown: return code(0x800B0003);        // TRUST_E_SUBJECT_FORM_UNKNOWN
        case Reason::NoSignature: return code(0x800B0100);                 // TRUST_E_NOSIGNATURE
        case Reason::CertificateTableMisaligned: return code(0x80096010);  // TRUST_E_BAD_DIGEST, best knowledge
        case Reason::HiddenDataInSignature: return code(0x80096011);       // TRUST_E_MALFORMED_SIGNATURE
        // A compound file that cannot be opened as structured storage at all
        // is one the installer's subject package does not take: nothing
        // claims it. Best knowledge.
        case Reason::CompoundFileUnreadable: return code(0x800B0003);      // TRUST_E_SUBJECT_FORM_UNKNOWN
        // Retrieving the signature failed, as when a PE's certificate table
        // is unusable. Best knowledge.
        case Reason::SignatureStreamUnreadable: return code(0x800B0100);   // TRUST_E_NOSIGNATURE
        // The signature was found but what it covers cannot be hashed: the
        // digest cannot match. Best knowledge.
        case Reason::SignedStreamsUnreadable: return code(0x80096010);     // TRUST_E_BAD_DIGEST
        case Reason::MalformedMessage: return code(0x8009200D);            // CRYPT_E_BAD_MSG, best knowledge
        case Reason::DigestAlgorithmsDisagree: return code(0x80096010);    // TRUST_E_BAD_DIGEST, best knowledge
        case Reason::UnsupportedDigestAlgorithm: return code(0x80090008);  // NTE_BAD_ALGID, best knowledge
        case Reason::DigestMismatch: return code(0x80096010);              // TRUST_E_BAD_DIGEST
        case Reason::SignerCertificateMissing: return code(0x80096002);    // TRUST_E_NO_SIGNER_CERT, best knowledge
        case Reason::SignerSignatureInvalid: return code(0x80096010);      // TRUST_E_BAD_DIGEST, best knowledge
        case Reason::CounterSignatureInvalid: return code(0x80096003);     // TRUST_E_COUNTER_SIGNER, best knowledge
        case Reason::TimeStampInvalid: return code(0x80096005);            // TRUST_E_TIME_STAMP, best knowledge
        // What the platform's signing tool prints for a token requested
        // without certificates.
        case Reason::TimeStampSignerNotFound: return code(0x80092004);     // CRYPT_E_NOT_FOUND
        // Also an RSA key under 1024 bits anywhere in the chain, which the
        // platform has refused since 2012: best knowledge for that case.
        case Reason::CertificateSignatureInvalid: return code(0x80096004); // TRUST_E_CERT_SIGNATURE
        case Reason::ExplicitlyDistrusted: return code(0x800B0111);        // TRUST_E_EXPLICIT_DISTRUST
        case Reason::ChainIncomplete: return code(0x800B010A);             // CERT_E_CHAINING
        case Reason::UntrustedRoot: return code(0x800B0109);               // CERT_E_UNTRUSTEDROOT
        case Reason::CertificateExpired: return code(0x800B0101);          // CERT_E_EXPIRED
        case Reason::WrongUsage: return code(0x800B0110);                  // CERT_E_WRONG_USAGE
        // The root program's usages are the root's certificate properties,
        // which the chain engine checks with the certificates' own.
        case Reason::RootNotTrustedForUsage: return code(0x800B0110);      // CERT_E_WRONG_USAGE
        // Best knowledge: the root program describes the not-before date as
        // taking the listed usages away from the root for certificates issued
        // later, which the chain engine reports as a usage the chain is not
        // valid for.
        case Reason::RootIssuedAfterCutoff: return code(0x800B0110);       // CERT_E_WRONG_USAGE
        case Reason::UnknownCriticalExtension: return code(0x800B0105);    // CERT_E_CRITICAL
        case Reason::BasicConstraintsViolated: return code(0x80096019);    // TRUST_E_BASIC_CONSTRAINTS
        case Reason::NameConstraintsViolated: return code(0x800B0114);     // CERT_E_INVALID_NAME
        case Reason::SystemError: return code(0x80096001);                 // TRUST_E_SYSTEM_ERROR
    }
    return code(0x80096001);
}

}  // namespace authenticode
