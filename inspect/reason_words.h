// The engine's reasons and checks in words: a stable identifier for scripts
// and a short meaning for people.
#pragma once

#include "authenticode/reason.h"
#include "authenticode/trail.h"

namespace inspect {

struct Words {
    const char* identifier;
    const char* meaning;
};

Words wordsFor(authenticode::Reason reason);

// The stable identifier of a check: "publisher_chain" and so on.
const char* identifierOf(authenticode::Check check);

}  // namespace inspect
