#pragma once

// The installed ASIO drivers, the one that is loaded, and the host calls
// that forward to it.
//
// All list operations, loading and unloading run on the window thread. The
// loaded driver is process-wide (`currentDriver`); while a stream runs the
// driver's own thread also makes the calls `ASIOGetSamplePosition` and
// `ASIOOutputReady`, and the window thread neither loads nor unloads.

#include "AsioInterface.h"

#include <atomic>
#include <cstdint>
#include <string>

// Results of the list operations besides 0 and the system's errors.
enum AsioListResult : int32_t {
    asioListInvalidParameter = -5001,
    asioListDriverAlreadyCreated = -5002,
    asioListNoSuchDriver = -5003,
};

struct AsioDriverEntry {
    int32_t number = 0;
    AsioClassId classId{};
    std::string name;
    IAsioDriver* driver = nullptr;
    AsioDriverEntry* next = nullptr;
};

class AsioDriverList {
public:
    // Walks the registrations once (AsioRegistration.h).
    AsioDriverList();
    virtual ~AsioDriverList();
    AsioDriverList(const AsioDriverList&) = delete;
    AsioDriverList& operator=(const AsioDriverList&) = delete;

    int32_t driverCount() const { return count; }
    // Copies the name into `buffer` of `size` bytes; a name that does not
    // fit ends in "..." and fills the buffer exactly. A buffer of fewer than
    // 4 bytes takes as many dots as fit before the NUL.
    int32_t getDriverName(int32_t number, char* buffer, int32_t size) const;
    int32_t openDriver(int32_t number, IAsioDriver** driver);
    int32_t closeDriver(int32_t number);

protected:
    AsioDriverEntry* entryOf(int32_t number) const;

    AsioDriverEntry* entries = nullptr;
    int32_t count = 0;
};

class AsioDrivers : public AsioDriverList {
public:
    ~AsioDrivers() override;
    // Makes the driver of that display name the loaded one, releasing the
    // loaded one first; on failure the previous driver is loaded again.
    bool loadDriver(const std::string& name);
    void unloadCurrentDriver();

    int32_t currentIndex = -1;
};

// The loaded driver, or none.
inline std::atomic<IAsioDriver*> currentDriver{nullptr};

// The host calls: each forwards to `currentDriver` and returns
// `asioNotPresent` when there is none, after filling its outputs with the
// stated fallbacks.
AsioError ASIOInit(ASIODriverInfo* info);
AsioError ASIOStart();
AsioError ASIOStop();
AsioError ASIOGetChannels(int32_t* inputs, int32_t* outputs);
AsioError ASIOGetLatencies(int32_t* input, int32_t* output);
AsioError ASIOGetBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity);
AsioError ASIOGetSampleRate(double* rate);
AsioError ASIOGetSamplePosition(ASIOSamples* position, ASIOTimeStamp* time);
AsioError ASIOGetChannelInfo(ASIOChannelInfo* info);
AsioError ASIOCreateBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                            ASIOCallbacks* callbacks);
AsioError ASIODisposeBuffers();
AsioError ASIOControlPanel();
AsioError ASIOOutputReady();
