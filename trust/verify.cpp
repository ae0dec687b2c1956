#include "trust/verify.h"

#include <windows.h>
#include <wintrust.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <vector>

namespace trust {

GUID actionGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

namespace {

// The request record is sent with the size it had before pSignatureSettings
// was appended: everything up to and including dwUIContext.
constexpr DWORD requestRecordSize = offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD);
static_assert(requestRecordSize == 80);

constexpr DWORD fileSubjectRecordSize = sizeof(WINTRUST_FILE_INFO);
static_assert(fileSubjectRecordSize == 32);

}  // namespace

HRESULT verifyFileTrust(const char* path) {
    // A command-line argument never comes near INT_MAX bytes; the clamp only
    // keeps the count passed on representable.
    const std::size_t pathBytes = std::min<std::size_t>(std::strlen(path), INT_MAX - 1);

    // One UTF-8 byte never yields more than one UTF-16 unit, so a buffer of
    // one unit per byte plus the terminator always holds the whole path. It
    // is never smaller than MAX_PATH and is zero-filled, so the conversion,
    // which writes no terminator, always leaves the path terminated.
    std::vector<WCHAR> widePath(std::max<std::size_t>(MAX_PATH, pathBytes + 1), 0);

    WINTRUST_FILE_INFO fileInfo;
    std::memset(&fileInfo, 0, sizeof fileInfo);
    fileInfo.cbStruct = fileSubjectRecordSize;

    WINTRUST_DATA trustData;
    std::memset(&trustData, 0, sizeof trustData);
    trustData.cbStruct = requestRecordSize;

    MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(pathBytes), widePath.data(),
                        static_cast<int>(widePath.size()));

    fileInfo.pcwszFilePath = widePath.data();
    trustData.dwUnionChoice = WTD_CHOICE_FILE;
    trustData.dwUIChoice = WTD_UI_NONE;
    trustData.pFile = &fileInfo;

    return WinVerifyTrust(nullptr, &actionGenericVerifyV2, &trustData);
}

}  // namespace trust
