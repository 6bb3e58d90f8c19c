#include "TestAsioDriver.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

void copyText(char* to, const std::string& text, size_t capacity) {
    std::strncpy(to, text.c_str(), capacity - 1);
    to[capacity - 1] = '\0';
}

// "input.3.type" -> direction, channel and field.
bool channelKey(const std::string& key, bool& isInput, int32_t& channel, std::string& field) {
    const size_t firstDot = key.find('.');
    const size_t secondDot = key.find('.', firstDot + 1);
    if (firstDot == std::string::npos || secondDot == std::string::npos)
        return false;
    const std::string direction = key.substr(0, firstDot);
    if (direction != "input" && direction != "output")
        return false;
    isInput = direction == "input";
    channel = std::atoi(key.substr(firstDot + 1, secondDot - firstDot - 1).c_str());
    field = key.substr(secondDot + 1);
    return channel >= 0 && channel < 4096;
}

void setChannelValue(TestAsioConfig& config, const std::string& key, const std::string& value) {
    bool isInput = false;
    int32_t channel = 0;
    std::string field;
    if (!channelKey(key, isInput, channel, field))
        return;
    if (field == "type") {
        std::vector<int32_t>& types = isInput ? config.inputTypes : config.outputTypes;
        if (types.size() <= size_t(channel))
            types.resize(size_t(channel) + 1, -1);
        types[size_t(channel)] = std::atoi(value.c_str());
    } else if (field == "name") {
        std::vector<std::string>& names = isInput ? config.inputNames : config.outputNames;
        if (names.size() <= size_t(channel))
            names.resize(size_t(channel) + 1);
        names[size_t(channel)] = value;
    }
}

void setValue(TestAsioConfig& config, const std::string& key, const std::string& value) {
    const int32_t number = std::atoi(value.c_str());
    if (key == "name")
        config.driverName = value;
    else if (key == "inputs")
        config.inputs = number;
    else if (key == "outputs")
        config.outputs = number;
    else if (key == "inputType")
        config.inputType = number;
    else if (key == "outputType")
        config.outputType = number;
    else if (key == "minSize")
        config.minSize = number;
    else if (key == "maxSize")
        config.maxSize = number;
    else if (key == "preferredSize")
        config.preferredSize = number;
    else if (key == "granularity")
        config.granularity = number;
    else if (key == "sampleRate")
        config.sampleRate = std::atof(value.c_str());
    else if (key == "initFails")
        config.initFails = number != 0;
    else if (key == "errorText")
        config.errorText = value;
    else if (key == "controlPanelResult")
        config.controlPanelResult = number;
    else if (key == "timeInfo")
        config.timeInfo = number != 0;
    else if (key == "outputReady")
        config.outputReady = number != 0;
    else if (key == "resetAfter")
        config.resetAfter = number;
    else if (key == "recordBlocks")
        config.recordBlocks = number;
    else if (key == "blockAfterStop")
        config.blockAfterStop = number != 0;
    else
        setChannelValue(config, key, value);
}

} // namespace

int32_t TestAsioConfig::typeOf(bool isInput, int32_t channel) const {
    const std::vector<int32_t>& types = isInput ? inputTypes : outputTypes;
    if (channel >= 0 && size_t(channel) < types.size() && types[size_t(channel)] >= 0)
        return types[size_t(channel)];
    return isInput ? inputType : outputType;
}

std::string TestAsioConfig::nameOf(bool isInput, int32_t channel) const {
    const std::vector<std::string>& names = isInput ? inputNames : outputNames;
    if (channel >= 0 && size_t(channel) < names.size() && !names[size_t(channel)].empty())
        return names[size_t(channel)];
    return (isInput ? "In " : "Out ") + std::to_string(channel + 1);
}

TestAsioConfig parseTestAsioConfig(const std::string& text) {
    TestAsioConfig config;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        setValue(config, line.substr(0, space), line.substr(space + 1));
    }
    return config;
}

void TestAsioInstance::reset() {
    for (std::atomic<int>* counter :
         {&created, &released, &releasedRunning, &inits, &starts, &stops, &controlPanels, &blocks,
          &running, &lateBlocks, &writesAfterStop})
        counter->store(0);
    resetAnswer = -1;
    onControlPanel = nullptr;
    onControlPanelUser = nullptr;
    createdBufferSize = 0;
    createdBuffers = 0;
    outputTypes.clear();
    recorded.clear();
    lastBlocks.clear();
}

int16_t testAsioSignal(int32_t channel, uint32_t frame) {
    // A ramp per channel, a different slope and offset on each.
    const uint32_t step = frame * uint32_t(37 + 2 * channel) + uint32_t(channel) * 4099u;
    return static_cast<int16_t>(static_cast<uint16_t>(step * 53u) & 0xFFFF);
}

size_t testAsioSampleWidth(int32_t type) {
    switch (type) {
    case ASIOSTInt16LSB:
    case ASIOSTInt16MSB:
        return 2;
    case ASIOSTInt24LSB:
    case ASIOSTInt24MSB:
        return 3;
    case ASIOSTFloat64LSB:
    case ASIOSTFloat64MSB:
        return 8;
    default:
        return 4;
    }
}

// The value placed in the type's valid bits, then in its byte order.
void encodeTestAsioSample(int32_t type, int16_t value, unsigned char* out) {
    const size_t width = testAsioSampleWidth(type);
    const bool bigEndian = type < ASIOSTInt16LSB;
    const int32_t plain = bigEndian ? type + ASIOSTInt16LSB : type;
    uint64_t bits = 0;
    const auto v = static_cast<int32_t>(value);
    switch (plain) {
    case ASIOSTInt16LSB:
    case ASIOSTInt32LSB16:
        bits = static_cast<uint32_t>(v);
        break;
    case ASIOSTInt24LSB:
    case ASIOSTInt32LSB24:
        bits = static_cast<uint32_t>(v) << 8;
        break;
    case ASIOSTInt32LSB:
        bits = static_cast<uint32_t>(v) << 16;
        break;
    case ASIOSTInt32LSB18:
        bits = static_cast<uint32_t>(v) << 2;
        break;
    case ASIOSTInt32LSB20:
        bits = static_cast<uint32_t>(v) << 4;
        break;
    case ASIOSTFloat32LSB: {
        const float f = static_cast<float>(v) / 32768.0f;
        uint32_t u;
        std::memcpy(&u, &f, 4);
        bits = u;
        break;
    }
    case ASIOSTFloat64LSB: {
        const double d = static_cast<double>(v) / 32768.0;
        std::memcpy(&bits, &d, 8);
        break;
    }
    default:
        bits = static_cast<uint32_t>(v);
        break;
    }
    for (size_t i = 0; i < width; ++i) {
        const auto byte = static_cast<unsigned char>(bits >> (8 * i));
        out[bigEndian ? width - 1 - i : i] = byte;
    }
}

TestAsioDriver::TestAsioDriver(TestAsioInstance& owner) : instance(owner), config(owner.config) {
    instance.created++;
}

TestAsioDriver::~TestAsioDriver() {
    instance.releasedRunning += thread.joinable();
    stop();
    instance.released++;
}

int32_t TestAsioDriver::QueryInterface(const AsioClassId&, void** object) {
    // Created by its class id as interface id; every interface is this one.
    *object = this;
    AddRef();
    return 0;
}

uint32_t TestAsioDriver::AddRef() {
    return ++references;
}

uint32_t TestAsioDriver::Release() {
    const uint32_t left = --references;
    if (left == 0)
        delete this;
    return left;
}

AsioBool TestAsioDriver::init(void*) {
    instance.inits++;
    return config.initFails ? 0 : 1;
}

void TestAsioDriver::getDriverName(char* name) {
    copyText(name, config.driverName, 32);
}

void TestAsioDriver::getErrorMessage(char* text) {
    copyText(text, config.errorText, 124);
}

AsioError TestAsioDriver::getChannels(int32_t* inputs, int32_t* outputs) {
    *inputs = config.inputs;
    *outputs = config.outputs;
    return asioOk;
}

AsioError TestAsioDriver::getLatencies(int32_t* input, int32_t* output) {
    *input = *output = bufferFrames;
    return asioOk;
}

AsioError TestAsioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                        int32_t* granularity) {
    *minSize = config.minSize;
    *maxSize = config.maxSize;
    *preferredSize = config.preferredSize;
    *granularity = config.granularity;
    return asioOk;
}

AsioError TestAsioDriver::canSampleRate(double rate) {
    return rate == config.sampleRate ? asioOk : asioNoClock;
}

AsioError TestAsioDriver::getSampleRate(double* rate) {
    *rate = config.sampleRate;
    return asioOk;
}

AsioError TestAsioDriver::setSampleRate(double rate) {
    return canSampleRate(rate);
}

AsioError TestAsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* count) {
    std::memset(clocks, 0, sizeof *clocks);
    clocks->isCurrentSource = 1;
    copyText(clocks->name, "Internal", sizeof clocks->name);
    *count = 1;
    return asioOk;
}

AsioError TestAsioDriver::setClockSource(int32_t reference) {
    return reference == 0 ? asioOk : asioInvalidParameter;
}

AsioError TestAsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) {
    position->hi = 0;
    position->lo = samplePosition.load();
    stamp->hi = stamp->lo = 0;
    return asioOk;
}

AsioError TestAsioDriver::getChannelInfo(ASIOChannelInfo* info) {
    const int32_t count = info->isInput ? config.inputs : config.outputs;
    if (info->channel < 0 || info->channel >= count)
        return asioInvalidParameter;
    info->isActive = 0;
    for (const Buffer& buffer : buffers)
        if (buffer.isInput == (info->isInput != 0) && buffer.channel == info->channel)
            info->isActive = 1;
    info->channelGroup = 0;
    info->type = config.typeOf(info->isInput != 0, info->channel);
    copyText(info->name, config.nameOf(info->isInput != 0, info->channel), sizeof info->name);
    return asioOk;
}

AsioError TestAsioDriver::controlPanel() {
    instance.controlPanels++;
    if (auto hook = instance.onControlPanel.load())
        hook(instance.onControlPanelUser.load());
    return config.controlPanelResult;
}

AsioError TestAsioDriver::outputReady() {
    return config.outputReady ? asioOk : asioNotPresent;
}

AsioError TestAsioDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t frames,
                                        ASIOCallbacks* callbacks) {
    if (!buffers.empty() || count <= 0 || frames < config.minSize || frames > config.maxSize)
        return asioInvalidMode;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t channels = infos[i].isInput ? config.inputs : config.outputs;
        if (infos[i].channelNum < 0 || infos[i].channelNum >= channels)
            return asioInvalidParameter;
    }
    hostCallbacks = *callbacks;
    bufferFrames = frames;
    instance.outputTypes.clear();
    instance.recorded.clear();
    instance.lastBlocks.clear();
    for (int32_t i = 0; i < count; ++i) {
        Buffer buffer{infos[i].isInput != 0,
                      infos[i].channelNum,
                      config.typeOf(infos[i].isInput != 0, infos[i].channelNum),
                      {}};
        const size_t bytes = size_t(frames) * testAsioSampleWidth(buffer.type);
        for (auto& half : buffer.halves)
            half.assign(bytes, 0);
        buffers.push_back(std::move(buffer));
        infos[i].buffers[0] = buffers.back().halves[0].data();
        infos[i].buffers[1] = buffers.back().halves[1].data();
        if (!buffers.back().isInput) {
            instance.outputTypes.push_back(buffers.back().type);
            instance.recorded.emplace_back();
            instance.recorded.back().reserve(bytes * size_t(config.recordBlocks));
            instance.lastBlocks.emplace_back(bytes, 0);
        }
    }
    // The vector never grows again, so the addresses handed out stay valid.
    instance.createdBufferSize = frames;
    instance.createdBuffers = count;
    useTimeInfo = config.timeInfo &&
                  hostCallbacks.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr,
                                            nullptr) == 1 &&
                  hostCallbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
    return asioOk;
}

AsioError TestAsioDriver::disposeBuffers() {
    stop();
    if (config.blockAfterStop && !buffers.empty())
        deliverLateBlock();
    buffers.clear();
    return asioOk;
}

// A driver whose thread was already calling when its stop returned: the
// block reaches the host while the buffers are being disposed of.
void TestAsioDriver::deliverLateBlock() {
    for (Buffer& buffer : buffers)
        if (!buffer.isInput)
            std::memset(buffer.halves[0].data(), kTestAsioMarker, buffer.halves[0].size());
    hostCallbacks.bufferSwitch(0, 1);
    instance.lateBlocks++;
    for (Buffer& buffer : buffers)
        if (!buffer.isInput)
            for (unsigned char byte : buffer.halves[0])
                if (byte != kTestAsioMarker) {
                    instance.writesAfterStop++;
                    break;
                }
}

AsioError TestAsioDriver::start() {
    if (buffers.empty() || thread.joinable())
        return asioInvalidMode;
    instance.starts++;
    stopRequest = false;
    instance.running = 1;
    thread = std::thread(&TestAsioDriver::run, this);
    return asioOk;
}

AsioError TestAsioDriver::stop() {
    if (!thread.joinable())
        return asioOk;
    stopRequest = true;
    thread.join();
    instance.stops++;
    instance.running = 0;
    return asioOk;
}

void TestAsioDriver::run() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration<double>(bufferFrames / config.sampleRate);
    auto next = Clock::now();
    int half = 0;
    int blocks = 0;
    while (!stopRequest.load()) {
        runBlock(half);
        half ^= 1;
        if (++blocks == config.resetAfter)
            instance.resetAnswer =
                hostCallbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        next += std::chrono::duration_cast<Clock::duration>(period);
        std::this_thread::sleep_until(next);
    }
}

void TestAsioDriver::runBlock(int half) {
    fillInputs(half);
    for (Buffer& buffer : buffers)
        if (!buffer.isInput)
            std::memset(buffer.halves[half].data(), kTestAsioMarker, buffer.halves[half].size());
    if (useTimeInfo) {
        time.timeInfo.samplePosition.lo = samplePosition.load();
        time.timeInfo.sampleRate = config.sampleRate;
        hostCallbacks.bufferSwitchTimeInfo(&time, half, 1);
    } else {
        hostCallbacks.bufferSwitch(half, 1);
    }
    recordOutputs(half);
    samplePosition += uint32_t(bufferFrames);
    instance.blocks++;
}

void TestAsioDriver::fillInputs(int half) {
    const uint32_t first = samplePosition.load();
    for (Buffer& buffer : buffers) {
        if (!buffer.isInput)
            continue;
        const size_t width = testAsioSampleWidth(buffer.type);
        for (int32_t i = 0; i < bufferFrames; ++i)
            encodeTestAsioSample(buffer.type, testAsioSignal(buffer.channel, first + uint32_t(i)),
                                 buffer.halves[half].data() + width * size_t(i));
    }
}

void TestAsioDriver::recordOutputs(int half) {
    size_t output = 0;
    for (const Buffer& buffer : buffers) {
        if (buffer.isInput)
            continue;
        const std::vector<unsigned char>& bytes = buffer.halves[half];
        std::vector<unsigned char>& recorded = instance.recorded[output];
        if (recorded.size() + bytes.size() <= recorded.capacity())
            recorded.insert(recorded.end(), bytes.begin(), bytes.end());
        instance.lastBlocks[output] = bytes;
        ++output;
    }
}
