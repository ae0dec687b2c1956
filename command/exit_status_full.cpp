// Exit statuses are 32 bits wide here: the status is the trust result code.
#include "command/report.h"

namespace command {

int exitStatusFor(HRESULT code) {
    return static_cast<int>(code);
}

// HRESULT_FROM_WIN32(ERROR_WRITE_FAULT): a code like every other status here.
// The verifier only reads the file, so it does not answer with a write fault.
int writeFailureStatus() {
    return static_cast<int>(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
}

}  // namespace command
