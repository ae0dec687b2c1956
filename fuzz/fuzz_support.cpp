#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "authenticode/reason.h"

namespace fuzzing {

std::string pathHolding(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("trustcheck-fuzz", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0) {
        std::abort();
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (written <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(written);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string namedPathHolding(const std::uint8_t* data, std::size_t size, const char* name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/trustcheck-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::abort();
        }
        return std::string(made);
    }();
    const std::string path = folder + "/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::abort();
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = write(fd, data + done, size - done);
        if (written <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(written);
    }
    close(fd);
    return path;
}

void useTestTrust() {
    setenv("SSL_CERT_FILE", TRUSTCHECK_SOURCE_DIR "/tests/fixtures/trust/trusted.pem", 1);
    setenv("SSL_CERT_DIR", TRUSTCHECK_SOURCE_DIR "/fuzz/no-such-directory", 1);
}

void requireKnownCode(std::int32_t code) {
    for (int reason = 0; reason <= static_cast<int>(authenticode::Reason::SystemError); ++reason) {
        if (authenticode::resultCodeFor(static_cast<authenticode::Reason>(reason)) == code) {
            return;
        }
    }
    std::abort();
}

}  // namespace fuzzing
