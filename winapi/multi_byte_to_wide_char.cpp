// MultiByteToWideChar for the UTF-8 code page, with the platform's handling
// of ill-formed input and of the output buffer.
#include <windows.h>

#include <cstring>
#include <span>

#include "authenticode/reading/utf8.h"

namespace {

// Calls `emit` with each UTF-16 unit of the converted text. Returns false if
// `strict` and the input is ill-formed.
template <typename Emit>
bool convert(std::span<const unsigned char> input, bool strict, Emit emit) {
    while (!input.empty()) {
        const authenticode::Utf8Step step = authenticode::decodeUtf8Step(input);
        if (strict && !step.wellFormed) {
            return false;
        }
        const authenticode::Utf16Units encoded = authenticode::encodeUtf16(step.value);
        for (std::size_t i = 0; i < encoded.count; ++i) {
            emit(static_cast<WCHAR>(encoded.units[i]));
        }
        input = input.subspan(step.length);
    }
    return true;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (CodePage != CP_UTF8 || (dwFlags & ~MB_ERR_INVALID_CHARS) != 0 || lpMultiByteStr == nullptr ||
        cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        return 0;
    }

    // -1 means "up to and including the terminator"; otherwise the count is
    // taken as given and no terminator is added.
    const std::size_t inputBytes =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    const std::span<const unsigned char> input(reinterpret_cast<const unsigned char*>(lpMultiByteStr), inputBytes);
    const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;

    std::size_t needed = 0;
    if (!convert(input, strict, [&needed](WCHAR) { ++needed; })) {
        return 0;
    }
    if (cchWideChar == 0) {
        return static_cast<int>(needed);
    }
    // Output that does not fit is not written at all.
    if (needed > static_cast<std::size_t>(cchWideChar)) {
        return 0;
    }

    const std::span<WCHAR> output(lpWideCharStr, static_cast<std::size_t>(cchWideChar));
    std::size_t written = 0;
    convert(input, strict, [&output, &written](WCHAR unit) { output[written++] = unit; });
    return static_cast<int>(written);
}
