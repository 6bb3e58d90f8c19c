#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Moves `from` over `to`, replacing an existing file in one step.
bool replaceFile(const std::string& from, const std::string& to);

// Hands what the stream has written to the disk itself, so a file about to
// replace another is whole even when the power fails right after.
bool flushToDisk(std::FILE* stream);

} // namespace platform

namespace platform {

// True when the stream is an interactive terminal (for progress displays).
bool isTerminal(std::FILE* stream);

} // namespace platform
