#include "AsioRegistration.h"

#include <cstring>

namespace {

constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154u);

struct InProcessDriver {
    AsioRegisteredDriver registration;
    AsioDriverFactory create;
    void* context;
};

std::vector<InProcessDriver>& inProcessDrivers() {
    static std::vector<InProcessDriver> drivers;
    return drivers;
}

} // namespace

std::vector<AsioRegisteredDriver> listRegisteredAsioDrivers() {
    std::vector<AsioRegisteredDriver> list;
    for (const InProcessDriver& driver : inProcessDrivers())
        list.push_back(driver.registration);
    return list;
}

int32_t createAsioDriver(const AsioClassId& classId, IAsioDriver** driver) {
    for (const InProcessDriver& candidate : inProcessDrivers()) {
        if (std::memcmp(&candidate.registration.classId, &classId, sizeof classId) != 0)
            continue;
        *driver = candidate.create(candidate.context);
        return *driver != nullptr ? 0 : kClassNotRegistered;
    }
    return kClassNotRegistered;
}

void initializeAsioThread() {}
void uninitializeAsioThread() {}

void registerInProcessAsioDriver(const std::string& name, const AsioClassId& classId,
                                 AsioDriverFactory create, void* context) {
    inProcessDrivers().push_back({{classId, storedAsioDriverName(name)}, create, context});
}

void clearInProcessAsioDrivers() {
    inProcessDrivers().clear();
}

std::string storedAsioDriverName(const std::string& name) {
    return name.substr(0, 127);
}
