#include "inspect/inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    facts.trusted = record.outcome.passed();
    for (const auto& certificate : record.certificates) {
        if (certificate) {
            facts.certificates.push_back(factsOf(certificate.get()));
        }
    }
    if (record.outcome == Reason::ChainIncomplete && !record.certificates.empty() && record.certificates.back()) {
        X509* last = record.certificates.back().get();
        if (X509_check_issued(last, last) != X509_V_OK) {
            facts.missingIssuer = nameOf(X509_get_issuer_name(last));
        }
    }
    return facts;
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
    if (!trail.digestAlgorithm.empty()) {
        inspection.digestAlgorithm = trail.digestAlgorithm;
    }
    inspection.nestedSignatures = trail.nestedSignatures;
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
