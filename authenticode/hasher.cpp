#include "authenticode/hasher.h"

#include <algorithm>
#include <memory>
#include <span>

namespace authenticode {

namespace {

// Reading a block costs a system call and a copy; hashing it costs far more
// once it is this large, and a block this small stays in the processor's
// cache between the copy and the digest (bench/RESULTS.md).
constexpr std::size_t readBlockSize = std::size_t{256} << 10;

// Below this a range is hashed where it is mapped: its pages are few, and
// most were touched already when the format's structures were read. MSI
// streams come as runs of small sectors.
constexpr std::size_t mappedRangeLimit = std::size_t{64} << 10;

// The one buffer every long range is read into, allocated when first needed.
std::span<std::uint8_t> readBuffer() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[readBlockSize]);
    return {buffer.get(), readBlockSize};
}

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
    const std::span<std::uint8_t> buffer = readBuffer();
    for (std::size_t done = 0; done < length;) {
        const std::size_t block = std::min(buffer.size(), length - done);
        if (!file.read(offset + done, buffer.first(block))) {
            hasher.abandon();
            return;
        }
        hasher.update(Bytes(buffer.data(), block));
        done += block;
    }
}

}  // namespace authenticode
