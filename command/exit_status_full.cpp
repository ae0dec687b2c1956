// Exit statuses are 32 bits wide here: the status is the trust result code.
#include "command/report.h"

int exitStatusFor(HRESULT code) {
    return static_cast<int>(code);
}
