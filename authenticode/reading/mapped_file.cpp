#include "authenticode/reading/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace authenticode {

namespace {

struct PageRange {
    void* start;
    std::size_t length;
};

// Pages of the mapping for [offset, offset + length): from the page that
// holds its first byte, or from the first page that starts inside it, to
// the last page that ends inside it.
std::optional<PageRange> pagesFor(const std::uint8_t* data, std::size_t size, std::size_t offset, std::size_t length,
                                  bool fromFirstByte) {
    const auto pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (data == nullptr || offset > size || length > size - offset) {
        return std::nullopt;
    }
    const std::size_t first = fromFirstByte ? offset / pageSize * pageSize : (offset + pageSize - 1) / pageSize * pageSize;
    const std::size_t end = (offset + length) / pageSize * pageSize;
    if (end <= first) {
        return std::nullopt;
    }
    return PageRange{const_cast<std::uint8_t*>(data) + first, end - first};
}

}  // namespace

std::optional<MappedFile> MappedFile::open(const std::string& path) {
    // Non-blocking, so that naming a FIFO does not wait for a writer; such a
    // file is refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        ::close(fd);
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0) {
        ::close(fd);
        return MappedFile(nullptr, 0, -1);
    }
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED) {
        ::close(fd);
        return std::nullopt;
    }
    return MappedFile(static_cast<const std::uint8_t*>(mapping), size, fd);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(other.data_), size_(other.size_), descriptor_(other.descriptor_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.descriptor_ = -1;
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

bool MappedFile::read(std::size_t offset, std::span<std::uint8_t> out) const {
    if (offset > size_ || out.size() > size_ - offset || descriptor_ < 0 ||
        size_ > static_cast<std::size_t>(std::numeric_limits<off_t>::max())) {
        return out.empty() && offset <= size_;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(descriptor_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;  // an error, or the file ends early: it shrank
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void MappedFile::willReadSequentially(std::size_t offset, std::size_t length) const {
    if (const auto pages = pagesFor(data_, size_, offset, length, false)) {
        ::madvise(pages->start, pages->length, MADV_SEQUENTIAL);
    }
}

void MappedFile::doneWith(std::size_t offset, std::size_t length) const {
    // The page this range shares with the one before goes too: whoever reads
    // a file front to back is done with it. The page it shares with the one
    // after stays for that one. Releasing a page still needed costs only a
    // second read of it from the page cache.
    if (const auto pages = pagesFor(data_, size_, offset, length, true)) {
        ::madvise(pages->start, pages->length, MADV_DONTNEED);
    }
}

}  // namespace authenticode
