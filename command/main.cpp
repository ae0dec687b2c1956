// trustcheck: does this file's Authenticode signature verify, and is it
// trusted on this machine? One argument in, one line out, the verdict as the
// exit status.
#include "command/report.h"
#include "trust/describe.h"
#include "trust/verify.h"

int main(int argc, char** argv) {
    if (argc <= 1) {
        // A process can be started with an empty argument vector; the usage
        // line then shows an empty start-up name rather than reading past it.
        command::printUsageLine(argc == 1 && argv[0] != nullptr ? argv[0] : "");
        return -1;
    }

    const HRESULT code = trust::verifyFileTrust(argv[1]);
    const char* description = trust::describeTrustResult(code);
    if (!command::printReportLine(argv[1], code, description)) {
        return command::writeFailureStatus();
    }
    return command::exitStatusFor(code);
}
