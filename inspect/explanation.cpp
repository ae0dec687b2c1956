#include "inspect/explanation.h"

#include <openssl/x509.h>

#include "inspect/certificate_facts.h"
#include "inspect/reason_words.h"

namespace inspect {

namespace {

using authenticode::ChainRecord;
using authenticode::Check;
using authenticode::Reason;

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

std::string subjectOf(X509* certificate) { return quoted(nameOf(X509_get_subject_name(certificate))); }

// The first certificate of the chain that was not valid at the time the
// chain was checked for, with its validity.
std::string expiredCertificate(const ChainRecord& record) {
    for (const auto& certificate : record.certificates) {
        std::time_t at = record.at;
        if (certificate && (X509_cmp_time(X509_get0_notBefore(certificate.get()), &at) >= 0 ||
                            X509_cmp_time(X509_get0_notAfter(certificate.get()), &at) <= 0)) {
            const CertificateFacts facts = factsOf(certificate.get());
            return quoted(facts.subject) + " is valid from " + facts.notBefore + " to " + facts.notAfter +
                   ", which does not include " + isoTime(record.at);
        }
    }
    return "a certificate was not valid at " + isoTime(record.at);
}

// Why a chain failed, for a party ("the publisher's", "the time-stamp
// authority's") and the usage it was checked for.
std::string chainProblem(const ChainRecord& record, const std::string& party, const std::string& usage) {
    X509* last = record.certificates.empty() ? nullptr : record.certificates.back().get();
    // Asked only of a chain that failed, whose failure is its verdict.
    const Reason reason = record.outcome.verdict();
    switch (reason) {
        case Reason::UntrustedRoot:
            if (last != nullptr) {
                return party + " chain ends at " + subjectOf(last) + ", which this machine does not trust for " + usage;
            }
            break;
        case Reason::ChainIncomplete:
            if (last != nullptr) {
                return party + " chain stops at " + subjectOf(last) + ": its issuer " +
                       quoted(nameOf(X509_get_issuer_name(last))) +
                       " is neither in the signature nor trusted by this machine for " + usage;
            }
            break;
        case Reason::CertificateExpired: return party + " chain: " + expiredCertificate(record);
        case Reason::ExplicitlyDistrusted:
            return party + " chain holds a certificate that this machine explicitly distrusts for " + usage;
        case Reason::WrongUsage:
            return party + " chain holds a certificate whose usages do not include " + usage;
        case Reason::RootNotTrustedForUsage:
            if (last != nullptr) {
                return party + " chain ends at " + subjectOf(last) + ", which the root program this store came from " +
                       "does not trust for " + usage;
            }
            break;
        case Reason::RootIssuedAfterCutoff:
            if (last != nullptr) {
                return party + " chain ends at " + subjectOf(last) + ", which the root program no longer trusts for " +
                       usage + " of certificates issued after its not-before date";
            }
            break;
        default: break;
    }
    return party + " chain: " + wordsFor(reason).meaning;
}

std::string rootOf(const ChainRecord& record) {
    return record.certificates.empty() || !record.certificates.back() ? std::string("its root")
                                                                       : subjectOf(record.certificates.back().get());
}

constexpr const char* trustRootHint =
    "if you trust this publisher, trust its root for code signing (see TRUST in trustcheck(1)); otherwise treat the "
    "file as unsigned";

}  // namespace

Explanation explain(Reason reason, const authenticode::Trail& trail, const Inspection& inspection) {
    const std::string format = inspection.format ? "the " + *inspection.format + " file" : "the file";
    switch (reason) {
        case Reason::Trusted:
            return {"the signature verifies and " + std::string("the publisher's chain ends at ") +
                        rootOf(trail.publisherChain) + ", which this machine trusts for code signing",
                    ""};
        case Reason::FileUnreadable:
            return {"the file could not be read: " + inspection.fileError.value_or("unknown error"), ""};
        case Reason::SubjectFormatUnknown:
            return {"no supported format recognises the file (see FORMATS in trustcheck(1))", ""};
        case Reason::NoSignature:
            return {format + " carries no signature, or bytes were added after it was signed",
                    "ask the publisher for a signed copy, or get the file again"};
        case Reason::DigestMismatch:
            return {"the digest of " + format + " does not match the one its signature carries",
                    "the file was changed after signing: do not trust it; get it again from its publisher"};
        default: break;
    }
    if (trail.decidedBy == Check::PublisherChain) {
        const bool unknownRoot = reason == Reason::UntrustedRoot || reason == Reason::ChainIncomplete;
        return {chainProblem(trail.publisherChain, "the publisher's", "code signing"),
                unknownRoot ? trustRootHint : ""};
    }
    if (trail.decidedBy == Check::TimeStampAuthorityChain) {
        return {chainProblem(trail.authorityChain, "the time-stamp authority's", "time stamping"), ""};
    }
    return {wordsFor(reason).meaning, ""};
}

}  // namespace inspect
