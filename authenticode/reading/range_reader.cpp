#include "authenticode/reading/range_reader.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>

namespace authenticode {

namespace {

// Read on the calling thread, a block costs a system call and a copy;
// hashing it costs far more once it is this large, and a block this small
// stays in the processor's cache between the copy and the digest
// (bench/RESULTS.md).
constexpr std::size_t blockSize = std::size_t{256} << 10;

// From this length on, a second thread reads ahead. Starting it costs tens of
// microseconds, a few milliseconds of hashing repay that many times over, and
// small files never start one.
constexpr std::size_t readAheadLimit = std::size_t{8} << 20;

// Read ahead, the blocks are larger: each one handed over costs the two
// threads a wake-up, and on the machines measured 1 MiB blocks, two in
// flight, beat 64 KiB to 512 KiB ones by 3 to 10 percent (bench/RESULTS.md).
constexpr std::size_t aheadBlockSize = std::size_t{1} << 20;
constexpr std::size_t blocksInFlight = 2;

// The one buffer every long range is read into on the calling thread,
// allocated when first needed.
std::span<std::uint8_t> sharedBuffer() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[blockSize]);
    return {buffer.get(), blockSize};
}

bool readInBlocks(const MappedFile& file, std::size_t offset, std::size_t length,
                  const std::function<void(Bytes)>& consume) {
    const std::span<std::uint8_t> buffer = sharedBuffer();
    for (std::size_t done = 0; done < length;) {
        const std::size_t block = std::min(buffer.size(), length - done);
        if (!file.read(offset + done, buffer.first(block))) {
            return false;
        }
        consume(Bytes(buffer.data(), block));
        done += block;
    }
    return true;
}

// A ring of buffers between one reader and one consumer. Block k goes to
// slot k % blocksInFlight; `read` counts the blocks the reader has filled,
// `consumed` those the consumer has finished with.
class ReadAhead {
public:
    ReadAhead(const MappedFile& file, std::size_t offset, std::size_t length)
        : file_(file), offset_(offset), length_(length), blocks_((length + aheadBlockSize - 1) / aheadBlockSize),
          storage_(new std::uint8_t[blocksInFlight * aheadBlockSize]) {}

    // The reading thread's work.
    void readAll() {
        for (std::size_t k = 0; k < blocks_; ++k) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopped_ || k - consumed_ < blocksInFlight; });
                if (stopped_) {
                    return;
                }
            }
            const bool ok = file_.read(offset_ + k * aheadBlockSize, slot(k));
            std::lock_guard lock(mutex_);
            if (!ok) {
                failed_ = true;
            } else {
                read_ = k + 1;
            }
            changed_.notify_all();
            if (!ok) {
                return;
            }
        }
    }

    // The consumer's work, on the calling thread.
    bool consumeAll(const std::function<void(Bytes)>& consume) {
        for (std::size_t k = 0; k < blocks_; ++k) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return failed_ || read_ > k; });
                if (read_ <= k) {
                    return false;
                }
            }
            const std::span<std::uint8_t> block = slot(k);
            consume(Bytes(block.data(), block.size()));
            std::lock_guard lock(mutex_);
            consumed_ = k + 1;
            changed_.notify_all();
        }
        return true;
    }

    // Lets a reader waiting for a free slot end.
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    std::span<std::uint8_t> slot(std::size_t k) const {
        const std::size_t size = std::min(aheadBlockSize, length_ - k * aheadBlockSize);
        return {storage_.get() + (k % blocksInFlight) * aheadBlockSize, size};
    }

    const MappedFile& file_;
    const std::size_t offset_;
    const std::size_t length_;
    const std::size_t blocks_;
    const std::unique_ptr<std::uint8_t[]> storage_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t read_ = 0;
    std::size_t consumed_ = 0;
    bool failed_ = false;
    bool stopped_ = false;
};

}  // namespace

bool readRange(const MappedFile& file, std::size_t offset, std::size_t length,
               const std::function<void(Bytes)>& consume) {
    if (length < readAheadLimit) {
        return readInBlocks(file, offset, length, consume);
    }
    ReadAhead ahead(file, offset, length);
    std::thread reader;
    try {
        reader = std::thread([&ahead] { ahead.readAll(); });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit, say): read on this one.
        return readInBlocks(file, offset, length, consume);
    }
    const bool complete = ahead.consumeAll(consume);
    ahead.stop();
    reader.join();
    return complete;
}

}  // namespace authenticode
