// Shared by the fuzz targets: an in-memory file the engine can open by path,
// the test trust, and the checks every target makes on its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Writes the input to a memory-backed file and returns a path that opens it,
// so that inputs reach the engine through the same mapping as real files.
std::string pathHolding(const std::uint8_t* data, std::size_t size);

// The same, as a file with the given name in a private temporary folder,
// for formats that are recognised by the name's extension.
std::string namedPathHolding(const std::uint8_t* data, std::size_t size, const char* name);

// Points OpenSSL's default trust at the test root, so that inputs close to
// the fixtures reach the chain checks.
void useTestTrust();

// A pinned verification time: the same input must give the same result.
constexpr long long fuzzTime = 1893456000;  // 2030-01-01

// Aborts (which the fuzzer reports) unless the code is one the engine can
// give.
void requireKnownCode(std::int32_t code);

}  // namespace fuzzing
