// Portable stand-ins for the wintrust records, constants and the trust
// verifier entry point, laid out as the Windows SDK lays them out on x86-64.
#pragma once

#include <windows.h>

constexpr DWORD WTD_UI_ALL = 1;
constexpr DWORD WTD_UI_NONE = 2;
constexpr DWORD WTD_UI_NOBAD = 3;
constexpr DWORD WTD_UI_NOGOOD = 4;

constexpr DWORD WTD_REVOKE_NONE = 0;
constexpr DWORD WTD_REVOKE_WHOLECHAIN = 1;

constexpr DWORD WTD_CHOICE_FILE = 1;

constexpr DWORD WTD_STATEACTION_IGNORE = 0;

constexpr DWORD WTD_UICONTEXT_EXECUTE = 0;

struct WINTRUST_FILE_INFO {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
};

struct WINTRUST_SIGNATURE_SETTINGS_;

struct WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    // The SDK places a union of subject pointers here; a file subject is the
    // only kind this verifier accepts.
    WINTRUST_FILE_INFO* pFile;
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    WINTRUST_SIGNATURE_SETTINGS_* pSignatureSettings;
};

static_assert(sizeof(void*) == 8, "the stand-in records reproduce the x86-64 layout");
static_assert(sizeof(WINTRUST_FILE_INFO) == 32);
static_assert(offsetof(WINTRUST_FILE_INFO, pcwszFilePath) == 8);
static_assert(offsetof(WINTRUST_FILE_INFO, hFile) == 16);
static_assert(offsetof(WINTRUST_FILE_INFO, pgKnownSubject) == 24);
static_assert(sizeof(WINTRUST_DATA) == 88);
static_assert(offsetof(WINTRUST_DATA, pPolicyCallbackData) == 8);
static_assert(offsetof(WINTRUST_DATA, pSIPClientData) == 16);
static_assert(offsetof(WINTRUST_DATA, dwUIChoice) == 24);
static_assert(offsetof(WINTRUST_DATA, fdwRevocationChecks) == 28);
static_assert(offsetof(WINTRUST_DATA, dwUnionChoice) == 32);
static_assert(offsetof(WINTRUST_DATA, pFile) == 40);
static_assert(offsetof(WINTRUST_DATA, dwStateAction) == 48);
static_assert(offsetof(WINTRUST_DATA, hWVTStateData) == 56);
static_assert(offsetof(WINTRUST_DATA, pwszURLReference) == 64);
static_assert(offsetof(WINTRUST_DATA, dwProvFlags) == 72);
static_assert(offsetof(WINTRUST_DATA, dwUIContext) == 76);
static_assert(offsetof(WINTRUST_DATA, pSignatureSettings) == 80);

LONG WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData);
