// Result codes that trustcheck names in its own code, with the values the
// Windows SDK gives them.
#pragma once

#include <windows.h>

constexpr DWORD ERROR_SUCCESS = 0;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr HRESULT TRUST_E_ACTION_UNKNOWN = static_cast<HRESULT>(0x800B0002u);
constexpr HRESULT TRUST_E_SYSTEM_ERROR = static_cast<HRESULT>(0x80096001u);
constexpr HRESULT TRUST_E_NO_SIGNER_CERT = static_cast<HRESULT>(0x80096002u);
constexpr HRESULT TRUST_E_COUNTER_SIGNER = static_cast<HRESULT>(0x80096003u);
constexpr HRESULT TRUST_E_CERT_SIGNATURE = static_cast<HRESULT>(0x80096004u);
constexpr HRESULT TRUST_E_TIME_STAMP = static_cast<HRESULT>(0x80096005u);
constexpr HRESULT TRUST_E_BAD_DIGEST = static_cast<HRESULT>(0x80096010u);
constexpr HRESULT TRUST_E_BASIC_CONSTRAINTS = static_cast<HRESULT>(0x80096019u);
constexpr HRESULT TRUST_E_FINANCIAL_CRITERIA = static_cast<HRESULT>(0x8009601Eu);
constexpr HRESULT TRUST_E_EXPLICIT_DISTRUST = static_cast<HRESULT>(0x800B0111u);
