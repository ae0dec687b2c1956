#include "authenticode/signature/certificate_cache.h"

#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "authenticode/signature/asn1_view.h"

namespace authenticode {

namespace {

// Enough for the intermediates, time-stamping certificates and leaves of a
// few publishers at once; each entry costs a few KiB.
constexpr std::size_t capacity = 64;

class CertificateCache {
public:
    CertificateCache() = default;
    CertificateCache(const CertificateCache&) = delete;
    CertificateCache& operator=(const CertificateCache&) = delete;

    X509Ptr find(Bytes der) {
        const std::lock_guard lock(mutex_);
        for (Entry& entry : entries_) {
            if (sameBytes(Bytes(entry.der), der)) {
                entry.lastUse = ++clock_;
                X509_up_ref(entry.certificate.get());
                return X509Ptr(entry.certificate.get());
            }
        }
        return nullptr;
    }

    // Keeps a reference of its own to `certificate`, dropping the entry used
    // least recently when full.
    void add(Bytes der, X509* certificate) {
        const std::lock_guard lock(mutex_);
        if (entries_.size() == capacity) {
            std::size_t oldest = 0;
            for (std::size_t i = 1; i < entries_.size(); ++i) {
                if (entries_[i].lastUse < entries_[oldest].lastUse) {
                    oldest = i;
                }
            }
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(oldest));
        }
        // The entry first: if memory runs out, no reference is taken.
        entries_.push_back({std::vector<std::uint8_t>(der.begin(), der.end()), nullptr, ++clock_});
        X509_up_ref(certificate);
        entries_.back().certificate.reset(certificate);
    }

private:
    struct Entry {
        std::vector<std::uint8_t> der;
        X509Ptr certificate;
        std::uint64_t lastUse;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    std::uint64_t clock_ = 0;
};

CertificateCache& cache() {
    static CertificateCache instance;
    return instance;
}

}  // namespace

X509Ptr decodedCertificate(Bytes der) {
    if (der.empty() || der.size() > LONG_MAX) {
        return nullptr;
    }
    if (X509Ptr known = cache().find(der)) {
        return known;
    }
    const unsigned char* cursor = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate || cursor != der.data() + der.size()) {
        return nullptr;
    }
    cache().add(der, certificate.get());
    return certificate;
}

}  // namespace authenticode
