// The portable Authenticode verifier: one file in, the Windows verifier's
// result code out. It never prints.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "authenticode/reason.h"
#include "authenticode/trail.h"

namespace authenticode {

// Verifies the signature of the file at `path` (bytes as the file system
// takes them) and whether it is trusted on this machine, as of `now`. When
// `trail` is given, what the checks saw is recorded there as well.
Reason verifyFileReason(const std::string& path, std::time_t now, Trail* trail = nullptr);

// The same, as the result code in HRESULT form: 0 when the file verified.
std::int32_t verifyFile(const std::string& path, std::time_t now);

}  // namespace authenticode
