// Only the low 8 bits of an exit status reach the parent here, and the low
// byte of a failure code can be 0 (0x800B0100 would read as success), so the
// status says only whether the file verified. The report line carries the
// full code.
#include "command/report.h"

namespace command {

int exitStatusFor(HRESULT code) {
    return code == 0 ? 0 : 1;
}

// Neither a verdict (0, 1) nor the usage line (255).
int writeFailureStatus() {
    return 2;
}

}  // namespace command
