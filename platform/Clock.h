#pragma once

// Counters and sleeping.

#include <cstdint>

namespace platform {

// The high-resolution performance counter and its counts per second.
int64_t performanceCounter();
int64_t performanceFrequency();
// Milliseconds since some fixed moment; wraps like a 32-bit tick count.
uint32_t tickCountMs();
void sleepMs(uint32_t milliseconds);

} // namespace platform
