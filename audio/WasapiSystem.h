#pragma once

// The few calls of the Windows audio session API the WASAPI driver makes,
// as small interfaces: the Windows implementation forwards each to its COM
// object, and tests give their own endpoints to run the driver's logic on
// any system. Results are HRESULT values; releasing an object is deleting it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wasapi {

using Result = int32_t;
inline bool succeeded(Result result) {
    return result >= 0;
}

constexpr Result kOk = 0;
constexpr Result kFail = static_cast<Result>(0x80004005);
constexpr Result kBufferTooLarge = static_cast<Result>(0x88890006);
constexpr Result kDeviceInUse = static_cast<Result>(0x8889000A);
constexpr Result kBufferSizeNotAligned = static_cast<Result>(0x88890019);

enum class Flow { render = 0, capture = 1 };
enum class ShareMode { shared = 0, exclusive = 1 };
enum class StoreAccess { read = 0, readWrite = 2 };

constexpr uint32_t kStreamFlagEventCallback = 0x40000;
constexpr uint32_t kBufferFlagSilent = 2;
constexpr uint32_t kEventWaitMs = 2000;
// The event is waited for in slices of this length, up to kEventWaitMs in
// all, so that a stop request is seen while the device is quiet.
constexpr uint32_t kEventSliceMs = 20;

// Durations are in 100-nanosecond units.
using Duration = int64_t;

// The auto-reset event both streams signal.
class StreamEvent {
public:
    virtual ~StreamEvent() = default;
    // True when signalled within `timeoutMs`.
    virtual bool wait(uint32_t timeoutMs) = 0;
};

class RenderService {
public:
    virtual ~RenderService() = default;
    virtual Result getBuffer(uint32_t frames, unsigned char*& data) = 0;
    virtual Result releaseBuffer(uint32_t frames, uint32_t flags) = 0;
};

class CaptureService {
public:
    virtual ~CaptureService() = default;
    virtual Result getNextPacketSize(uint32_t& frames) = 0;
    // `flags` may hold kBufferFlagSilent: the packet is silence, whatever
    // its bytes hold.
    virtual Result getBuffer(unsigned char*& data, uint32_t& frames, uint32_t& flags) = 0;
    virtual Result releaseBuffer(uint32_t frames) = 0;
};

class AudioClient {
public:
    virtual ~AudioClient() = default;
    virtual Result getDevicePeriod(Duration& minimumPeriod) = 0;
    // `format` holds at most 40 bytes, and its own length (cbSize) never
    // claims more than it holds.
    virtual Result initialize(ShareMode mode, uint32_t streamFlags, Duration bufferDuration,
                              Duration periodicity, const std::vector<unsigned char>& format) = 0;
    virtual Result getBufferSize(uint32_t& frames) = 0;
    virtual Result getCurrentPadding(uint32_t& frames) = 0;
    // The most a sample waits in the stream once initialised.
    virtual Result getStreamLatency(Duration& latency) {
        latency = 0;
        return kFail;
    }
    virtual Result setEventHandle(StreamEvent& event) = 0;
    virtual Result start() = 0;
    virtual Result stop() = 0;
    virtual Result getRenderService(std::unique_ptr<RenderService>& service) = 0;
    virtual Result getCaptureService(std::unique_ptr<CaptureService>& service) = 0;
};

enum class TextProperty { friendlyName, deviceDescription };

class PropertyStore {
public:
    virtual ~PropertyStore() = default;
    virtual Result readText(TextProperty property, std::wstring& text) = 0;
    // The stored device format, whole.
    virtual Result readDeviceFormat(std::vector<unsigned char>& format) = 0;
    virtual Result readFormFactor() = 0;
    virtual Result writeDeviceFormat(const std::vector<unsigned char>& format) = 0;
    virtual Result commit() = 0;
};

class Endpoint {
public:
    virtual ~Endpoint() = default;
    virtual Result getId(std::wstring& id) = 0;
    virtual Result openPropertyStore(StoreAccess access, std::unique_ptr<PropertyStore>& store) = 0;
    virtual Result activate(std::unique_ptr<AudioClient>& client) = 0;
};

class EndpointCollection {
public:
    virtual ~EndpointCollection() = default;
    virtual Result getCount(uint32_t& count) = 0;
    virtual Result item(uint32_t index, std::unique_ptr<Endpoint>& endpoint) = 0;
};

class DeviceEnumerator {
public:
    virtual ~DeviceEnumerator() = default;
    // The active endpoints of one flow.
    virtual Result enumerate(Flow flow, std::unique_ptr<EndpointCollection>& endpoints) = 0;
    virtual Result getDefaultEndpoint(Flow flow, std::unique_ptr<Endpoint>& endpoint) = 0;
};

class System {
public:
    virtual ~System() = default;
    // Initialises COM on the calling thread (apartment model).
    virtual void initializeThread() = 0;
    virtual Result createEnumerator(std::unique_ptr<DeviceEnumerator>& enumerator) = 0;
    virtual std::unique_ptr<StreamEvent> createEvent() = 0;
    // The system's multibyte text of a wide text, at most `maxBytes` bytes.
    virtual std::string toMultibyte(const std::wstring& text, size_t maxBytes) = 0;
    virtual void sleepMs(uint32_t milliseconds) = 0;
};

// The system's audio session API; on systems without one, a system that
// lists no endpoints.
std::unique_ptr<System> createSystem();

} // namespace wasapi
