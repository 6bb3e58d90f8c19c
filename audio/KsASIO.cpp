#include "KsASIO.h"

#include "AsioRegistration.h"
#include "AsioSamples.h"
#include "Clock.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kEntryBufferSize = 512;
constexpr size_t kNameBytes = 256;
constexpr size_t kMinChannelInfos = 64;
// Beyond these a driver's figures are nonsense (the entry counts channels in
// 16 bits) and would size arrays no machine holds.
constexpr int32_t kMostChannels = 65535;
constexpr int32_t kMostFrames = 1 << 20;
constexpr uint32_t kStopPauseMs = 100;
constexpr uint32_t kBlockEndCheckMs = 1;
constexpr uint32_t kBlockEndWaitMs = 2000;

// Which of the two float arrays the next selected channel of a walk takes.
struct ArrayCursor {
    int next = 0;
    bool written[2] = {false, false};
};

} // namespace

int32_t asioMessageAnswer(int32_t selector, int32_t value) {
    switch (selector) {
    case kAsioSelectorSupported:
        switch (value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
        case kAsioSupportsInputMonitor:
            return 1;
        default:
            return 0;
        }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
    case kAsioResyncRequest:
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
        return 1;
    default:
        return 0;
    }
}

KsASIO::KsASIO() {
    instance.store(this);
    callbacks.bufferSwitch = &KsASIO::bufferSwitch;
    callbacks.sampleRateDidChange = &KsASIO::sampleRateDidChange;
    callbacks.asioMessage = &KsASIO::asioMessage;
    callbacks.bufferSwitchTimeInfo = &KsASIO::bufferSwitchTimeInfo;
    channelInfos.resize(kMinChannelInfos);
    listDevices();
}

KsASIO::~KsASIO() {
    // The driver's thread must never reach a destroyed object.
    if (running)
        stop();
    KsASIO* self = this;
    instance.compare_exchange_strong(self, nullptr);
}

void KsASIO::listDevices() {
    devices.clear();
    initializeAsioThread();
    for (int32_t number = 0; number < drivers.driverCount(); ++number) {
        char name[kNameBytes];
        if (drivers.getDriverName(number, name, sizeof name) != 0)
            return;
        for (bool isInput : {true, false}) {
            auto entry = std::make_unique<AudioDeviceSettings>();
            entry->index = number;
            entry->type = audioDeviceAsio;
            entry->name = name;
            entry->isInput = isInput;
            entry->bufferSize = kEntryBufferSize;
            devices.push_back(std::move(entry));
        }
    }
}

bool KsASIO::driverName(const AudioDeviceSettings* device, char* name) {
    return device != nullptr && device->index >= 0 && device->index < drivers.driverCount() &&
           drivers.getDriverName(device->index, name, kNameBytes) == 0;
}

bool KsASIO::initDriver() {
    std::memset(&driverInfo, 0, sizeof driverInfo);
    minSize = maxSize = preferredSize = granularity = 0;
    if (ASIOInit(&driverInfo) != asioOk ||
        ASIOGetChannels(&inputChannels, &outputChannels) != asioOk ||
        ASIOGetBufferSize(&minSize, &maxSize, &preferredSize, &granularity) != asioOk)
        return false;
    // A driver's figures size arrays the block writes: refuse impossible ones.
    if (inputChannels < 0 || outputChannels < 0 || inputChannels > kMostChannels ||
        outputChannels > kMostChannels || maxSize <= 0 || maxSize > kMostFrames ||
        preferredSize <= 0 || preferredSize > maxSize)
        return false;
    if (!allocateChannelBuffers(static_cast<size_t>(maxSize)))
        return false;
    bufferSize = preferredSize;
    if (ASIOGetSampleRate(&sampleRate) != asioOk)
        return false;
    postOutput = ASIOOutputReady() == asioOk;
    return readChannelInfos();
}

// Every channel of the driver is described, however many it has.
bool KsASIO::readChannelInfos() {
    const size_t total = size_t(inputChannels) + size_t(outputChannels);
    channelInfos.assign(std::max(total, kMinChannelInfos), ASIOChannelInfo{});
    for (size_t k = 0; k < total; ++k) {
        const bool isInput = k < size_t(inputChannels);
        channelInfos[k].channel = static_cast<int32_t>(isInput ? k : k - size_t(inputChannels));
        channelInfos[k].isInput = isInput;
        if (ASIOGetChannelInfo(&channelInfos[k]) != asioOk)
            return false;
        channelInfos[k].name[sizeof channelInfos[k].name - 1] = '\0';
    }
    return true;
}

bool KsASIO::prepareBuffers() {
    inputBuffers = std::min(inputChannels, kMaxBuffersPerDirection);
    outputBuffers = std::min(outputChannels, kMaxBuffersPerDirection);
    std::memset(bufferInfos, 0, sizeof bufferInfos);
    for (int32_t k = 0; k < inputBuffers + outputBuffers; ++k) {
        bufferInfos[k].isInput = k < inputBuffers;
        bufferInfos[k].channelNum = k < inputBuffers ? k : k - inputBuffers;
    }
    const int32_t created = inputBuffers + outputBuffers;
    if (ASIOCreateBuffers(bufferInfos, created, bufferSize, &callbacks) != asioOk)
        return false;
    for (int32_t k = 0; k < created; ++k) {
        channelInfos[size_t(k)].channel = bufferInfos[k].channelNum;
        channelInfos[size_t(k)].isInput = bufferInfos[k].isInput;
        if (ASIOGetChannelInfo(&channelInfos[size_t(k)]) != asioOk)
            return false;
    }
    if (ASIOGetLatencies(&inputLatency, &outputLatency) != asioOk)
        return false;
    if (inputDevice != nullptr)
        inputDevice->latency = inputLatency;
    return true;
}

bool KsASIO::open(AudioDeviceSettings* device, bool probeOnly) {
    if (device == nullptr)
        return false;
    if (device->infoValid && (probeOnly || running))
        return true;
    if (running)
        return false; // loading a driver would pull the running one away
    if (!drivers.loadDriver(device->name))
        return false;
    if (!initDriver()) {
        drivers.unloadCurrentDriver();
        freeChannelBuffers();
        return false;
    }
    describe(*device);
    drivers.unloadCurrentDriver();
    freeChannelBuffers();
    return true;
}

// The entry from the initialised driver's channels, size and rate.
void KsASIO::describe(AudioDeviceSettings& device) {
    device.channelCount = static_cast<uint16_t>(device.isInput ? inputChannels : outputChannels);
    device.sampleRate = sampleRate;
    device.bufferSize = bufferSize;
    device.channelNames.clear();
    const size_t first = device.isInput ? 0 : size_t(inputChannels);
    for (size_t k = 0; k < size_t(device.channelCount); ++k)
        device.channelNames.emplace_back(channelInfos[first + k].name);
    // Many drivers know their latencies only once buffers exist; a start
    // reads them again.
    int32_t inputFrames = 0;
    int32_t outputFrames = 0;
    if (ASIOGetLatencies(&inputFrames, &outputFrames) == asioOk) {
        const int32_t frames = device.isInput ? inputFrames : outputFrames;
        if (frames > 0)
            device.latency = frames;
    }
    device.infoValid = true;
}

// The running driver cannot be loaded a second time to read its entries:
// those of its entries no one read yet are read now, so the settings
// window can show them without stopping the stream.
void KsASIO::describeUnreadEntries(int32_t driverIndex) {
    for (auto& device : devices)
        if (device->index == driverIndex && !device->infoValid)
            describe(*device);
}

bool KsASIO::start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback cb,
                   void* user) {
    if (output == nullptr || (input != nullptr && input->index != output->index) ||
        output->index >= drivers.driverCount())
        return false;
    if (running)
        stop();
    if (running)
        return false; // a block of the last stream has still not ended
    callback = cb;
    userData = user;
    if (input != nullptr) {
        leftInput = input->leftChannel;
        rightInput = input->rightChannel;
    }
    inputDevice = input;
    leftOutput = output->leftChannel;
    rightOutput = output->rightChannel;
    char name[kNameBytes];
    if (!driverName(output, name))
        return false;
    initializeAsioThread();
    if (!drivers.loadDriver(name) || !initDriver() || !runsAsAnnounced(*output))
        return false;
    describeUnreadEntries(output->index);
    if (!prepareBuffers())
        return false;
    // Published before the driver's thread can see a block.
    buffersHeld.store(true);
    streaming.store(true);
    if (ASIOStart() != asioOk) {
        streaming.store(false);
        buffersHeld.store(false);
        return false;
    }
    running = true;
    return true;
}

// A block that began before the flag dropped ends before the buffers go.
// One that does not end within two seconds (a plug-in stuck in its
// processing, or waiting for the window thread that waits here) keeps the
// driver, its buffers and ours: `running` stays set, a later stop tries
// again and a start fails until it has ended. Freed under it, they would
// be written by the block still running. A block that began after the first
// wait (it only silences its half) may still be in our code when the
// driver's stop returns: it too ends before they go. One the driver
// delivers after its stop returned touches nothing.
void KsASIO::stop() {
    if (running) {
        streaming.store(false);
        platform::sleepMs(kStopPauseMs);
        if (!blockEnded())
            return;
        ASIOStop();
        buffersHeld.store(false);
        if (!blockEnded())
            return;
        running = false;
        ASIODisposeBuffers();
        drivers.unloadCurrentDriver();
    }
    freeChannelBuffers();
}

// The plug-in was told the block size and rate `open` read. A driver whose
// settings changed since (its control panel used while a message box was
// up) would send blocks it was never told of, larger than it may hold.
bool KsASIO::runsAsAnnounced(const AudioDeviceSettings& output) const {
    return !output.infoValid ||
           (bufferSize == output.bufferSize && sampleRate == output.sampleRate);
}

bool KsASIO::blockEnded() const {
    for (uint32_t waited = 0; blocksInside.load() != 0 && waited < kBlockEndWaitMs;
         waited += kBlockEndCheckMs)
        platform::sleepMs(kBlockEndCheckMs);
    return blocksInside.load() == 0;
}

bool KsASIO::showControlPanel(AudioDeviceSettings* device) {
    if (running)
        return ASIOControlPanel() == asioOk;
    char name[kNameBytes];
    if (!driverName(device, name))
        return false;
    initializeAsioThread();
    if (!drivers.loadDriver(name))
        return false;
    const bool shown = ASIOControlPanel() == asioOk;
    drivers.unloadCurrentDriver();
    return shown;
}

void KsASIO::processBlock(int32_t half) {
    if (half != 0 && half != 1)
        return;
    blocksInside.fetch_add(1);
    if (!buffersHeld.load()) {
        blocksInside.fetch_sub(1);
        return;
    }
    if (!streaming.load()) {
        // After a stop the driver would otherwise repeat what it last got.
        silenceOutputs(half);
        blocksInside.fetch_sub(1);
        return;
    }
    convertInputs(half);
    if (callback(channelBuffers, channelBuffers, static_cast<uint32_t>(bufferSize), userData)) {
        writeOutputs(half);
        if (postOutput)
            ASIOOutputReady();
    }
    blocksInside.fetch_sub(1);
}

void KsASIO::convertInputs(int32_t half) {
    const auto frames = static_cast<uint32_t>(bufferSize);
    ArrayCursor arrays;
    if (inputDevice != nullptr) {
        for (int32_t k = 0; k < inputBuffers && arrays.next < 2; ++k) {
            if (k != leftInput && k != rightInput)
                continue;
            void* buffer = bufferInfos[k].buffers[half];
            if (buffer == nullptr)
                continue;
            const int target = arrays.next++;
            arrays.written[target] =
                asioToFloat(channelInfos[size_t(k)].type, buffer, channelBuffers[target], frames);
        }
    }
    // The arrays still hold the last block's output: an array no channel
    // filled would feed it back into the plug-in.
    if (arrays.written[0] && !arrays.written[1] && inputDevice != nullptr &&
        leftInput == rightInput)
        std::memcpy(channelBuffers[1], channelBuffers[0], frames * sizeof(float));
    else
        for (int target = 0; target < 2; ++target)
            if (!arrays.written[target])
                std::memset(channelBuffers[target], 0, frames * sizeof(float));
}

void KsASIO::writeOutputs(int32_t half) {
    const auto frames = static_cast<uint32_t>(bufferSize);
    int next = 0;
    for (int32_t k = 0; k < outputBuffers; ++k) {
        const size_t record = size_t(inputBuffers + k);
        void* buffer = bufferInfos[record].buffers[half];
        if (buffer == nullptr)
            continue;
        const int32_t type = channelInfos[record].type;
        if ((k == leftOutput || k == rightOutput) && next < 2)
            floatToAsio(type, channelBuffers[next++], buffer, frames);
        else
            std::memset(buffer, 0, frames * asioSampleBytes(type));
    }
}

void KsASIO::silenceOutputs(int32_t half) {
    const auto frames = static_cast<size_t>(bufferSize);
    for (int32_t k = 0; k < outputBuffers; ++k) {
        const size_t record = size_t(inputBuffers + k);
        if (void* buffer = bufferInfos[record].buffers[half])
            std::memset(buffer, 0, frames * asioSampleBytes(channelInfos[record].type));
    }
}

void KsASIO::bufferSwitch(int32_t index, AsioBool) {
    if (KsASIO* self = instance.load())
        self->processBlock(index);
}

ASIOTime* KsASIO::bufferSwitchTimeInfo(ASIOTime*, int32_t index, AsioBool) {
    bufferSwitch(index, 1);
    return nullptr;
}

void KsASIO::sampleRateDidChange(double) {}

int32_t KsASIO::asioMessage(int32_t selector, int32_t value, void*, double*) {
    return asioMessageAnswer(selector, value);
}
