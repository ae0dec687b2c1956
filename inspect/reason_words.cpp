#include "inspect/reason_words.h"

namespace inspect {

using authenticode::Check;
using authenticode::Reason;

Words wordsFor(Reason reason) {
    // The identifiers are documented in the manual page: keep them stable.
    switch (reason) {
        case Reason::Trusted: return {"trusted", "the signature verifies and the file is trusted"};
        case Reason::FileUnreadable: return {"file_unreadable", "the file could not be read"};
        case Reason::SubjectFormatUnknown: return {"format_unknown", "no supported format recognises the file"};
        case Reason::NoSignature: return {"no_signature", "the file carries no signature"};
        case Reason::CertificateTableMisaligned:
            return {"certificate_table_misaligned", "the signature's table is not where the format puts it"};
        case Reason::HiddenDataInSignature:
            return {"hidden_data", "the signature's table holds data outside the signature"};
        case Reason::CompoundFileUnreadable: return {"compound_file_unreadable", "the compound file is damaged"};
        case Reason::SignatureStreamUnreadable:
            return {"signature_stream_unreadable", "the stream holding the signature cannot be read"};
        case Reason::SignedStreamsUnreadable:
            return {"signed_streams_unreadable", "what the signature covers cannot be read"};
        case Reason::MalformedMessage: return {"malformed_signature", "the signature cannot be decoded"};
        case Reason::DigestAlgorithmsDisagree:
            return {"digest_algorithms_disagree", "the signature names different digest algorithms"};
        case Reason::UnsupportedDigestAlgorithm:
            return {"unsupported_digest_algorithm", "the signature uses a digest algorithm that is not supported"};
        case Reason::DigestMismatch: return {"digest_mismatch", "the file was changed after it was signed"};
        case Reason::SignerCertificateMissing:
            return {"signer_certificate_missing", "the signer's certificate is not in the signature"};
        case Reason::SignerSignatureInvalid:
            return {"signer_signature_invalid", "the signer's signature does not verify"};
        case Reason::CounterSignatureInvalid:
            return {"countersignature_invalid", "the time-stamp countersignature does not verify"};
        case Reason::TimeStampInvalid: return {"timestamp_invalid", "the time-stamp does not verify or is not trusted"};
        case Reason::TimeStampSignerNotFound:
            return {"timestamp_signer_not_found", "the time-stamp's signer certificate is not in the signature"};
        case Reason::CertificateSignatureInvalid:
            return {"certificate_signature_invalid", "a certificate's signature in the chain does not verify"};
        case Reason::ExplicitlyDistrusted:
            return {"explicitly_distrusted", "a certificate in the chain is distrusted on this machine"};
        case Reason::ChainIncomplete:
            return {"chain_incomplete", "the chain cannot be built to a root this machine trusts"};
        case Reason::UntrustedRoot: return {"untrusted_root", "the chain ends in a root this machine does not trust"};
        case Reason::CertificateExpired:
            return {"certificate_expired", "a certificate was not valid at the time it was checked for"};
        case Reason::WrongUsage: return {"wrong_usage", "a certificate is not valid for this use"};
        case Reason::RootNotTrustedForUsage:
            return {"root_not_trusted_for_usage", "the root program does not trust the root for this use"};
        case Reason::RootIssuedAfterCutoff:
            return {"root_issued_after_cutoff",
                    "the root is not trusted for this use of certificates issued after its not-before date"};
        case Reason::UnknownCriticalExtension:
            return {"unknown_critical_extension", "a certificate has a critical extension that is not understood"};
        case Reason::BasicConstraintsViolated:
            return {"basic_constraints_violated", "a certificate issues others without being allowed to"};
        case Reason::NameConstraintsViolated:
            return {"name_constraints_violated", "a certificate's name is outside what its issuer may certify"};
        case Reason::SystemError: return {"system_error", "the verifier itself failed"};
    }
    return {"unknown", "an unknown reason"};
}

const char* identifierOf(Check check) {
    switch (check) {
        case Check::OpenFile: return "open_file";
        case Check::RecogniseFormat: return "recognise_format";
        case Check::FindSignature: return "find_signature";
        case Check::FileDigest: return "file_digest";
        case Check::Signer: return "signer";
        case Check::TimeStamp: return "timestamp";
        case Check::PublisherChain: return "publisher_chain";
        case Check::TimeStampAuthorityChain: return "timestamp_authority_chain";
    }
    return "unknown";
}

}  // namespace inspect
