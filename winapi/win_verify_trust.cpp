// WinVerifyTrust: the front door of the portable verifier. It checks the
// request as the platform does, then hands the file to the Authenticode
// engine.
#include <windows.h>
#include <wintrust.h>

#include <cstddef>
#include <cstring>
#include <ctime>

#include "authenticode/verify_file.h"
#include "winapi/utf8.h"

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2, the one action this verifier provides.
constexpr GUID genericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

bool sameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

// Whether a record whose cbStruct says `size` reaches the end of a member.
constexpr bool covers(DWORD size, std::size_t memberOffset, std::size_t memberSize) {
    return size >= memberOffset + memberSize;
}

}  // namespace

LONG WinVerifyTrust(HWND /*hwnd*/, GUID* pgActionID, LPVOID pWVTData) {
    if (pgActionID == nullptr || !sameGuid(*pgActionID, genericVerifyV2)) {
        return TRUST_E_ACTION_UNKNOWN;
    }

    const auto* request = static_cast<const WINTRUST_DATA*>(pWVTData);
    if (request == nullptr ||
        !covers(request->cbStruct, offsetof(WINTRUST_DATA, pFile), sizeof request->pFile) ||
        request->dwUnionChoice != WTD_CHOICE_FILE || request->pFile == nullptr) {
        return E_INVALIDARG;
    }
    const WINTRUST_FILE_INFO* file = request->pFile;
    if (!covers(file->cbStruct, offsetof(WINTRUST_FILE_INFO, pcwszFilePath), sizeof file->pcwszFilePath) ||
        file->pcwszFilePath == nullptr) {
        return E_INVALIDARG;
    }

    return authenticode::verifyFile(winapi::utf16ToUtf8(file->pcwszFilePath), std::time(nullptr));
}
