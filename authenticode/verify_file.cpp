#include "authenticode/verify_file.h"

#include <openssl/err.h>

#include "authenticode/mapped_file.h"
#include "authenticode/pe_image.h"
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

// The formats are tried in turn; the first that recognises the bytes decides.
SubjectOrReason locateSubject(const MappedFile& file) {
    if (const auto image = parsePeImage(file.bytes())) {
        return locatePeSubject(file, *image);
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
    const SubjectOrReason subject = locateSubject(*file);
    if (const auto* reason = std::get_if<Reason>(&subject)) {
        return *reason;
    }
    return checkSignature(std::get<Subject>(subject), now);
}

std::int32_t verifyFile(const std::string& path, std::time_t now) {
    return resultCodeFor(verifyFileReason(path, now));
}

}  // namespace authenticode
