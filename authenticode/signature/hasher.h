// Message digests through OpenSSL, and streaming a range of a mapped file
// into one.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "authenticode/reading/bytes.h"
#include "authenticode/reading/mapped_file.h"

namespace authenticode {

class Hasher {
public:
    // A fresh digest of the given algorithm. Check valid() before use: the
    // library can fail to set one up (for instance when out of memory).
    explicit Hasher(const EVP_MD* algorithm);

    bool valid() const { return valid_; }
    void update(Bytes data);
    // Marks the digest as failed, so that finish() gives no value.
    void abandon() { valid_ = false; }
    // The digest value; empty if any step failed.
    std::vector<std::uint8_t> finish();

private:
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context_;
    bool valid_;
};

// The digest of `data` in one go; empty on failure.
std::vector<std::uint8_t> digestOf(const EVP_MD* algorithm, Bytes data);

// Feeds [offset, offset + length) of the file into the digest. A long range
// is read a block at a time into buffers that are used again and again
// (range_reader.h), so memory does not grow with the file and no page of it
// is faulted in; a short one is hashed where it is mapped. A range that is not inside the
// file, or that the file no longer holds, abandons the digest.
void hashFileRange(const MappedFile& file, std::size_t offset, std::size_t length, Hasher& hasher);

}  // namespace authenticode
