#include "authenticode/verify_file.h"

#include <openssl/err.h>

#include "authenticode/mapped_file.h"
#include "authenticode/pe_subject.h"
#include "authenticode/signature_check.h"

namespace authenticode {

namespace {

// Leaves OpenSSL's error queue as empty as it found it, so that nothing the
// library noted while rejecting hostile input can surface later.
class ErrorQueueGuard {
public:
    ErrorQueueGuard() { ERR_clear_error(); }
    ~ErrorQueueGuard() { ERR_clear_error(); }
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
};

// Each subject format recognises its files by their content (scripts also by
// the name's extension). They are asked in turn; the first that recognises
// the file decides.
using LocateSubject = std::optional<SubjectOrReason> (*)(const MappedFile&, std::string_view);

constexpr LocateSubject subjectFormats[] = {
    locatePeSubject,
};

SubjectOrReason locateSubject(const MappedFile& file, std::string_view path) {
    for (const LocateSubject locate : subjectFormats) {
        if (auto subject = locate(file, path)) {
            return std::move(*subject);
        }
    }
    return Reason::SubjectFormatUnknown;
}

}  // namespace

Reason verifyFileReason(const std::string& path, std::time_t now) {
    ErrorQueueGuard errorQueue;
    const auto file = MappedFile::open(path);
    if (!file) {
        return Reason::FileUnreadable;
    }
    const SubjectOrReason subject = locateSubject(*file, path);
    if (const auto* reason = std::get_if<Reason>(&subject)) {
        return *reason;
    }
    return checkSignature(std::get<Subject>(subject), now);
}

std::int32_t verifyFile(const std::string& path, std::time_t now) {
    return resultCodeFor(verifyFileReason(path, now));
}

}  // namespace authenticode
