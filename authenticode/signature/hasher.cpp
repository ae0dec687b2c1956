#include "authenticode/signature/hasher.h"

#include "authenticode/reading/range_reader.h"

namespace authenticode {

namespace {

// Below this a range is hashed where it is mapped: its pages are few, and
// most were touched already when the format's structures were read. MSI
// streams come as runs of small sectors.
constexpr std::size_t mappedRangeLimit = std::size_t{64} << 10;

}  // namespace

Hasher::Hasher(const EVP_MD* algorithm) : context_(EVP_MD_CTX_new()), valid_(false) {
    valid_ = context_ != nullptr && algorithm != nullptr &&
             EVP_DigestInit_ex(context_.get(), algorithm, nullptr) == 1;
}

void Hasher::update(Bytes data) {
    if (valid_ && !data.empty()) {
        valid_ = EVP_DigestUpdate(context_.get(), data.data(), data.size()) == 1;
    }
}

std::vector<std::uint8_t> Hasher::finish() {
    std::vector<std::uint8_t> value(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (!valid_ || EVP_DigestFinal_ex(context_.get(), value.data(), &length) != 1) {
        valid_ = false;
        return {};
    }
    value.resize(length);
    return value;
}

std::vector<std::uint8_t> digestOf(const EVP_MD* algorithm, Bytes data) {
    Hasher hasher(algorithm);
    hasher.update(data);
    return hasher.finish();
}

void hashFileRange(const MappedFile& file, std::size_t offset, std::size_t length, Hasher& hasher) {
    const auto range = slice(file.bytes(), offset, length);
    if (!range) {
        hasher.abandon();
        return;
    }
    if (length < mappedRangeLimit) {
        hasher.update(*range);
        return;
    }
    // Read, not faulted in: on some machines a page fault costs more than
    // copying the page (bench/RESULTS.md).
    if (!readRange(file, offset, length, [&hasher](Bytes block) { hasher.update(block); })) {
        hasher.abandon();
    }
}

}  // namespace authenticode
