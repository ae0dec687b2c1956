// The request to the platform's trust verifier for one file.
#pragma once

#include <windows.h>

namespace trust {

// WINTRUST_ACTION_GENERIC_VERIFY_V2, {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}.
// The tool keeps its own copy rather than taking the platform library's.
extern GUID actionGenericVerifyV2;

// Asks the trust verifier whether the file named by the UTF-8 path carries a
// valid Authenticode signature that this machine trusts. Returns the
// verifier's result code unchanged: 0 when the file verified.
HRESULT verifyFileTrust(const char* path);

}  // namespace trust
