// A file mapped read-only into memory, so that it is never copied whole into
// the heap, and kept open so that the long ranges a digest covers can be
// read into a buffer instead of faulted in page by page.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "authenticode/reading/bytes.h"

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

    // Reads exactly out.size() bytes at `offset` from the file itself. False
    // if the range is not inside the file as it was opened, or the file
    // gives fewer bytes (it shrank since, or cannot be read).
    bool read(std::size_t offset, std::span<std::uint8_t> out) const;

    // Tells the system a range is about to be read from front to back.
    void willReadSequentially(std::size_t offset, std::size_t length) const;

    // Tells the system a range, and whatever comes before it on its first
    // page, will not be read again, so their pages need not stay resident in
    // this process.
    void doneWith(std::size_t offset, std::size_t length) const;

private:
    MappedFile(const std::uint8_t* data, std::size_t size, int descriptor)
        : data_(data), size_(size), descriptor_(descriptor) {}

    const std::uint8_t* data_;
    std::size_t size_;
    int descriptor_;  // -1 for an empty file
};

}  // namespace authenticode
