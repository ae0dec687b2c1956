// The system's one-line US-English text for a code, as the report line asks
// for it: on Windows the platform's, elsewhere the stand-in's.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// "" when the system has no text for the code.
inline std::string systemText(DWORD code) {
    LPSTR text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPSTR>(&text), 0,
                   nullptr);
    std::string result = text != nullptr ? text : "";
    LocalFree(text);
    return result;
}

}  // namespace testing_support
