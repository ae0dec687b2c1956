// The portable Authenticode verifier: one file in, the Windows verifier's
// result code out. It never prints.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "authenticode/reason.h"

namespace authenticode {

// Verifies the signature of the file at `path` (bytes as the file system
// takes them) and whether it is trusted on this machine, as of `now`.
Reason verifyFileReason(const std::string& path, std::time_t now);

// The same, as the result code in HRESULT form: 0 when the file verified.
std::int32_t verifyFile(const std::string& path, std::time_t now);

}  // namespace authenticode
