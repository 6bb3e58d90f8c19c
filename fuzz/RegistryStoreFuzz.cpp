// The in-memory registry's store file: any bytes load or are refused whole,
// and what loads reads back without fault.

#include "HostSettings.h"
#include "Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!platform::loadRegistryFromBytes(bytes))
        return 0;
    HostSettings settings("Fuzz", false);
    AudioDeviceList none;
    settings.load(none, none);
    settings.save();
    return 0;
}
