#include "inspect/inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <variant>

#include "authenticode/digest_algorithm.h"
#include "authenticode/indirect_data.h"
#include "authenticode/signed_message.h"
#include "authenticode/verify_file.h"
#include "inspect/certificate_facts.h"
#include "inspect/explanation.h"
#include "inspect/reason_words.h"

namespace inspect {

namespace {

using authenticode::Check;
using authenticode::ChainRecord;
using authenticode::Reason;
using authenticode::Trail;

// The engine says only that the file could not be read; the system says why.
// Opened the way the engine opens it: without blocking on a pipe.
std::string fileErrorOf(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return std::strerror(errno);
    }
    struct stat status {};
    const bool described = ::fstat(descriptor, &status) == 0;
    ::close(descriptor);
    if (described && S_ISDIR(status.st_mode)) {
        return std::strerror(EISDIR);
    }
    if (described && !S_ISREG(status.st_mode)) {
        return "Not a regular file";
    }
    return "The file could not be read";
}

ChainFacts chainFacts(const ChainRecord& record, const char* usage) {
    ChainFacts facts;
    facts.usage = usage;
    facts.checkedAt = isoTime(record.at);
    facts.trusted = record.reason == Reason::Trusted;
    for (const auto& certificate : record.certificates) {
        if (certificate) {
            facts.certificates.push_back(factsOf(certificate.get()));
        }
    }
    if (record.reason == Reason::ChainIncomplete && !record.certificates.empty() && record.certificates.back()) {
        X509* last = record.certificates.back().get();
        if (X509_check_issued(last, last) != X509_V_OK) {
            facts.missingIssuer = nameOf(X509_get_issuer_name(last));
        }
    }
    return facts;
}

// What the signature itself says, read again from its bytes: the digest
// algorithm of the signed content and the nested signatures beside it.
void addSignatureFacts(const Trail& trail, Inspection& inspection) {
    if (trail.signature.empty()) {
        return;
    }
    auto decoded = authenticode::decodeSignedMessage(
        authenticode::Bytes(trail.signature.data(), trail.signature.size()));
    const auto* message = std::get_if<authenticode::SignedMessage>(&decoded);
    if (message == nullptr) {
        return;
    }
    if (const auto indirect = authenticode::parseIndirectData(message->content)) {
        if (const EVP_MD* digest = authenticode::supportedDigest(indirect->digestAlgorithm)) {
            inspection.digestAlgorithm = EVP_MD_get0_name(digest);
        }
    }
    inspection.nestedSignatures = authenticode::nestedSignatureCount(*message);
}

}  // namespace

Inspection inspectFile(const std::string& path, std::time_t now) {
    Trail trail;
    const Reason reason = authenticode::verifyFileReason(path, now, &trail);

    Inspection inspection;
    inspection.path = path;
    inspection.code = static_cast<std::uint32_t>(authenticode::resultCodeFor(reason));
    const Words words = wordsFor(reason);
    inspection.reason = words.identifier;
    inspection.meaning = words.meaning;
    if (reason == Reason::FileUnreadable) {
        inspection.fileError = fileErrorOf(path);
    }
    if (!trail.format.empty()) {
        inspection.format = trail.format;
    }
    addSignatureFacts(trail, inspection);
    if (trail.signer) {
        inspection.signer = factsOf(trail.signer.get());
    }
    if (trail.publisherChain.checked) {
        inspection.chain = chainFacts(trail.publisherChain, "code signing");
    }
    if (trail.timeStampKind != authenticode::TimeStampKind::None && trail.timeStampTime) {
        TimeStampFacts timeStamp;
        timeStamp.kind = trail.timeStampKind == authenticode::TimeStampKind::Rfc3161 ? "RFC 3161" : "countersignature";
        timeStamp.time = isoTime(*trail.timeStampTime);
        if (trail.timeStampAuthority) {
            timeStamp.authority = factsOf(trail.timeStampAuthority.get());
        }
        if (trail.authorityChain.checked) {
            timeStamp.chain = chainFacts(trail.authorityChain, "time stamping");
        }
        inspection.timeStamp = std::move(timeStamp);
    }
    if (reason != Reason::Trusted) {
        inspection.decidedBy = identifierOf(trail.decidedBy);
    }
    const Explanation explanation = explain(reason, trail, inspection);
    inspection.explanation = explanation.why;
    if (!explanation.next.empty()) {
        inspection.suggestion = explanation.next;
    }
    return inspection;
}

}  // namespace inspect
