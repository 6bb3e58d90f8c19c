#include "EngineTestSupport.h"

#include "Clock.h"

#include <algorithm>

namespace {
void captureMessage(const std::string& text, const std::string& caption, void* user) {
    static_cast<std::vector<CapturedMessage>*>(user)->push_back({text, caption});
}

void fill(float* const* pair, uint32_t frames, float value) {
    std::fill(pair[0], pair[0] + frames, value);
    std::fill(pair[1], pair[1] + frames, -value);
}
} // namespace

bool CallbackDriver::open(AudioDeviceSettings* device, bool) {
    ++opens;
    if (device == nullptr)
        return false;
    device->infoValid = true;
    return true;
}

bool CallbackDriver::start(AudioDeviceSettings* input, AudioDeviceSettings* output,
                           AudioCallback cb, void* user) {
    ++starts;
    if (failStart || output == nullptr)
        return false;
    frames = static_cast<uint32_t>(std::max(output->bufferSize, input ? input->bufferSize : 0));
    if (!allocateChannelBuffers(frames))
        return false;
    callback = cb;
    userData = user;
    running = true;
    if (ownThread) {
        threadStop = false;
        thread = std::thread([this] {
            while (!threadStop.load()) {
                runBlocks(1);
                platform::sleepMs(1);
            }
        });
    }
    return true;
}

void CallbackDriver::stop() {
    if (keepsStreamOnStop && running)
        return; // as a driver whose block has not come back
    threadStop = true;
    if (thread.joinable())
        thread.join();
    running = false;
    callback = nullptr;
    freeChannelBuffers();
}

int CallbackDriver::runBlocks(int count, float inputValue) {
    int accepted = 0;
    for (int i = 0; i < count && callback != nullptr; ++i) {
        fill(channelBuffers, frames, inputValue);
        if (callback(channelBuffers, channelBuffers, frames, userData))
            ++accepted;
        ++blocks;
    }
    return accepted;
}

bool BlockingLoopDriver::open(AudioDeviceSettings* device, bool) {
    if (device == nullptr)
        return false;
    device->infoValid = true;
    return true;
}

bool BlockingLoopDriver::start(AudioDeviceSettings* input, AudioDeviceSettings* output,
                               AudioCallback cb, void* user) {
    ++starts;
    if (failStart || output == nullptr)
        return false;
    const auto frames =
        static_cast<uint32_t>(std::max(output->bufferSize, input ? input->bufferSize : 0));
    if (!allocateChannelBuffers(frames))
        return false;
    while (!forceEnd.load()) {
        holdWhileAsked();
        if (forceEnd.load())
            break;
        if (quietAfter >= 0 && blocks.load() >= quietAfter) {
            // A device gone quiet: no block comes, only the stop request is seen.
            if (stopRequested()) {
                ++blocks;
                cb(channelBuffers, channelBuffers, 0, user);
                return true;
            }
        } else {
            fill(channelBuffers, frames, 0.5f);
            ++blocks;
            if (!cb(channelBuffers, channelBuffers, frames, user) && !ignoreEnd)
                return true;
        }
        platform::sleepMs(1);
    }
    return false;
}

void BlockingLoopDriver::holdWhileAsked() {
    for (int waited = 0; holdBlocks.load() && !forceEnd.load() && waited < 20000; ++waited) {
        holding.store(true);
        platform::sleepMs(1);
    }
    holding.store(false);
}

FakeMidiDriver::FakeMidiDriver() {
    auto addDevice = [this](int32_t id, const char* name, bool isInput) {
        auto device = std::make_unique<MidiDeviceSettings>();
        device->deviceIndex = id;
        device->name = name;
        device->isInput = isInput;
        device->active = isInput;
        devices.push_back(std::move(device));
    };
    addDevice(0, "Keys", true);
    addDevice(1, "Clock Box", true);
    addDevice(0, "Synth Out", false);
    addDevice(-1, "Mapper", false);
}

bool FakeMidiDriver::open(const MidiDeviceSettings* input, const MidiDeviceSettings* output,
                          MidiInputCallback callback, void* userData) {
    if (input != nullptr && input->deviceIndex == failOpenOfDeviceIndex)
        return false;
    if (output != nullptr && failOutput)
        return false;
    closed = false;
    std::shared_ptr<MidiInputContext> context;
    if (input != nullptr)
        context = std::make_shared<MidiInputContext>(callback, userData, arrivals);
    opened.push_back({input, output, callback, userData, context});
    return true;
}

void FakeMidiDriver::close() {
    ++closes;
    for (const OpenCall& call : opened) {
        if (call.input != nullptr && call.callback != nullptr)
            call.callback(MidiMessage{}, call.userData); // the closed notification
    }
    opened.clear();
    closed = true;
}

void FakeMidiDriver::receive(uint8_t first, uint8_t second, uint8_t third, double deltaMs,
                             size_t input) {
    message = MidiMessage::fromBytes(first, second, third, deltaMs);
    if (message.status == 0xF8)
        message.clockIntervalMs = deltaMs;
    size_t n = 0;
    for (const OpenCall& call : opened) {
        if (call.input == nullptr || call.callback == nullptr)
            continue;
        if (n++ == input) {
            call.callback(message, call.userData);
            return;
        }
    }
}

void FakeMidiDriver::receiveAt(double timeMs, uint8_t first, uint8_t second, uint8_t third,
                               size_t input) {
    // Counter 0 means "never"; the simulated counter starts one second in.
    const auto counter =
        static_cast<int64_t>((timeMs + 1000.0) * (static_cast<double>(kCountsPerSecond) / 1000.0));
    const uint32_t packed =
        first | static_cast<uint32_t>(second) << 8 | static_cast<uint32_t>(third) << 16;
    size_t n = 0;
    for (const OpenCall& call : opened) {
        if (call.context != nullptr && n++ == input) {
            deliverShortMessage(*call.context, packed, counter);
            return;
        }
    }
}

EngineTest::EngineTest(const char* plugin) : testPlugin(plugin), control(plugin) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    pluginName = std::string("KsTest Engine ") + info->test_suite_name() + " " + info->name();
    std::replace(pluginName.begin(), pluginName.end(), '/', '_');
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\" + pluginName);
    platform::setMessageSink(captureMessage, &messages);
    if (lib.load(testPluginPath(plugin)) == nullptr)
        throw std::runtime_error("cannot load the test plug-in");
    lib.effect->dispatcher(lib.effect, effOpen, 0, 0, nullptr, 0.0f);
    auto asioDriver = std::make_unique<CallbackDriver>();
    auto wasapiDriver = std::make_unique<BlockingLoopDriver>();
    asio = asioDriver.get();
    wasapi = wasapiDriver.get();
    drivers = std::make_unique<AudioDriverPair>(std::move(wasapiDriver), std::move(asioDriver));
    settings =
        std::make_unique<HostSettings>(pluginName, (lib.effect->flags & effFlagsIsSynth) != 0);
    engine.attach(&lib, drivers.get(), &midi, settings.get());
}

EngineTest::~EngineTest() {
    engine.stopAudio();
    engine.stopMidi();
    drivers->asio->stop();
    lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    lib.effect = nullptr;
    platform::setMessageSink(nullptr, nullptr);
    settings.reset();
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\" + pluginName);
}

AudioDeviceSettings* EngineTest::addDevice(KsAudioBase& driver, int32_t type,
                                           const std::string& name, bool isInput, double rate,
                                           uint16_t bits, int32_t bufferSize) {
    auto device = std::make_unique<AudioDeviceSettings>();
    device->type = type;
    device->name = name;
    device->isInput = isInput;
    device->sampleRate = rate;
    device->bitsPerSample = bits;
    device->bufferSize = bufferSize;
    driver.devices.push_back(std::move(device));
    return driver.devices.back().get();
}

void EngineTest::useManualDevices(bool withInput) {
    settings->outputDevice = addDevice(*asio, audioDeviceAsio, "Manual", false);
    settings->inputDevice = withInput ? addDevice(*asio, audioDeviceAsio, "Manual", true) : nullptr;
}

std::vector<KsTestCall> EngineTest::callsSince(size_t from) const {
    std::vector<KsTestCall> all = control.calls(lib.effect);
    return std::vector<KsTestCall>(all.begin() + static_cast<long>(std::min(from, all.size())),
                                   all.end());
}
