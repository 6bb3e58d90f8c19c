#include "FakeAudioSessions.h"

#include <algorithm>
#include <cstring>

using namespace wasapi;

namespace fake {

namespace {

void put16(std::vector<unsigned char>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<unsigned char>(v);
    bytes[at + 1] = static_cast<unsigned char>(v >> 8);
}
void put32(std::vector<unsigned char>& bytes, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

uint16_t channelsOf(const std::vector<unsigned char>& format) {
    return static_cast<uint16_t>(format[2] | format[3] << 8);
}
uint16_t bitsOf(const std::vector<unsigned char>& format) {
    return static_cast<uint16_t>(format[14] | format[15] << 8);
}
bool isFloat(const std::vector<unsigned char>& format) {
    const unsigned tag = format[0] | format[1] << 8;
    return tag == 3 || (tag == 0xFFFE && format.size() >= 26 && format[24] == 3);
}
size_t frameBytes(const std::vector<unsigned char>& format) {
    return size_t(channelsOf(format)) * bitsOf(format) / 8;
}
uint32_t rateOf(const std::vector<unsigned char>& format) {
    return static_cast<uint32_t>(format[4] | format[5] << 8 | format[6] << 16 | format[7] << 24);
}

class FakeEvent : public StreamEvent {
public:
    explicit FakeEvent(FakeSystem& owner) : system(owner) { ++system.eventsAlive; }
    ~FakeEvent() override { --system.eventsAlive; }
    bool wait(uint32_t timeoutMs) override {
        ++system.waits;
        if (system.onWait)
            system.onWait(system.waits);
        if (system.waitsBeforeTimeout == 0) {
            system.timedOutMs += timeoutMs;
            return false;
        }
        if (system.waitsBeforeTimeout > 0)
            --system.waitsBeforeTimeout;
        system.advanceOnePeriod();
        return true;
    }

private:
    FakeSystem& system;
};

class FakeRenderService : public RenderService {
public:
    explicit FakeRenderService(std::shared_ptr<FakeEndpoint> endpoint)
        : device(std::move(endpoint)) {
        buffer.reserve(device->bufferFrames * frameBytes(device->format));
    }
    Result getBuffer(uint32_t frames, unsigned char*& data) override {
        if (!device->quiet)
            device->log.push_back("getBuffer " + std::to_string(frames));
        if (!device->renderGetBufferResults.empty()) {
            const Result result = device->renderGetBufferResults.front();
            device->renderGetBufferResults.erase(device->renderGetBufferResults.begin());
            if (result != kOk)
                return result;
        }
        if (device->padding + frames > device->bufferFrames)
            return kBufferTooLarge;
        buffer.assign(frames * frameBytes(device->format), 0xA5); // never silence by itself
        data = buffer.data();
        return kOk;
    }
    Result releaseBuffer(uint32_t frames, uint32_t flags) override {
        device->padding += frames;
        if (device->quiet)
            return kOk;
        device->log.push_back("releaseBuffer " + std::to_string(frames) + " " +
                              std::to_string(flags));
        if ((flags & kBufferFlagSilent) != 0)
            std::fill(buffer.begin(), buffer.end(), 0);
        device->rendered.insert(device->rendered.end(), buffer.begin(),
                                buffer.begin() + frames * frameBytes(device->format));
        return kOk;
    }

private:
    std::shared_ptr<FakeEndpoint> device;
    std::vector<unsigned char> buffer;
};

class FakeCaptureService : public CaptureService {
public:
    explicit FakeCaptureService(std::shared_ptr<FakeEndpoint> endpoint)
        : device(std::move(endpoint)) {}
    Result getNextPacketSize(uint32_t& frames) override {
        frames = std::min(device->pendingCapture, device->periodFrames);
        return kOk;
    }
    Result getBuffer(unsigned char*& data, uint32_t& frames, uint32_t& flags) override {
        frames = std::min(device->pendingCapture, device->periodFrames);
        flags = device->capturesSilence ? kBufferFlagSilent : 0;
        const uint16_t channels = channelsOf(device->format);
        const uint16_t bits = bitsOf(device->format);
        packet.assign(frames * frameBytes(device->format), 0);
        for (uint32_t n = 0; n < frames; ++n) {
            for (uint16_t c = 0; c < channels; ++c) {
                const double value =
                    device->signal ? device->signal(device->capturedFrames + n, c) : 0.0;
                unsigned char* at = packet.data() + (size_t(n) * channels + c) * bits / 8;
                if (isFloat(device->format)) {
                    const float f = static_cast<float>(value);
                    std::memcpy(at, &f, 4);
                } else if (bits == 16) {
                    const auto v = static_cast<int16_t>(value);
                    std::memcpy(at, &v, 2);
                } else if (bits == 32) {
                    const auto v = static_cast<int32_t>(value);
                    std::memcpy(at, &v, 4);
                }
            }
        }
        data = packet.data();
        return kOk;
    }
    Result releaseBuffer(uint32_t frames) override {
        device->pendingCapture -= frames;
        device->capturedFrames += frames;
        return kOk;
    }

private:
    std::shared_ptr<FakeEndpoint> device;
    std::vector<unsigned char> packet;
};

class FakeClient : public AudioClient {
public:
    explicit FakeClient(std::shared_ptr<FakeEndpoint> endpoint) : device(std::move(endpoint)) {
        ++device->clientsAlive;
    }
    ~FakeClient() override {
        --device->clientsAlive;
        device->started = false;
    }
    Result getDevicePeriod(Duration& minimumPeriod) override {
        minimumPeriod = device->period;
        return kOk;
    }
    Result initialize(ShareMode mode, uint32_t flags, Duration duration, Duration periodicity,
                      const std::vector<unsigned char>& format) override {
        device->initializeCalls.push_back({mode, flags, duration, periodicity, format});
        if (!succeeded(device->initializeResult))
            return device->initializeResult;
        if (refusedAsNotAligned)
            return kFail;
        if (mode == ShareMode::exclusive && !initializeExclusive(duration, format))
            return kBufferSizeNotAligned;
        initialised = true;
        return kOk;
    }
    Result getBufferSize(uint32_t& frames) override {
        frames = refusedAsNotAligned ? alignedFrames : device->bufferFrames;
        return initialised || refusedAsNotAligned ? kOk : kFail;
    }
    Result getStreamLatency(Duration& latency) override {
        latency = device->streamLatency;
        return initialised && latency >= 0 ? kOk : kFail;
    }
    Result getCurrentPadding(uint32_t& frames) override {
        frames = device->padding;
        return kOk;
    }
    Result setEventHandle(StreamEvent&) override {
        device->log.push_back("setEventHandle");
        return kOk;
    }
    Result start() override {
        device->log.push_back("start");
        device->started = true;
        return kOk;
    }
    Result stop() override {
        device->log.push_back("stop");
        device->started = false;
        return kOk;
    }
    Result getRenderService(std::unique_ptr<RenderService>& service) override {
        service = std::make_unique<FakeRenderService>(device);
        return kOk;
    }
    Result getCaptureService(std::unique_ptr<CaptureService>& service) override {
        service = std::make_unique<FakeCaptureService>(device);
        return kOk;
    }

private:
    bool initializeExclusive(Duration duration, const std::vector<unsigned char>& format) {
        const auto frames =
            static_cast<uint32_t>(duration > 0 ? duration * int64_t{rateOf(format)} / 10000000 : 0);
        const uint32_t alignment = device->exclusiveAlignmentFrames;
        if (alignment != 0 && frames % alignment != 0) {
            refusedAsNotAligned = true;
            alignedFrames = (frames / alignment + 1) * alignment;
            return false;
        }
        device->bufferFrames = frames;
        device->periodFrames = frames;
        return true;
    }

    std::shared_ptr<FakeEndpoint> device;
    bool initialised = false;
    bool refusedAsNotAligned = false;
    uint32_t alignedFrames = 0;
};

class FakeStore : public PropertyStore {
public:
    explicit FakeStore(std::shared_ptr<FakeEndpoint> endpoint) : device(std::move(endpoint)) {}
    Result readText(TextProperty property, std::wstring& text) override {
        text = property == TextProperty::friendlyName ? device->name : device->description;
        return kOk;
    }
    Result readDeviceFormat(std::vector<unsigned char>& format) override {
        if (device->formatReadFails)
            return kFail;
        format = device->format;
        return kOk;
    }
    Result readFormFactor() override { return kOk; }
    Result writeDeviceFormat(const std::vector<unsigned char>& format) override {
        pending = format;
        return kOk;
    }
    Result commit() override {
        device->writtenFormat = pending;
        return kOk;
    }

private:
    std::shared_ptr<FakeEndpoint> device;
    std::vector<unsigned char> pending;
};

class FakeDevice : public Endpoint {
public:
    explicit FakeDevice(std::shared_ptr<FakeEndpoint> endpoint) : device(std::move(endpoint)) {}
    Result getId(std::wstring& id) override {
        if (device->idFails)
            return kFail;
        id = device->id;
        return kOk;
    }
    Result openPropertyStore(StoreAccess, std::unique_ptr<PropertyStore>& store) override {
        if (device->storeFails)
            return kFail;
        store = std::make_unique<FakeStore>(device);
        return kOk;
    }
    Result activate(std::unique_ptr<AudioClient>& client) override {
        ++device->activations;
        client = std::make_unique<FakeClient>(device);
        return kOk;
    }

private:
    std::shared_ptr<FakeEndpoint> device;
};

class FakeCollection : public EndpointCollection {
public:
    explicit FakeCollection(const std::vector<std::shared_ptr<FakeEndpoint>>& list)
        : endpoints(list) {}
    Result getCount(uint32_t& count) override {
        count = static_cast<uint32_t>(endpoints.size());
        return kOk;
    }
    Result item(uint32_t index, std::unique_ptr<Endpoint>& endpoint) override {
        if (index >= endpoints.size() || endpoints[index]->itemFails)
            return kFail;
        endpoint = std::make_unique<FakeDevice>(endpoints[index]);
        return kOk;
    }

private:
    std::vector<std::shared_ptr<FakeEndpoint>> endpoints;
};

class FakeEnumerator : public DeviceEnumerator {
public:
    explicit FakeEnumerator(FakeSystem& owner) : system(owner) {}
    Result enumerate(Flow flow, std::unique_ptr<EndpointCollection>& endpoints) override {
        endpoints = std::make_unique<FakeCollection>(system.endpoints[int(flow)]);
        return kOk;
    }
    Result getDefaultEndpoint(Flow flow, std::unique_ptr<Endpoint>& endpoint) override {
        for (const auto& device : system.endpoints[int(flow)]) {
            if (device->id == system.defaultId[int(flow)]) {
                endpoint = std::make_unique<FakeDevice>(device);
                return kOk;
            }
        }
        return kFail;
    }

private:
    FakeSystem& system;
};

} // namespace

std::vector<unsigned char> formatBytes(uint16_t tag, uint16_t channels, uint32_t rate,
                                       uint16_t bits, uint16_t subFormatTag) {
    std::vector<unsigned char> bytes(tag == 0xFFFE ? 40 : 18, 0);
    put16(bytes, 0, tag);
    put16(bytes, 2, channels);
    put32(bytes, 4, rate);
    put32(bytes, 8, rate * channels * bits / 8);
    put16(bytes, 12, static_cast<uint16_t>(channels * bits / 8));
    put16(bytes, 14, bits);
    if (tag == 0xFFFE) {
        put16(bytes, 16, 22);
        put16(bytes, 18, bits);
        put32(bytes, 20, channels == 2 ? 3u : 4u);
        put16(bytes, 24, subFormatTag);
    }
    return bytes;
}

std::vector<unsigned char> floatStereo48k() {
    return formatBytes(0xFFFE, 2, 48000, 32, 3);
}

FakeSystem::FakeSystem() = default;

Result FakeSystem::createEnumerator(std::unique_ptr<DeviceEnumerator>& enumerator) {
    if (enumeratorFails)
        return kFail;
    enumerator = std::make_unique<FakeEnumerator>(*this);
    return kOk;
}

std::unique_ptr<StreamEvent> FakeSystem::createEvent() {
    return std::make_unique<FakeEvent>(*this);
}

std::string FakeSystem::toMultibyte(const std::wstring& text, size_t maxBytes) {
    std::string narrow(text.begin(), text.end());
    if (narrow.size() > maxBytes)
        narrow.resize(maxBytes);
    return narrow;
}

FakeEndpoint& FakeSystem::addEndpoint(Flow flow, const std::wstring& id, const std::wstring& name,
                                      const std::wstring& description,
                                      std::vector<unsigned char> format) {
    auto endpoint = std::make_shared<FakeEndpoint>();
    endpoint->id = id;
    endpoint->name = name;
    endpoint->description = description;
    endpoint->format = std::move(format);
    endpoints[int(flow)].push_back(endpoint);
    if (defaultId[int(flow)].empty())
        defaultId[int(flow)] = id;
    return *endpoint;
}

void FakeSystem::advanceOnePeriod() {
    for (const auto& device : endpoints[int(Flow::render)]) {
        if (device->started)
            device->padding -= std::min(device->padding, device->periodFrames);
    }
    for (const auto& device : endpoints[int(Flow::capture)]) {
        if (device->started)
            device->pendingCapture += device->periodFrames;
    }
}

} // namespace fake
