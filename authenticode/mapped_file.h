// A file mapped read-only into memory, so that it is never copied whole into
// the heap and the pages of a large file come and go as it is hashed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "authenticode/bytes.h"

namespace authenticode {

class MappedFile {
public:
    // Opens and maps a regular file. Nothing if it cannot be opened or read,
    // or is not a regular file (a directory, a device, a pipe).
    static std::optional<MappedFile> open(const std::string& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    Bytes bytes() const { return {data_, size_}; }

    // Tells the system a range is about to be read from front to back.
    void willReadSequentially(std::size_t offset, std::size_t length) const;

    // Tells the system a range, and whatever comes before it on its first
    // page, will not be read again, so their pages need not stay resident in
    // this process.
    void doneWith(std::size_t offset, std::size_t length) const;

private:
    MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace authenticode
