// FormatMessageA and LocalFree for messages from the system's table.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "winapi/system_messages.h"

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* /*Arguments*/) {
    // The table holds each text in its one-line form, which is what the
    // platform gives when FORMAT_MESSAGE_MAX_WIDTH_MASK is set; other line
    // widths and other message sources are not provided. No text has inserts.
    const bool fromSystemOnly = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0 &&
                                (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) == 0;
    const bool oneLine = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const bool english =
        dwLanguageId == MAKELANGID(LANG_NEUTRAL, 0) || dwLanguageId == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    if (!fromSystemOnly || !oneLine || !english || lpBuffer == nullptr) {
        return 0;
    }

    const char* text = winapi::systemMessageText(dwMessageId);
    if (text == nullptr) {
        return 0;
    }
    const std::size_t length = std::strlen(text);

    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        // lpBuffer receives the address of a buffer of at least nSize bytes.
        const std::size_t bytes = std::max<std::size_t>(length + 1, nSize);
        char* allocated = static_cast<char*>(std::calloc(bytes, 1));
        if (allocated == nullptr) {
            return 0;
        }
        std::memcpy(allocated, text, length);
        std::memcpy(lpBuffer, &allocated, sizeof allocated);
        return static_cast<DWORD>(length);
    }

    if (nSize < length + 1) {
        return 0;
    }
    std::memcpy(lpBuffer, text, length + 1);
    return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
