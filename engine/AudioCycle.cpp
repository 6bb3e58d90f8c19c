// Audio start and stop, and the cycle the drivers run once per block.

#include "KsVSTHostInterface.h"

#include "Clock.h"
#include "MessageBox.h"
#include "Thread.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kStreamStartWaitMs = 500;
constexpr uint32_t kAsioStopWaitMs = 500;
constexpr int kStopChecks = 6;
constexpr uint32_t kStopCheckIntervalMs = 50;
constexpr int32_t kCyclesPerCpuReading = 100;
constexpr int kEndChecksAtDestruction = 40; // two seconds

const char* const kNoInputWarning =
    "No input device available.\r\nOnly the audio player will work.";
const char* const kRateMismatchWasapi =
    "Different sample rates for input and output device not supported!\r\n"
    "Automatic adjustment failed.\r\nPlease check your Audio device settings!";
const char* const kRateMismatch = "Different sample rates for input and output device not "
                                  "supported!\r\nPlease correct and restart Application.";
const char* const kBitsMismatch = "Different bit rates for input and output device not "
                                  "supported!\r\nPlease correct and restart Application.";

bool isWasapiType(int32_t type) {
    return type == audioDeviceWasapiShared || type == audioDeviceWasapiExclusive;
}

// More than any device gives (about 1.4 s at 48 kHz): a damaged setting,
// which would size the plug-in's buffers beyond memory at every start.
constexpr int32_t kLargestBlockFrames = 1 << 16;

// A block size no device gives, or a rate of 0 or no number (a driver
// without a clock yet), would reach the plug-in and the host time.
bool streamable(const AudioDeviceSettings* device) {
    return device == nullptr ||
           (device->bufferSize >= 0 && device->bufferSize <= kLargestBlockFrames &&
            std::isfinite(device->sampleRate) && device->sampleRate > 0.0);
}

} // namespace

std::optional<MidiMessage> KsVSTHostInterfaceBase::learnedTapMessage() const {
    const uint32_t packed = learnedTap.load();
    if (packed == kNoLearnedTap)
        return std::nullopt;
    MidiMessage message;
    message.status = static_cast<uint8_t>(packed >> 8);
    message.data1 = static_cast<uint8_t>(packed);
    return message;
}

void KsVSTHostInterfaceBase::setLearnedTapMessage(uint8_t status, uint8_t data1) {
    learnedTap.store(0x10000u | static_cast<uint32_t>(status) << 8 | data1);
}

void KsVSTHostInterfaceBase::forgetLearnedTapMessage() {
    learnedTap.store(kNoLearnedTap);
}

KsVSTHostInterface::KsVSTHostInterface()
    : perfFrequency(platform::performanceFrequency()),
      readPerformanceCounter(platform::performanceCounter) {}

// What the engine and its stream thread share. It lives as long as either of
// them: when the thread has to be left behind, a driver that keeps calling
// finds the link abandoned instead of an engine that is gone.
struct KsVSTHostInterface::StreamLink {
    enum State { live, ended, abandoned };
    explicit StreamLink(KsVSTHostInterface* owner) : engine(owner) {}
    KsVSTHostInterface* const engine;
    std::atomic<int> state{live};
    std::atomic<bool> inCycle{false};
    // Raised after the engine's `stopRequest`, never lowered: the driver
    // watches it while its device is quiet and then hands the request on.
    std::atomic<bool> ending{false};
};

KsVSTHostInterface::~KsVSTHostInterface() {
    endStreamThreadBounded();
    // Only now: until the stream has ended or been cut off, the plug-in may
    // still read the hooks from the audio thread.
    if (hostLib != nullptr && hostLib->record.tempoUserData == this)
        hostLib->record.tempoHook = nullptr;
    if (hostLib != nullptr && hostLib->record.transportUserData == this)
        hostLib->record.transportHook = nullptr;
    if (hostLib != nullptr && hostLib->record.midiOutUserData == this)
        hostLib->record.midiOutHook = nullptr;
}

// Exit must not hang on a stream that never ends: an ASIO stop is bounded,
// and a stream thread is left to itself after two seconds, cut off from the
// engine.
void KsVSTHostInterface::endStreamThreadBounded() {
    if (streamKind == StreamKind::asio && running.load() && isAttached())
        stopAsioStream(); // bounded as before
    if (!streamThread.joinable())
        return;
    stopRequest.store(true);
    streamLink->ending.store(true);
    for (int check = 0; check < kEndChecksAtDestruction; ++check) {
        if (streamLink->state.load() == StreamLink::ended)
            break;
        platform::sleepMs(kStopCheckIntervalMs);
    }
    int expected = StreamLink::live;
    if (!streamLink->state.compare_exchange_strong(expected, StreamLink::abandoned)) {
        streamThread.join(); // it has ended
        return;
    }
    for (int check = 0; check < kEndChecksAtDestruction && streamLink->inCycle.load(); ++check)
        platform::sleepMs(kStopCheckIntervalMs);
    std::fprintf(stderr,
                 "KsVSTHostInterface: the audio stream did not end within %d ms; its thread "
                 "is left running, detached from the engine\n",
                 kEndChecksAtDestruction * static_cast<int>(kStopCheckIntervalMs));
    std::fflush(stderr);
    streamThread.detach();
}

void KsVSTHostInterface::attach(KsVSTHostLib* lib, AudioDriverPair* drivers, KsMidiBase* midi,
                                HostSettings* hostSettings) {
    if (lib == nullptr || drivers == nullptr || midi == nullptr || hostSettings == nullptr)
        return;
    hostLib = lib;
    audioDrivers = drivers;
    midiDriver = midi;
    settings = hostSettings;
    tempo.store(settings->tempo.load());
    hostLib->record.transportUserData = this;
    hostLib->record.transportHook = transportHook;
    const int32_t tab = settings->tempoTab.load();
    if (tab != 0)
        setLearnedTapMessage(static_cast<uint8_t>(tab >> 8), static_cast<uint8_t>(tab));
}

bool KsVSTHostInterface::isAttached() const {
    return hostLib != nullptr && audioDrivers != nullptr && midiDriver != nullptr &&
           settings != nullptr;
}

bool KsVSTHostInterface::isInstrument() const {
    return (hostLib->effect->flags & effFlagsIsSynth) != 0;
}

VstIntPtr KsVSTHostInterface::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                       float opt) const {
    AEffect* effect = hostLib->effect;
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// A message shown during a start runs the window thread's message loop, from
// which the menu or the Audio Settings dialog could start or stop audio again
// halfway through this start.
bool KsVSTHostInterface::startAudio() {
    if (startsRefused || audioTransition || !isAttached() || hostLib->effect == nullptr)
        return false;
    audioTransition = true;
    const bool started = startAudioNow();
    audioTransition = false;
    return started;
}

bool KsVSTHostInterface::startAudioNow() {
    const int32_t previousPlayerState = playerState.load();
    if (previousPlayerState > 0)
        setPlayerState(0, loop); // it restarts below once audio runs again
    stopStream();
    if (running.load())
        return false; // the previous stream has not ended: never run two
    joinStreamThread();
    // Left by a stream that ended before a block took it, it would end this one.
    stopRequest.store(false);

    AudioDeviceSettings* input = nullptr;
    AudioDeviceSettings* output = nullptr;
    if (!openDevicesAndCheckFormats(input, output)) {
        releasePreparedStreams();
        return false;
    }
    prepareHostTime(*output);
    // A warning box of ours, or a box of the plug-in's inside its start-up
    // calls, runs the window thread's messages: a shutdown may have begun.
    if (startsRefused) {
        releasePreparedStreams();
        return false;
    }
    // The plug-in may have changed its counts since loading; no stream runs now.
    hostLib->prepareChannels(output->bufferSize);
    installHostHooks();
    if (!startStreaming(input, output)) {
        releasePreparedStreams();
        return false;
    }
    if (previousPlayerState != 0)
        setPlayerState(1, loop);
    return true;
}

// A start that fails lets go of the streams its opens prepared: an
// exclusive output would keep its device from every other program.
void KsVSTHostInterface::releasePreparedStreams() {
    for (AudioDeviceSettings* device : {settings->inputDevice, settings->outputDevice})
        if (KsAudioBase* driver = audioDrivers->driverFor(device))
            driver->releasePreparedStreams();
}

// Steps 4 to 7 of the start: open the chosen entries, warn about a missing
// input, drop the input of an instrument, refuse mismatched formats.
bool KsVSTHostInterface::openDevicesAndCheckFormats(AudioDeviceSettings*& input,
                                                    AudioDeviceSettings*& output) {
    if (KsAudioBase* driver = audioDrivers->driverFor(settings->inputDevice))
        driver->open(settings->inputDevice, false);
    if (settings->outputDevice == nullptr)
        return false;
    if (KsAudioBase* driver = audioDrivers->driverFor(settings->outputDevice))
        driver->open(settings->outputDevice, false);
    output = settings->outputDevice;
    if (output == nullptr)
        return false;

    const AEffect* effect = hostLib->effect;
    if (!isInstrument() && effect->numInputs > 0 && settings->inputDevice == nullptr)
        platform::showMessage(kNoInputWarning, "Warning");
    if (isInstrument() || effect->numInputs <= 0)
        settings->inputDevice = nullptr;
    input = settings->inputDevice;

    if (input != nullptr && input->sampleRate != output->sampleRate) {
        platform::showMessage(isWasapiType(output->type) ? kRateMismatchWasapi : kRateMismatch,
                              "Error");
        return false;
    }
    if (input != nullptr && input->bitsPerSample != output->bitsPerSample) {
        platform::showMessage(kBitsMismatch, "Error");
        return false;
    }
    // The plug-in is told the output's block size: a block of 0 would tell it
    // nothing while the driver hands it whole packets.
    return streamable(input) && streamable(output) && output->bufferSize > 0;
}

// Steps 8 to 11: block size and rate for the plug-in, and the host time.
void KsVSTHostInterface::prepareHostTime(const AudioDeviceSettings& output) {
    dispatch(effSetBlockSize, 0, output.bufferSize);
    const float rate = static_cast<float>(output.sampleRate);
    VstTimeInfo& time = hostLib->record.timeInfo;
    time.sampleRate = rate;
    dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    ppqPerSample = 1.0 / (static_cast<double>(rate) / (tempo.load() / 60.0));
    cpuMeter.read();
    time.tempo = tempo.load();
    lastClockPpq.store(0.0);
    clockPpq.store(0.0);
    ppqPos.store(0.0);
    time.ppqPos = 0.0;
    dispatch(effMainsChanged, 0, 1);
}

// Before the stream starts: the plug-in may call the hook from its first block.
void KsVSTHostInterface::installHostHooks() {
    hostLib->record.tempoUserData = this;
    hostLib->record.tempoHook = tempoHook;
}

bool KsVSTHostInterface::startStreaming(AudioDeviceSettings* input, AudioDeviceSettings* output) {
    if (output->type == audioDeviceAsio) {
        KsAudioBase* asio = audioDrivers->asio.get();
        if (asio == nullptr || !asio->start(input, output, audioCycle, this))
            return false;
        streamKind = StreamKind::asio;
        running.store(true);
        return true;
    }
    // A thread not yet collected would be overwritten, which ends the program.
    if (!isWasapiType(output->type) || streamThread.joinable())
        return false;
    streamKind = StreamKind::ownThread;
    streamLink = std::make_shared<StreamLink>(this);
    running.store(true);
    streamThread =
        std::thread(runStreamThread, streamLink, audioDrivers->driverFor(output), input, output);
    platform::sleepMs(kStreamStartWaitMs);
    return running.load();
}

void KsVSTHostInterface::runStreamThread(std::shared_ptr<StreamLink> link, KsAudioBase* driver,
                                         AudioDeviceSettings* input, AudioDeviceSettings* output) {
    platform::raiseCurrentThreadToTimeCritical();
    if (driver != nullptr) {
        driver->watchStopRequest(&link->ending);
        driver->start(input, output, streamCycle, link.get());
        // A thread left behind touches nothing of its owner's any more: the
        // drivers may be gone with the engine.
        if (link->state.load() != StreamLink::abandoned)
            driver->watchStopRequest(nullptr);
    }
    int expected = StreamLink::live;
    if (link->state.compare_exchange_strong(expected, StreamLink::ended))
        link->engine->running.store(false);
}

// Raising the link's own flag before looking at its state keeps the engine
// alive for the whole cycle: the destructor abandons the link first and then
// waits for the flag to drop.
bool KsVSTHostInterface::streamCycle(float** inputs, float** outputs, uint32_t frames, void* link) {
    auto* shared = static_cast<StreamLink*>(link);
    shared->inCycle.store(true);
    const bool result =
        shared->state.load() == StreamLink::live && shared->engine->cycle(inputs, outputs, frames);
    shared->inCycle.store(false, std::memory_order_release);
    return result;
}

void KsVSTHostInterface::joinStreamThread() {
    if (streamThread.joinable() && !running.load())
        streamThread.join();
}

// Inside a start (from the loop of its message) there is nothing to stop: the
// start has stopped the last stream before it shows anything, and its own
// stream does not run yet.
void KsVSTHostInterface::stopAudio() {
    if (audioTransition)
        return;
    audioTransition = true;
    stopStream();
    audioTransition = false;
}

void KsVSTHostInterface::stopStream() {
    if (!isAttached() || !running.load())
        return;
    if (streamKind == StreamKind::asio) {
        stopAsioStream();
    } else {
        stopRequest.store(true);
        if (streamLink != nullptr)
            streamLink->ending.store(true);
        for (int check = 0; check < kStopChecks && stopRequest.load() && running.load(); ++check)
            platform::sleepMs(kStopCheckIntervalMs);
    }
    // The stream thread clears `running` as it ends; give it the moment it
    // needs after its last cycle, then collect it.
    for (int check = 0; check < kStopChecks && running.load(); ++check)
        platform::sleepMs(kStopCheckIntervalMs);
    // A stream held up in a block keeps the request: the block it comes back
    // to ends it.
    if (!running.load())
        stopRequest.store(false);
    joinStreamThread();
}

// A block stuck in the plug-in, or in the driver's part of the block (the
// driver then keeps its stream), keeps the stream counted as running: a
// start would otherwise resize what that block still uses.
void KsVSTHostInterface::stopAsioStream() {
    KsAudioBase* asio = audioDrivers->asio.get();
    if (asio != nullptr)
        asio->stop();
    platform::sleepMs(kAsioStopWaitMs);
    if (!inCycle.load() && (asio == nullptr || !asio->running))
        running.store(false);
}

bool KsVSTHostInterface::audioCycle(float** inputs, float** outputs, uint32_t frames,
                                    void* engine) {
    return static_cast<KsVSTHostInterface*>(engine)->cycle(inputs, outputs, frames);
}

bool KsVSTHostInterface::cycle(float** inputs, float** outputs, uint32_t frames) {
    float* pair[2] = {inputs != nullptr && inputs[0] != nullptr ? inputs[0] : outputs[0],
                      inputs != nullptr && inputs[1] != nullptr ? inputs[1] : outputs[1]};
    // Flags are read before they are exchanged: a locked exchange in every
    // block would cost more than the rare request it looks for.
    if (stopRequest.load(std::memory_order_relaxed) && stopRequest.exchange(false))
        return false;
    inCycle.store(true);
    applyPendingTransportAndTempo();
    deliverEvents();
    startArmedByRequest();
    writeHostPosition();
    prepareInput(pair, frames);
    hostLib->process(pair, outputs, static_cast<int>(frames));
    tapRecorder(outputs, frames);
    // A reset to 0 from another thread (transport, player) is never lost:
    // the advance applies to whichever value is current.
    const double advance = frames * ppqPerSample;
    double position = ppqPos.load();
    while (!ppqPos.compare_exchange_weak(position, position + advance)) {
    }
    measureCpuLoad();
    // Raising the flag is a full fence (the window thread checks it after
    // stopping the player); lowering it only has to publish the block.
    inCycle.store(false, std::memory_order_release);
    return true;
}

void KsVSTHostInterface::measureCpuLoad() {
    if (cycleCount++ == kCyclesPerCpuReading) {
        cpuLoad.store(cpuMeter.read());
        cycleCount = 0;
    }
}

double KsVSTHostInterface::outputSampleRate() const {
    return static_cast<double>(static_cast<float>(settings->outputDevice->sampleRate));
}
