// The stand-in for the system's message table.
#pragma once

#include <windows.h>

namespace winapi {

// The US-English message text for a result code, or null when the system has
// none.
const char* systemMessageText(DWORD code);

}  // namespace winapi
