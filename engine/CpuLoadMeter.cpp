#include "CpuLoadMeter.h"

#include "Clock.h"
#include "CpuTimes.h"

namespace {
constexpr uint32_t kMinimumIntervalMs = 251;
}

int16_t CpuLoadMeter::read() {
    if (busy.fetch_add(1) != 0) {
        busy.fetch_sub(1);
        return value;
    }
    const int16_t result = measure();
    busy.fetch_sub(1);
    return result;
}

int16_t CpuLoadMeter::measure() {
    const uint32_t now = platform::tickCountMs();
    if (now - lastTick < kMinimumIntervalMs)
        return value;
    platform::SystemTimes system;
    platform::ProcessTimes process;
    if (!platform::readSystemTimes(system) || !platform::readProcessTimes(process))
        return value;
    if (lastTick != 0) {
        const uint64_t systemDelta =
            (system.kernel - previousSystemKernel) + (system.user - previousSystemUser);
        if (systemDelta != 0) {
            const uint64_t processDelta =
                process.kernel + process.user - previousProcessKernel - previousProcessUser;
            value.store(static_cast<int16_t>(static_cast<double>(processDelta) * 100.0 /
                                             static_cast<double>(systemDelta)));
        }
    }
    previousSystemKernel = system.kernel;
    previousSystemUser = system.user;
    previousProcessKernel = process.kernel;
    previousProcessUser = process.user;
    lastTick = now;
    return value;
}
