#pragma once

#include <string>

namespace platform {

// Moves `from` over `to`, replacing an existing file in one step.
bool replaceFile(const std::string& from, const std::string& to);

} // namespace platform
