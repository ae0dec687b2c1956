// Strict base64 (RFC 4648, standard alphabet, padded), decoded by OpenSSL.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace authenticode {

// The bytes `text` encodes, or nothing if it is not exactly a padded base64
// string: only the 64 letters of the alphabet, a length that is a multiple
// of four and at most two '=' at the very end. Whitespace is not allowed;
// callers strip their own line structure first.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

}  // namespace authenticode
