// Texts that explain a trust result code on the report line.
#pragma once

#include <windows.h>

namespace trust {

struct TrustResultDescription {
    HRESULT code;
    const char* text;
};

// The trust-provider codes that the tool explains in its own words.
extern const TrustResultDescription trustResultDescriptions[9];

// Returns the text for a trust result code: the tool's own text for the codes
// in trustResultDescriptions, otherwise the system's US-English message text,
// or an empty text when the system has none. The text stays valid until the
// process ends.
const char* describeTrustResult(HRESULT code);

}  // namespace trust
