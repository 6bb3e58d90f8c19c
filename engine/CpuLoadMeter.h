#pragma once

// The process's share of all processors, measured from the system's and the
// process's CPU times at most every 251 ms.

#include <atomic>
#include <cstdint>

class CpuLoadMeter {
public:
    // The load in percent, or the previous reading when it is too early,
    // another reading is in progress or the times cannot be read; -1 before
    // the first measured interval.
    int16_t read();

    uint64_t previousSystemKernel = 0;
    uint64_t previousSystemUser = 0;
    uint64_t previousProcessKernel = 0;
    uint64_t previousProcessUser = 0;
    // Read by a caller that finds another reading in progress.
    std::atomic<int16_t> value{-1};
    uint32_t lastTick = 0; // 0 = never measured
    std::atomic<int32_t> busy{0};

private:
    int16_t measure();
};
