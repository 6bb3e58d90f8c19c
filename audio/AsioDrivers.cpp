#include "AsioDrivers.h"

#include "AsioRegistration.h"

#include <cstring>

namespace {

constexpr int32_t kWholeNameBytes = 128;

void copyText(char* to, const char* text, size_t capacity) {
    std::strncpy(to, text, capacity - 1);
    to[capacity - 1] = '\0';
}

} // namespace

AsioDriverList::AsioDriverList() {
    AsioDriverEntry** tail = &entries;
    for (const AsioRegisteredDriver& registered : listRegisteredAsioDrivers()) {
        auto* entry = new AsioDriverEntry;
        entry->number = count++;
        entry->classId = registered.classId;
        entry->name = registered.name;
        *tail = entry;
        tail = &entry->next;
    }
    if (count > 0)
        initializeAsioThread();
}

AsioDriverList::~AsioDriverList() {
    if (count <= 0)
        return;
    // Last first, as they were built.
    while (entries != nullptr) {
        AsioDriverEntry** last = &entries;
        while ((*last)->next != nullptr)
            last = &(*last)->next;
        if ((*last)->driver != nullptr)
            (*last)->driver->Release();
        delete *last;
        *last = nullptr;
    }
    uninitializeAsioThread();
}

AsioDriverEntry* AsioDriverList::entryOf(int32_t number) const {
    for (AsioDriverEntry* entry = entries; entry != nullptr; entry = entry->next)
        if (entry->number == number)
            return entry;
    return nullptr;
}

int32_t AsioDriverList::getDriverName(int32_t number, char* buffer, int32_t size) const {
    if (buffer == nullptr || size <= 0)
        return asioListInvalidParameter;
    const AsioDriverEntry* entry = entryOf(number);
    if (entry == nullptr)
        return asioListNoSuchDriver;
    const auto capacity = static_cast<size_t>(size);
    if (entry->name.size() < capacity) {
        std::memcpy(buffer, entry->name.c_str(), entry->name.size() + 1);
        return 0;
    }
    const size_t kept = capacity >= 4 ? capacity - 4 : 0;
    std::memcpy(buffer, entry->name.data(), kept);
    std::memset(buffer + kept, '.', capacity - 1 - kept);
    buffer[capacity - 1] = '\0';
    return 0;
}

int32_t AsioDriverList::openDriver(int32_t number, IAsioDriver** driver) {
    if (driver == nullptr)
        return asioListInvalidParameter;
    AsioDriverEntry* entry = entryOf(number);
    if (entry == nullptr)
        return asioListNoSuchDriver;
    if (entry->driver != nullptr)
        return asioListDriverAlreadyCreated;
    IAsioDriver* created = nullptr;
    const int32_t result = createAsioDriver(entry->classId, &created);
    if (result != 0)
        return result;
    entry->driver = created;
    *driver = created;
    return 0;
}

int32_t AsioDriverList::closeDriver(int32_t number) {
    AsioDriverEntry* entry = entryOf(number);
    if (entry != nullptr && entry->driver != nullptr) {
        entry->driver->Release();
        entry->driver = nullptr;
    }
    return 0;
}

AsioDrivers::~AsioDrivers() {
    // The entries release their objects; none may stay reachable.
    currentDriver.store(nullptr);
}

bool AsioDrivers::loadDriver(const std::string& name) {
    char entryName[kWholeNameBytes];
    for (int32_t number = 0; number < driverCount(); ++number) {
        if (getDriverName(number, entryName, sizeof entryName) != 0 || name != entryName)
            continue;
        char previous[kWholeNameBytes] = "";
        if (currentIndex >= 0)
            getDriverName(currentIndex, previous, sizeof previous);
        unloadCurrentDriver();
        IAsioDriver* driver = nullptr;
        if (openDriver(number, &driver) == 0) {
            currentDriver.store(driver);
            currentIndex = number;
            return true;
        }
        currentDriver.store(nullptr);
        if (previous[0] != '\0' && name != previous)
            loadDriver(previous);
        return false;
    }
    return false;
}

void AsioDrivers::unloadCurrentDriver() {
    if (currentIndex != -1)
        closeDriver(currentIndex);
    currentIndex = -1;
    currentDriver.store(nullptr);
}

AsioError ASIOInit(ASIODriverInfo* info) {
    info->driverVersion = 0;
    copyText(info->name, "No ASIO Driver", sizeof info->name);
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr)
        return asioNotPresent;
    std::memset(info->errorMessage, 0, sizeof info->errorMessage);
    if (!driver->init(info->sysRef)) {
        driver->getErrorMessage(info->errorMessage);
        info->errorMessage[sizeof info->errorMessage - 1] = '\0';
        currentDriver.store(nullptr); // the entry keeps the object until it is unloaded
        return asioNotPresent;
    }
    copyText(info->errorMessage, "No ASIO Driver Error", sizeof info->errorMessage);
    driver->getDriverName(info->name);
    info->name[sizeof info->name - 1] = '\0';
    info->driverVersion = driver->getDriverVersion();
    return asioOk;
}

AsioError ASIOStart() {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->start() : asioNotPresent;
}

AsioError ASIOStop() {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->stop() : asioNotPresent;
}

AsioError ASIOGetChannels(int32_t* inputs, int32_t* outputs) {
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr) {
        *inputs = 0;
        *outputs = 0;
        return asioNotPresent;
    }
    return driver->getChannels(inputs, outputs);
}

AsioError ASIOGetLatencies(int32_t* input, int32_t* output) {
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr) {
        *input = 0;
        *output = 0;
        return asioNotPresent;
    }
    return driver->getLatencies(input, output);
}

AsioError ASIOGetBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) {
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr) {
        *minSize = *maxSize = *preferredSize = *granularity = 0;
        return asioNotPresent;
    }
    return driver->getBufferSize(minSize, maxSize, preferredSize, granularity);
}

AsioError ASIOGetSampleRate(double* rate) {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->getSampleRate(rate) : asioNotPresent;
}

AsioError ASIOGetSamplePosition(ASIOSamples* position, ASIOTimeStamp* time) {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->getSamplePosition(position, time) : asioNotPresent;
}

AsioError ASIOGetChannelInfo(ASIOChannelInfo* info) {
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr) {
        info->channelGroup = -1;
        info->type = 0;
        copyText(info->name, "None", sizeof info->name);
        return asioNotPresent;
    }
    return driver->getChannelInfo(info);
}

AsioError ASIOCreateBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                            ASIOCallbacks* callbacks) {
    IAsioDriver* driver = currentDriver.load();
    if (driver == nullptr) {
        for (int32_t i = 0; i < count; ++i)
            infos[i].buffers[0] = infos[i].buffers[1] = nullptr;
        return asioNotPresent;
    }
    return driver->createBuffers(infos, count, bufferSize, callbacks);
}

AsioError ASIODisposeBuffers() {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->disposeBuffers() : asioNotPresent;
}

AsioError ASIOControlPanel() {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->controlPanel() : asioNotPresent;
}

AsioError ASIOOutputReady() {
    IAsioDriver* driver = currentDriver.load();
    return driver != nullptr ? driver->outputReady() : asioNotPresent;
}
