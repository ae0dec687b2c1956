// Walks text as UTF-8: each well-formed character, or each byte that does not
// start one, goes to `visit` with whether it was well formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "authenticode/reading/utf8.h"

namespace inspect {

// The engine's decoder decides what is well formed, so the reports and the
// verifier agree on it. A byte that starts no character is visited alone,
// so that each can be shown for what it is.
template <typename Visit>
void forEachUtf8(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const auto step = authenticode::decodeUtf8Step(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        const std::size_t length = step.wellFormed ? step.length : 1;
        visit(text.substr(0, length), step.wellFormed);
        text.remove_prefix(length);
    }
}

}  // namespace inspect
