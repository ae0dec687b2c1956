#include "authenticode/reading/base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace authenticode {

namespace {

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Quartets per call to the library, which counts in int.
constexpr std::size_t chunkCharacters = 4 * 16 * 1024;

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    if (!std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding), isBase64Letter)) {
        return std::nullopt;
    }

    std::vector<std::uint8_t> decoded(text.size() / 4 * 3);
    std::size_t written = 0;
    for (std::size_t offset = 0; offset < text.size(); offset += chunkCharacters) {
        const std::size_t length = std::min(chunkCharacters, text.size() - offset);
        const int produced =
            EVP_DecodeBlock(decoded.data() + written, reinterpret_cast<const unsigned char*>(text.data() + offset),
                            static_cast<int>(length));
        if (produced < 0 || static_cast<std::size_t>(produced) != length / 4 * 3) {
            return std::nullopt;
        }
        written += static_cast<std::size_t>(produced);
    }
    // EVP_DecodeBlock decodes the padding as zero bits; those bytes are not data.
    decoded.resize(written - padding);
    return decoded;
}

}  // namespace authenticode
