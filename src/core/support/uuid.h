#pragma once

#include <string>

namespace ferrytide {

// A new random (version 4) UUID in its standard upper-case text form,
// e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301".
std::string randomUuid();

}  // namespace ferrytide
