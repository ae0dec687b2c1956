// The tool's two output lines and its exit status.
#pragma once

#include <windows.h>

namespace command {

// "Usage <start-up name> [filename]"
void printUsageLine(const char* startName);

// "<path>: <code in uppercase hexadecimal> (<description>)". False when the
// line did not reach standard output in full (closed, full disk, broken pipe
// that does not end the process): the caller must not then report success.
bool printReportLine(const char* path, HRESULT code, const char* description);

// The exit status that carries a trust result code. Where exit statuses are
// 32 bits wide it is the code itself; where only the low 8 bits survive it is
// 0 for success and 1 for any failure, so that no failure can read as 0.
int exitStatusFor(HRESULT code);

// The exit status when the report line could not be written, whatever the
// verdict: a caller that reads only the status must not take a lost report
// for a trusted file, nor for any one verdict.
int writeFailureStatus();

}  // namespace command
