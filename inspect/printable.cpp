#include <cstdint>
#include <cstdio>

#include "inspect/report.h"
#include "inspect/utf8_scan.h"

namespace inspect {

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    forEachUtf8(text, [&out](std::string_view unit, bool valid) {
        const auto first = static_cast<unsigned char>(unit[0]);
        if (valid && first >= 0x20 && first != 0x7F) {
            out += unit;
            return;
        }
        static constexpr char digits[] = "0123456789abcdef";
        for (const char byte : unit) {
            const auto value = static_cast<unsigned char>(byte);
            out += "\\x";
            out += digits[value >> 4];
            out += digits[value & 0x0F];
        }
    });
    return out;
}

std::string hexCode(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(code));
    return text;
}

}  // namespace inspect
