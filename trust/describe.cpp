#include "trust/describe.h"

#include <windows.h>

namespace trust {

const TrustResultDescription trustResultDescriptions[9] = {
    {TRUST_E_SYSTEM_ERROR, "TRUST_E_SYSTEM_ERROR: A system-level error occurred while verifying trust."},
    {TRUST_E_NO_SIGNER_CERT,
     "TRUST_E_NO_SIGNER_CERT: The certificate for the signer of the message is not valid or not found."},
    {TRUST_E_COUNTER_SIGNER, "TRUST_E_COUNTER_SIGNER: One of the counter signatures was not valid."},
    {TRUST_E_CERT_SIGNATURE, "TRUST_E_CERT_SIGNATURE: The signature of the certificate cannot be verified."},
    {TRUST_E_TIME_STAMP,
     "TRUST_E_TIME_STAMP: The time stamp signature or certificate could not be verified or is malformed"},
    {TRUST_E_BAD_DIGEST, "TRUST_E_BAD_DIGEST: The digital signature of the object did not verify."},
    {TRUST_E_BASIC_CONSTRAINTS,
     "TRUST_E_BASIC_CONSTRAINTS: The basic constraint extension of a certificate has not been observed."},
    {TRUST_E_FINANCIAL_CRITERIA,
     "TRUST_E_FINANCIAL_CRITERIA: The certificate does not meet or contain the Authenticode financial "
     "extensions."},
    {TRUST_E_EXPLICIT_DISTRUST,
     "TRUST_E_EXPLICIT_DISTRUST: The certificate was explicitly marked as untrusted by the user."},
};

const char* describeTrustResult(HRESULT code) {
    for (const TrustResultDescription& row : trustResultDescriptions) {
        if (row.code == code) {
            return row.text;
        }
    }

    // The system allocates the text; it is never released, as the process
    // ends right after printing it.
    LPSTR systemText = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                   reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    return systemText != nullptr ? systemText : "";
}

}  // namespace trust
