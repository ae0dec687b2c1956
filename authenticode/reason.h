// Why the engine reached its verdict, and the one place that turns a reason
// into the result code the Windows verifier gives for it.
#pragma once

#include <cstdint>

namespace authenticode {

enum class Reason {
    Trusted,  // the verdict on a whole file only; a check that passed is an Outcome that passed

    // The file and its format.
    FileUnreadable,
    SubjectFormatUnknown,
    NoSignature,
    CertificateTableMisaligned,
    HiddenDataInSignature,
    // Compound files (MSI and other structured storage).
    CompoundFileUnreadable,     // header, FAT, directory chain or root entry damaged
    SignatureStreamUnreadable,  // root directory tree or the signature stream's sectors damaged
    SignedStreamsUnreadable,    // a stream or storage the digest covers cannot be read

    // The signature itself.
    MalformedMessage,
    DigestAlgorithmsDisagree,
    UnsupportedDigestAlgorithm,
    DigestMismatch,
    SignerCertificateMissing,
    SignerSignatureInvalid,

    // Time-stamps.
    CounterSignatureInvalid,
    TimeStampInvalid,
    TimeStampSignerNotFound,  // the time-stamp's signer certificate is not in the token or signature

    // The certificate chain and its policy.
    CertificateSignatureInvalid,
    ExplicitlyDistrusted,
    ChainIncomplete,
    UntrustedRoot,
    CertificateExpired,
    WrongUsage,
    RootNotTrustedForUsage,  // the root program does not trust the root for the usage, or took it away
    RootIssuedAfterCutoff,   // the root's not-before date excludes certificates issued after it
    UnknownCriticalExtension,
    BasicConstraintsViolated,
    NameConstraintsViolated,

    // The engine itself failed (out of memory, a library failure).
    SystemError,
};

// The result code, in HRESULT form, that the Windows verifier returns for the
// reason.
std::int32_t resultCodeFor(Reason reason);

}  // namespace authenticode
