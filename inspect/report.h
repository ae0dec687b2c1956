// The two ways the companion command reports a file: text for people, one
// JSON object a line for programs.
#pragma once

#include <cstdint>
#include <string>

#include "inspect/inspection.h"

namespace inspect {

std::string textReport(const Inspection& inspection);
std::string jsonReport(const Inspection& inspection);

// Text as the reports show it: valid UTF-8 is kept, other bytes and control
// characters are escaped as \xNN, so that a hostile name in a certificate or
// a path cannot break a line or steer a terminal.
std::string printable(const std::string& text);

// A result code as trustcheck prints it: uppercase hexadecimal, no prefix.
std::string hexCode(std::uint32_t code);

}  // namespace inspect
