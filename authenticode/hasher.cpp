#include "authenticode/hasher.h"

#include <algorithm>

namespace authenticode {

namespace {

// Large enough that the calls around each block cost nothing next to hashing
// it, small enough to keep few pages resident; a multiple of the page size.
constexpr std::size_t hashBlockSize = std::size_t{2} << 20;

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
    file.willReadSequentially(offset, length);
    for (std::size_t done = 0; done < length;) {
        // Blocks end where the file's offset is a multiple of the block size,
        // so that they meet at page boundaries: every page then lies whole in
        // one block and is let go with it. Blocks counted from an unaligned
        // offset would each keep the page they share with the next one.
        const std::size_t intoBlock = (offset + done) % hashBlockSize;
        const std::size_t block = std::min(hashBlockSize - intoBlock, length - done);
        hasher.update(range->subspan(done, block));
        file.doneWith(offset + done, block);
        done += block;
    }
}

}  // namespace authenticode
