// UTF-16 to UTF-8 as the Windows stand-ins need it; decoding UTF-8 is
// shared with the engine (authenticode/reading/utf8.h).
#pragma once

#include <string>

namespace winapi {

// Converts a NUL-terminated UTF-16 string to UTF-8. Unpaired surrogates
// become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);

}  // namespace winapi
