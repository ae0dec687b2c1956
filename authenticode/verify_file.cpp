#include "authenticode/verify_file.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <new>

#include "authenticode/formats/appx_subject.h"
#include "authenticode/formats/cab_subject.h"
#include "authenticode/formats/catalog_subject.h"
#include "authenticode/formats/msi_subject.h"
#include "authenticode/formats/pe_subject.h"
#include "authenticode/formats/script_subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/signature_check.h"

namespace authenticode {

namespace {

// OpenSSL as a process that verifies one file and exits needs it: without
// reading the machine's OpenSSL configuration file (the answers must be the
// Windows verifier's, whatever that file says), without loading error texts
// (the engine never shows them) and without a clean-up pass at exit (the
// memory goes with the process). That is about a seventh of the work of a
// run on a small file. Only the first initialisation in a process counts, so
// this comes before any other OpenSSL call; later calls change nothing.
void setUpOpenSsl() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT,
                        nullptr);
}

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

struct SubjectFormat {
    const char* name;
    LocateSubject locate;
};

constexpr SubjectFormat subjectFormats[] = {
    {"PE", locatePeSubject},
    {"cabinet", locateCabSubject},
    {"catalog", locateCatalogSubject},
    {"compound file", locateMsiSubject},
    // Packages and scripts are known by their names; any format known by its
    // content comes first.
    {"package", locateAppxSubject},
    {"script", locateScriptSubject},
};

SubjectOrReason locateSubject(const MappedFile& file, std::string_view path, Trail* trail) {
    for (const SubjectFormat& format : subjectFormats) {
        if (auto subject = format.locate(file, path)) {
            if (trail != nullptr) {
                trail->format = format.name;
            }
            return std::move(*subject);
        }
    }
    return Reason::SubjectFormatUnknown;
}

Outcome verifyOpenedFile(const std::string& path, std::time_t now, Trail* trail) {
    ErrorQueueGuard errorQueue;
    const auto file = MappedFile::open(path);
    if (!file) {
        return Reason::FileUnreadable;
    }
    const SubjectOrReason subject = locateSubject(*file, path, trail);
    if (const auto* reason = std::get_if<Reason>(&subject)) {
        if (trail != nullptr) {
            trail->decidedBy = trail->format.empty() ? Check::RecogniseFormat : Check::FindSignature;
        }
        return *reason;
    }
    return checkSignature(std::get<Subject>(subject), now, trail);
}

}  // namespace

Reason verifyFileReason(const std::string& path, std::time_t now, Trail* trail) {
    setUpOpenSsl();
    // Memory the engine cannot get is the engine's failure, not the file's,
    // and never a reason to end the caller's process.
    try {
        // The one place a passed check becomes the verdict "trusted".
        return verifyOpenedFile(path, now, trail).verdict();
    } catch (const std::bad_alloc&) {
        return Reason::SystemError;
    }
}

std::int32_t verifyFile(const std::string& path, std::time_t now) {
    return resultCodeFor(verifyFileReason(path, now));
}

}  // namespace authenticode
