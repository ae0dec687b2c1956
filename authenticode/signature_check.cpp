#include "authenticode/signature_check.h"

namespace authenticode {

Reason checkSignature(const Subject& /*subject*/, std::time_t /*now*/) {
    return Reason::NoSignature;
}

}  // namespace authenticode
