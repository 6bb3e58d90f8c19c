#include "KsWASAPI.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace wasapi;

namespace {

constexpr int32_t kExclusiveBufferFrames = 256;
constexpr int32_t kSharedBufferFrames = 1024;

// Whole frames nearest to a duration in 100-nanosecond units; 0 when
// either is unknown.
int32_t framesOfDuration(Duration duration, double sampleRate) {
    if (duration <= 0 || !(sampleRate > 0.0))
        return 0;
    const double frames = std::floor(double(duration) * sampleRate / 1.0e7 + 0.5);
    return frames >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(frames);
}
constexpr size_t kMaxTextBytes = 255;
constexpr size_t kMaxFormatBytes = 40;
constexpr size_t kPlainFormatBytes = 16;
constexpr size_t kExtraSizeOffset = 16; // cbSize, the bytes that follow the first 18
constexpr size_t kFormatHeadBytes = 18;
constexpr size_t kExtensibleFormatBytes = 40;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kRewrittenValidBits = 24;

void writeLe16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void writeLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

Flow flowOf(const AudioDeviceSettings& device) {
    return device.isInput ? Flow::capture : Flow::render;
}

bool isSupportedContainer(uint16_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The facts of a stored format; all zero (an unsupported type) when it is
// too short to hold them.
DeviceFormat formatFacts(const std::vector<unsigned char>& format) {
    DeviceFormat facts;
    if (!readDeviceFormat(format.data(), format.size(), facts))
        facts = DeviceFormat{};
    return facts;
}

uint16_t readLe16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The system trusts cbSize: it must not claim bytes the cut copy lacks.
void clampExtraSize(std::vector<unsigned char>& format) {
    if (format.size() < kFormatHeadBytes) {
        // Half a cbSize would be read as a claim of up to 255 bytes.
        format.resize(std::min(format.size(), kExtraSizeOffset));
        return;
    }
    const auto held = static_cast<uint16_t>(format.size() - kFormatHeadBytes);
    if (readLe16(format.data() + kExtraSizeOffset) > held)
        writeLe16(format.data() + kExtraSizeOffset, held);
}

// Channel n (from 1) of an endpoint: its description, the direction and n.
std::vector<std::string> channelNamesFor(const std::string& description, bool isInput,
                                         uint16_t channelCount) {
    std::vector<std::string> names;
    for (uint16_t n = 1; n <= channelCount; ++n)
        names.push_back(description + (isInput ? " In " : " Out ") + std::to_string(n));
    return names;
}

} // namespace

KsWASAPI::KsWASAPI() : KsWASAPI(createSystem()) {}

KsWASAPI::KsWASAPI(std::unique_ptr<System> audioSystem) : system(std::move(audioSystem)) {
    system->initializeThread();
    devices.clear();
    enumerate(Flow::render);
    enumerate(Flow::capture);
}

KsWASAPI::~KsWASAPI() {
    releaseStreams();
}

void KsWASAPI::enumerate(Flow flow) {
    std::unique_ptr<DeviceEnumerator> enumerator;
    if (!succeeded(system->createEnumerator(enumerator)))
        return;
    std::unique_ptr<EndpointCollection> endpoints;
    uint32_t count = 0;
    std::unique_ptr<Endpoint> defaultEndpoint;
    std::wstring defaultId;
    if (!succeeded(enumerator->enumerate(flow, endpoints)) ||
        !succeeded(endpoints->getCount(count)) ||
        !succeeded(enumerator->getDefaultEndpoint(flow, defaultEndpoint)) ||
        !succeeded(defaultEndpoint->getId(defaultId)))
        return; // without a default endpoint nothing of this flow is listed
    for (uint32_t index = 0; index < count; ++index) {
        std::unique_ptr<Endpoint> endpoint;
        if (!succeeded(endpoints->item(index, endpoint)))
            continue;
        bool endEnumeration = false;
        listEndpoint(*endpoint, flow, defaultId, endEnumeration);
        if (endEnumeration)
            return;
    }
}

void KsWASAPI::listEndpoint(Endpoint& endpoint, Flow flow, const std::wstring& defaultId,
                            bool& endEnumeration) {
    std::unique_ptr<PropertyStore> store;
    if (!succeeded(endpoint.openPropertyStore(StoreAccess::read, store)))
        return;
    std::wstring id;
    if (!succeeded(endpoint.getId(id))) {
        endEnumeration = true;
        return;
    }
    std::wstring name;
    std::wstring description;
    std::vector<unsigned char> format;
    if (!succeeded(store->readText(TextProperty::friendlyName, name)) ||
        !succeeded(store->readText(TextProperty::deviceDescription, description)) ||
        !succeeded(store->readDeviceFormat(format)) || !succeeded(store->readFormFactor()))
        return;
    DeviceFormat facts;
    if (!readDeviceFormat(format.data(), std::min(format.size(), kMaxFormatBytes), facts))
        return; // too short to hold channels, rate and bits

    AudioDeviceSettings entry;
    entry.id = system->toMultibyte(id, kMaxTextBytes);
    entry.name = system->toMultibyte(name, kMaxTextBytes);
    entry.isInput = flow == Flow::capture;
    entry.isDefault = id == defaultId;
    entry.channelCount = facts.channels;
    entry.sampleRate = static_cast<double>(facts.sampleRate);
    entry.bitsPerSample = facts.bitsPerSample;
    entry.channelNames = channelNamesFor(system->toMultibyte(description, kMaxTextBytes),
                                         entry.isInput, facts.channels);
    for (int32_t type : {audioDeviceWasapiExclusive, audioDeviceWasapiShared}) {
        auto listed = std::make_unique<AudioDeviceSettings>(entry);
        listed->type = type;
        listed->bufferSize =
            type == audioDeviceWasapiExclusive ? kExclusiveBufferFrames : kSharedBufferFrames;
        devices.push_back(std::move(listed));
    }
}

std::unique_ptr<Endpoint> KsWASAPI::findEndpoint(const AudioDeviceSettings& device) {
    system->initializeThread();
    std::unique_ptr<DeviceEnumerator> enumerator;
    std::unique_ptr<EndpointCollection> endpoints;
    uint32_t count = 0;
    if (!succeeded(system->createEnumerator(enumerator)) ||
        !succeeded(enumerator->enumerate(flowOf(device), endpoints)) ||
        !succeeded(endpoints->getCount(count)))
        return nullptr;
    for (uint32_t index = 0; index < count; ++index) {
        std::unique_ptr<Endpoint> endpoint;
        std::unique_ptr<PropertyStore> store;
        if (!succeeded(endpoints->item(index, endpoint)) ||
            !succeeded(endpoint->openPropertyStore(StoreAccess::read, store)))
            continue;
        std::wstring id;
        if (!succeeded(endpoint->getId(id)))
            return nullptr;
        if (system->toMultibyte(id, kMaxTextBytes) == device.id)
            return endpoint;
    }
    return nullptr;
}

bool KsWASAPI::readStreamFormat(Endpoint& endpoint, std::vector<unsigned char>& format) {
    std::unique_ptr<PropertyStore> store;
    if (!succeeded(endpoint.openPropertyStore(StoreAccess::read, store)) ||
        !succeeded(store->readDeviceFormat(format)))
        return false;
    if (format.size() > kMaxFormatBytes)
        format.resize(kMaxFormatBytes);
    clampExtraSize(format);
    return format.size() >= kPlainFormatBytes;
}

// The longest whole number of half-milliseconds whose whole frames are no
// more than `frames`. A size the device gave for such a duration thus gives
// that duration again, so reopening never shrinks the buffer.
wasapi::Duration KsWASAPI::exclusiveBufferDuration(int32_t frames, uint32_t sampleRate) {
    if (sampleRate == 0 || frames <= 0)
        return 0;
    const int64_t halfMilliseconds = ((static_cast<int64_t>(frames) + 1) * 2000 - 1) / sampleRate;
    return halfMilliseconds * 5000;
}

// Rounded up to a whole unit, so that a device that cuts its duration down
// to whole frames still finds all of them.
wasapi::Duration KsWASAPI::durationOfFrames(uint32_t frames, uint32_t sampleRate) {
    if (sampleRate == 0)
        return 0;
    return (static_cast<int64_t>(frames) * 10000000 + sampleRate - 1) / sampleRate;
}

// Capture is always shared, one device period long.
bool KsWASAPI::initializeCapture(const AudioDeviceSettings& device, AudioClient& client,
                                 const std::vector<unsigned char>& format,
                                 std::unique_ptr<CaptureService>& service) {
    Duration minimumPeriod = 0;
    if (!succeeded(client.getDevicePeriod(minimumPeriod)) ||
        device.type == audioDeviceWasapiExclusive)
        return false;
    return succeeded(client.initialize(ShareMode::shared, kStreamFlagEventCallback, minimumPeriod,
                                       0, format)) &&
           succeeded(client.getCaptureService(service));
}

bool KsWASAPI::initializeRender(const AudioDeviceSettings& device, AudioClient& client,
                                const std::vector<unsigned char>& format,
                                std::unique_ptr<RenderService>& service) {
    Result result = kFail;
    if (device.type == audioDeviceWasapiExclusive) {
        const Duration duration =
            exclusiveBufferDuration(device.bufferSize, formatFacts(format).sampleRate);
        result = client.initialize(ShareMode::exclusive, kStreamFlagEventCallback, duration,
                                   duration, format);
    } else {
        result = client.initialize(ShareMode::shared, kStreamFlagEventCallback, 0, 0, format);
    }
    return succeeded(result) && succeeded(client.getRenderService(service));
}

bool KsWASAPI::StreamOwner::is(const AudioDeviceSettings& device) const {
    return id == device.id && type == device.type;
}

void KsWASAPI::releaseCapture() {
    captureService.reset();
    captureClient.reset();
    captureOwner = StreamOwner{};
}

void KsWASAPI::releaseRender() {
    renderService.reset();
    renderClient.reset();
    renderOwner = StreamOwner{};
}

// Kept stream objects serve only the entry they were made for: another
// device (or the same one in the other mode) gets streams of its own.
void KsWASAPI::keepStreamsOnlyFor(const AudioDeviceSettings& device, bool capture) {
    if (capture && (captureClient || captureService) && !captureOwner.is(device))
        releaseCapture();
    if (!capture && (renderClient || renderService) && !renderOwner.is(device))
        releaseRender();
}

bool KsWASAPI::open(AudioDeviceSettings* device, bool probeOnly) {
    if (device == nullptr)
        return false;
    if (!probeOnly)
        keepStreamsOnlyFor(*device, device->isInput);
    // Opened for a start, an exclusive output asks the device every time:
    // its size may have been changed, and the block the plug-in is told
    // must be the one the stream gives.
    if (!probeOnly && device->type == audioDeviceWasapiExclusive && !device->isInput)
        return openExclusiveRender(*device);
    if (device->infoValid)
        return true;
    // A container the stream cannot convert is refused here, not at the
    // first block.
    if (!isSupportedContainer(device->bitsPerSample))
        return false;
    if (device->type == audioDeviceWasapiShared && !openShared(*device, probeOnly))
        return false;
    if (device->bufferSize == 0)
        return false;
    device->infoValid = true;
    return true;
}

bool KsWASAPI::openShared(AudioDeviceSettings& device, bool probeOnly) {
    std::unique_ptr<Endpoint> endpoint = findEndpoint(device);
    std::unique_ptr<AudioClient> client;
    std::vector<unsigned char> format;
    if (!probeOnly) { // replaced on success, cleared on failure
        if (device.isInput)
            releaseCapture();
        else
            releaseRender();
    }
    if (endpoint == nullptr || !succeeded(endpoint->activate(client)) ||
        !readStreamFormat(*endpoint, format) ||
        deviceSampleType(formatFacts(format)) == DeviceSampleType::unsupported)
        return false;
    std::unique_ptr<CaptureService> capture;
    std::unique_ptr<RenderService> render;
    const bool initialised = device.isInput ? initializeCapture(device, *client, format, capture)
                                            : initializeRender(device, *client, format, render);
    if (!initialised)
        return false;
    device.bufferSize = 0;
    uint32_t frames = 0;
    if (succeeded(client->getBufferSize(frames)))
        device.bufferSize = static_cast<int32_t>(frames);
    Duration latency = 0;
    device.latency = succeeded(client->getStreamLatency(latency))
                         ? framesOfDuration(latency, device.sampleRate)
                         : 0;
    if (!probeOnly) {
        const StreamOwner owner{device.id, device.type};
        if (device.isInput) {
            captureClient = std::move(client);
            captureService = std::move(capture);
            captureOwner = owner;
        } else {
            renderClient = std::move(client);
            renderService = std::move(render);
            renderOwner = owner;
        }
    }
    return true;
}

// Initialises an exclusive render stream for the entry's size and makes the
// entry's size the frames of its buffer, so the plug-in is told the block
// every event asks for. The stream is kept for the start.
bool KsWASAPI::openExclusiveRender(AudioDeviceSettings& device) {
    releaseRender(); // replaced on success, cleared on failure
    if (!isSupportedContainer(device.bitsPerSample) || device.bufferSize <= 0)
        return false;
    std::unique_ptr<Endpoint> endpoint = findEndpoint(device);
    std::unique_ptr<AudioClient> client;
    std::vector<unsigned char> format;
    if (endpoint == nullptr || !succeeded(endpoint->activate(client)) ||
        !readStreamFormat(*endpoint, format) ||
        deviceSampleType(formatFacts(format)) == DeviceSampleType::unsupported)
        return false;
    const uint32_t rate = formatFacts(format).sampleRate;
    Duration duration = exclusiveBufferDuration(device.bufferSize, rate);
    Result result = client->initialize(ShareMode::exclusive, kStreamFlagEventCallback, duration,
                                       duration, format);
    if (result == kBufferSizeNotAligned) {
        // The refused client names the aligned size; only a new client
        // may be initialised with its duration.
        uint32_t aligned = 0;
        if (!succeeded(client->getBufferSize(aligned)) || aligned == 0)
            return false;
        duration = durationOfFrames(aligned, rate);
        client.reset();
        if (!succeeded(endpoint->activate(client)))
            return false;
        result = client->initialize(ShareMode::exclusive, kStreamFlagEventCallback, duration,
                                    duration, format);
    }
    std::unique_ptr<RenderService> service;
    uint32_t frames = 0;
    if (!succeeded(result) || !succeeded(client->getRenderService(service)) ||
        !succeeded(client->getBufferSize(frames)) || frames == 0 || frames > INT32_MAX)
        return false;
    device.bufferSize = static_cast<int32_t>(frames);
    device.infoValid = true;
    renderClient = std::move(client);
    renderService = std::move(service);
    renderOwner = StreamOwner{device.id, device.type};
    return true;
}

void KsWASAPI::stop() {
    freeChannelBuffers();
}

void KsWASAPI::releaseStreams() {
    releaseCapture();
    releaseRender();
}

// Activates and initialises what the stream of one direction still lacks
// and fixes what the loop needs to know of it.
bool KsWASAPI::prepareStream(const AudioDeviceSettings& device, bool capture, StreamSide& side) {
    keepStreamsOnlyFor(device, capture);
    (capture ? captureOwner : renderOwner) = StreamOwner{device.id, device.type};
    std::unique_ptr<Endpoint> endpoint = findEndpoint(device);
    std::unique_ptr<AudioClient>& client = capture ? captureClient : renderClient;
    std::vector<unsigned char> format;
    if (endpoint == nullptr || (!client && !succeeded(endpoint->activate(client))) ||
        !readStreamFormat(*endpoint, format))
        return false;
    const bool initialised =
        capture ? captureService || initializeCapture(device, *client, format, captureService)
                : renderService || initializeRender(device, *client, format, renderService);
    if (!initialised)
        return false;
    const DeviceFormat facts = formatFacts(format);
    side.sampleType = deviceSampleType(facts);
    side.channels = ChannelMap{facts.channels, device.leftChannel, device.rightChannel};
    side.bufferFrames = static_cast<uint32_t>(std::max(device.bufferSize, 0));
    side.shared = capture || device.type != audioDeviceWasapiExclusive;
    return side.sampleType != DeviceSampleType::unsupported;
}

// One buffer of silence ahead of the first block. The system's buffer
// holds whatever was there before, so it is marked silent, never played.
bool KsWASAPI::preRoll(const StreamSide& output) {
    unsigned char* data = nullptr;
    return succeeded(renderService->getBuffer(output.bufferFrames, data)) &&
           succeeded(renderService->releaseBuffer(output.bufferFrames, kBufferFlagSilent));
}

bool KsWASAPI::start(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice,
                     AudioCallback callback, void* userData) {
    stop();
    if (outputDevice == nullptr || callback == nullptr)
        return false;
    StreamSide input;
    StreamSide output;
    if (inputDevice != nullptr) {
        if (!prepareStream(*inputDevice, true, input)) {
            releaseStreams();
            return false;
        }
    } else {
        releaseCapture();
    }
    const int32_t frames =
        std::max(inputDevice ? inputDevice->bufferSize : 0, outputDevice->bufferSize);
    std::unique_ptr<StreamEvent> event;
    bool ready = prepareStream(*outputDevice, false, output) && frames > 0 &&
                 allocateChannelBuffers(static_cast<size_t>(frames));
    if (ready) {
        event = system->createEvent();
        ready = event != nullptr && succeeded(renderClient->setEventHandle(*event)) &&
                (!captureClient || succeeded(captureClient->setEventHandle(*event))) &&
                preRoll(output) && succeeded(renderClient->start()) &&
                (!captureClient || succeeded(captureClient->start()));
    }
    LoopEnd end = LoopEnd::failure;
    if (ready)
        end = captureService ? runCaptureLoop(*event, input, output, callback, userData)
                             : runRenderLoop(*event, output, callback, userData);
    if (end == LoopEnd::orderly)
        return endInOrder();
    // A failed start closes its event (with `event`) and leaves the driver
    // idle: no stream objects, no channel buffers.
    releaseStreams();
    freeChannelBuffers();
    return false;
}

KsWASAPI::LoopEnd KsWASAPI::runCaptureLoop(StreamEvent& event, const StreamSide& input,
                                           const StreamSide& output, AudioCallback callback,
                                           void* userData) {
    // The plug-in was told the output's block size: a larger capture packet
    // is cut to it, not handed over whole.
    const uint32_t capacity = std::min(static_cast<uint32_t>(channelBufferFrames),
                                       output.bufferFrames > 0 ? output.bufferFrames : UINT32_MAX);
    bool continueStream = true;
    while (continueStream) {
        const Wake wake = waitForDevice(event);
        if (wake == Wake::timedOut)
            return LoopEnd::failure;
        uint32_t packetFrames = 0;
        if (wake == Wake::stopRequested ||
            !succeeded(captureService->getNextPacketSize(packetFrames)) || packetFrames == 0) {
            // Without packets the callback never runs: a capture device that
            // has stopped delivering must not keep the stream from ending.
            if (stopRequested())
                return handOverStopRequest(callback, userData);
            continue;
        }
        unsigned char* packet = nullptr;
        uint32_t flags = 0;
        if (!succeeded(captureService->getBuffer(packet, packetFrames, flags)))
            return LoopEnd::failure;
        const uint32_t frames =
            (flags & kBufferFlagSilent) != 0
                ? silenceChannelBuffers(std::min(packetFrames, capacity))
                : convertCapture(input.sampleType, packet, packetFrames, input.channels,
                                 channelBuffers[0], channelBuffers[1], capacity);
        captureService->releaseBuffer(packetFrames);
        continueStream = callback(channelBuffers, channelBuffers, frames, userData);
        // The block that ends the stream was not processed: its arrays still
        // hold the captured input, which would play dry.
        if (!continueStream)
            return LoopEnd::orderly;
        const Wake renderWake = waitForDevice(event);
        if (renderWake == Wake::timedOut)
            return LoopEnd::failure;
        if (renderWake == Wake::stopRequested)
            return handOverStopRequest(callback, userData);
        if (!renderPacket(output, frames))
            return LoopEnd::failure;
    }
    return LoopEnd::orderly;
}

// Waits for the stream event up to the event time-out in all, in slices,
// and looks at the stop request whenever a slice passes without a signal.
KsWASAPI::Wake KsWASAPI::waitForDevice(StreamEvent& event) const {
    for (uint32_t waited = 0; waited < kEventWaitMs; waited += kEventSliceMs) {
        if (event.wait(std::min(kEventSliceMs, kEventWaitMs - waited)))
            return Wake::signalled;
        if (stopRequested())
            return Wake::stopRequested;
    }
    return Wake::timedOut;
}

// The caller consumes its request in the callback: a block of no frames
// carries it there, then the stream ends in order.
KsWASAPI::LoopEnd KsWASAPI::handOverStopRequest(AudioCallback callback, void* userData) {
    callback(channelBuffers, channelBuffers, 0, userData);
    return LoopEnd::orderly;
}

uint32_t KsWASAPI::silenceChannelBuffers(uint32_t frames) {
    std::fill_n(channelBuffers[0], frames, 0.0f);
    std::fill_n(channelBuffers[1], frames, 0.0f);
    return frames;
}

// The output of one captured packet; a full shared buffer or a system
// that cannot take the frames now skips it.
bool KsWASAPI::renderPacket(const StreamSide& output, uint32_t frames) {
    if (output.shared) {
        uint32_t queued = 0;
        if (succeeded(renderClient->getCurrentPadding(queued)) && queued >= output.bufferFrames)
            return true;
    }
    unsigned char* data = nullptr;
    const Result result = renderService->getBuffer(frames, data);
    if (result == kBufferTooLarge)
        return true;
    if (!succeeded(result))
        return false;
    if (!convertRender(output.sampleType, channelBuffers[0], channelBuffers[1], frames,
                       output.channels, data))
        return false;
    return succeeded(renderService->releaseBuffer(frames, 0));
}

KsWASAPI::LoopEnd KsWASAPI::runRenderLoop(StreamEvent& event, const StreamSide& output,
                                          AudioCallback callback, void* userData) {
    for (;;) {
        const Wake wake = waitForDevice(event);
        if (wake == Wake::timedOut)
            return LoopEnd::failure;
        if (wake == Wake::stopRequested)
            return handOverStopRequest(callback, userData);
        uint32_t frames = output.bufferFrames;
        if (output.shared) {
            uint32_t queued = 0;
            if (!succeeded(renderClient->getCurrentPadding(queued)))
                return LoopEnd::failure;
            if (queued > output.bufferFrames) {
                // An endpoint that signals without taking frames runs no
                // callback, so the stop request is handed over here.
                if (stopRequested())
                    return handOverStopRequest(callback, userData);
                continue;
            }
            frames = output.bufferFrames - queued;
        }
        unsigned char* data = nullptr;
        const Result result = renderService->getBuffer(frames, data);
        if (result == kBufferTooLarge) {
            if (stopRequested())
                return handOverStopRequest(callback, userData);
            continue;
        }
        if (!succeeded(result))
            return LoopEnd::failure;
        if (!callback(channelBuffers, channelBuffers, frames, userData))
            return LoopEnd::orderly;
        if (!convertRender(output.sampleType, channelBuffers[0], channelBuffers[1], frames,
                           output.channels, data) ||
            !succeeded(renderService->releaseBuffer(frames, 0)))
            return LoopEnd::failure;
    }
}

// Lets the last buffer play for one device period, then stops and
// releases both streams. Without a period the end counts as a failure, but
// the streams are stopped all the same: none is left running.
bool KsWASAPI::endInOrder() {
    Duration period = 0;
    const bool periodKnown = succeeded(renderClient->getDevicePeriod(period));
    if (periodKnown)
        system->sleepMs(static_cast<uint32_t>(period / 10000));
    renderClient->stop();
    if (captureClient)
        captureClient->stop();
    releaseStreams();
    return periodKnown;
}

bool KsWASAPI::matchFormats(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice) {
    if (inputDevice == nullptr || outputDevice == nullptr)
        return false;
    AudioDeviceSettings& input = *inputDevice;
    AudioDeviceSettings& output = *outputDevice;
    if (input.sampleRate == output.sampleRate && input.bitsPerSample == output.bitsPerSample)
        return true;
    const bool comparable = input.sampleRate == input.sampleRate &&
                            output.sampleRate == output.sampleRate; // NaN never equals itself
    if (!comparable || input.sampleRate < output.sampleRate ||
        input.bitsPerSample < output.bitsPerSample)
        return rewriteFormat(input, output, input);
    if (input.sampleRate > output.sampleRate || output.bitsPerSample < input.bitsPerSample)
        return rewriteFormat(output, input, output);
    return false;
}

std::vector<unsigned char> rewrittenDeviceFormat(const std::vector<unsigned char>& stored,
                                                 uint32_t sampleRate, uint16_t bitsPerSample) {
    std::vector<unsigned char> format(
        stored.begin(),
        stored.begin() + static_cast<std::ptrdiff_t>(std::min(stored.size(), kMaxFormatBytes)));
    if (format.size() < kPlainFormatBytes)
        return {};
    const DeviceFormat facts = formatFacts(format);
    const uint16_t channels = facts.channels;
    writeLe32(format.data() + 4, sampleRate);
    writeLe32(format.data() + 8, uint32_t{bitsPerSample} * channels * sampleRate / 8);
    writeLe16(format.data() + 12, static_cast<uint16_t>(bitsPerSample / 8 * channels));
    writeLe16(format.data() + 14, bitsPerSample);
    // Only an extensible format has a valid-bits field; in a shorter one
    // byte 18 is something else (or beyond the end).
    if (facts.formatTag == kTagExtensible && format.size() >= kExtensibleFormatBytes) {
        const bool isFloat = facts.subFormatTag == kTagFloat;
        const uint16_t validBits =
            isFloat ? bitsPerSample : std::min(kRewrittenValidBits, bitsPerSample);
        writeLe16(format.data() + 18, validBits);
    }
    return format;
}

bool KsWASAPI::rewriteFormat(const AudioDeviceSettings& target, const AudioDeviceSettings& source,
                             AudioDeviceSettings& targetEntry) {
    std::unique_ptr<DeviceEnumerator> enumerator;
    std::unique_ptr<EndpointCollection> endpoints;
    uint32_t count = 0;
    if (!succeeded(system->createEnumerator(enumerator)) ||
        !succeeded(enumerator->enumerate(flowOf(target), endpoints)) ||
        !succeeded(endpoints->getCount(count)) || count == 0)
        return false;
    for (uint32_t index = 0; index < count; ++index) {
        std::unique_ptr<Endpoint> endpoint;
        std::unique_ptr<PropertyStore> store;
        if (!succeeded(endpoints->item(index, endpoint)) ||
            !succeeded(endpoint->openPropertyStore(StoreAccess::readWrite, store)))
            continue;
        std::wstring id;
        if (!succeeded(endpoint->getId(id)))
            return false;
        if (system->toMultibyte(id, kMaxTextBytes) != target.id)
            continue;
        std::vector<unsigned char> stored;
        if (!succeeded(store->readDeviceFormat(stored)))
            return false;
        const double rate = source.sampleRate;
        const auto newRate = rate > 0.0 && rate < 4294967296.0 ? static_cast<uint32_t>(rate) : 0u;
        const std::vector<unsigned char> format =
            rewrittenDeviceFormat(stored, newRate, source.bitsPerSample);
        targetEntry.sampleRate = source.sampleRate;
        targetEntry.bitsPerSample = source.bitsPerSample;
        targetEntry.bufferSize = source.bufferSize;
        if (format.empty() || !succeeded(store->writeDeviceFormat(format)))
            return false;
        return succeeded(store->commit());
    }
    return false;
}
