// Certificate trust lists and what is read from them: a catalog's or the
// root program's list (bare, or inside its signed message), every entry and
// its properties, and the same bytes as lines of a root-properties file.
#include <string_view>

#include "authenticode/chain/root_properties.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/signature/trust_list.h"
#include "rootstore/root_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const authenticode::Bytes input(data, size);
    authenticode::Bytes content = input;
    const auto decoded = authenticode::decodeSignedMessage(input);
    if (const auto* message = std::get_if<authenticode::SignedMessage>(&decoded)) {
        content = message->content;
    }
    if (const auto list = authenticode::readTrustList(content)) {
        if (const auto read = rootstore::readRootListEntries(list->trustedSubjects)) {
            // Everything taken must write out as a line that reads back.
            for (const auto& entry : read->entries) {
                const std::string line = authenticode::formatRootProperties(entry.thumbprint, entry.restrictions);
                if (!authenticode::parseRootProperties(line)) {
                    __builtin_trap();
                }
            }
        }
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = text.find('\n', start);
        authenticode::parseRootProperties(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return 0;
}
