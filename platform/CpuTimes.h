#pragma once

// System and process CPU times, in 100-nanosecond units. The system's kernel
// time includes its idle time, as Windows reports it.

#include <cstdint>

namespace platform {

struct SystemTimes {
    uint64_t idle = 0;
    uint64_t kernel = 0;
    uint64_t user = 0;
};

struct ProcessTimes {
    uint64_t kernel = 0;
    uint64_t user = 0;
};

bool readSystemTimes(SystemTimes& times);
bool readProcessTimes(ProcessTimes& times);

} // namespace platform
