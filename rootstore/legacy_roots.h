// Old Microsoft and time-stamping roots that Windows keeps trusting although
// the root list disables or omits them, so that files signed under them years
// ago still verify.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "authenticode/chain/root_properties.h"

namespace rootstore {

const std::vector<authenticode::Thumbprint>& legacyRootThumbprints();

}  // namespace rootstore
