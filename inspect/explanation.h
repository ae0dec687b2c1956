// Why the verdict is what it is, in a sentence that names the certificate,
// field or time involved, and what to do next where there is something to do.
#pragma once

#include <string>

#include "authenticode/reason.h"
#include "authenticode/trail.h"
#include "inspect/inspection.h"

namespace inspect {

struct Explanation {
    std::string why;
    std::string next;  // empty when there is nothing to suggest
};

Explanation explain(authenticode::Reason reason, const authenticode::Trail& trail, const Inspection& inspection);

}  // namespace inspect
