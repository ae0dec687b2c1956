// Reading a long range of a file, a block at a time, for a digest.
#pragma once

#include <cstddef>
#include <functional>

#include "authenticode/reading/bytes.h"
#include "authenticode/reading/mapped_file.h"

namespace authenticode {

// Hands [offset, offset + length) of the file to `consume` in order, one
// block at a time, each block read with the file's own bounds-checked read.
// A long range is read ahead on a second thread, so that copying the next
// block out of the page cache overlaps hashing this one; the blocks come
// from a few buffers used again and again, so memory stays the same
// whatever the file's size. False, after some blocks perhaps, if the file
// gives fewer bytes than asked for.
bool readRange(const MappedFile& file, std::size_t offset, std::size_t length,
               const std::function<void(Bytes)>& consume);

}  // namespace authenticode
