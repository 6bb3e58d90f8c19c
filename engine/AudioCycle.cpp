// Audio start and stop, and the cycle the drivers run once per block.

#include "KsVSTHostInterface.h"

#include "Clock.h"
#include "MessageBox.h"
#include "Thread.h"

#include <cstring>

namespace {

constexpr uint32_t kStreamStartWaitMs = 500;
constexpr uint32_t kAsioStopWaitMs = 500;
constexpr int kStopChecks = 6;
constexpr uint32_t kStopCheckIntervalMs = 50;
constexpr int32_t kCyclesPerCpuReading = 100;

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

KsVSTHostInterface::~KsVSTHostInterface() {
    if (streamThread.joinable()) {
        stopRequest.store(true);
        streamThread.join();
    }
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

bool KsVSTHostInterface::startAudio() {
    if (!isAttached() || hostLib->effect == nullptr)
        return false;
    const int32_t previousPlayerState = playerState.load();
    if (previousPlayerState > 0)
        setPlayerState(0, loop); // it restarts below once audio runs again
    stopAudio();
    if (running.load())
        return false; // the previous stream has not ended: never run two
    joinStreamThread();

    AudioDeviceSettings* input = nullptr;
    AudioDeviceSettings* output = nullptr;
    if (!openDevicesAndCheckFormats(input, output))
        return false;
    prepareHostTime(*output);
    if (!startStreaming(input, output))
        return false;
    hostLib->record.tempoHook = tempoHook;
    hostLib->record.tempoUserData = this;
    if (previousPlayerState != 0)
        setPlayerState(1, loop);
    return true;
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
    return true;
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
    lastClockPpq = 0.0;
    clockPpq.store(0.0);
    ppqPos.store(0.0);
    time.ppqPos = 0.0;
    dispatch(effMainsChanged, 0, 1);
}

bool KsVSTHostInterface::startStreaming(AudioDeviceSettings* input, AudioDeviceSettings* output) {
    if (output->type == audioDeviceAsio) {
        if (!audioDrivers->asio->start(input, output, audioCycle, this))
            return false;
        running.store(true);
        return true;
    }
    if (!isWasapiType(output->type))
        return false;
    running.store(true);
    streamThread = std::thread(&KsVSTHostInterface::runStreamThread, this, input, output);
    platform::sleepMs(kStreamStartWaitMs);
    return running.load();
}

void KsVSTHostInterface::runStreamThread(AudioDeviceSettings* input, AudioDeviceSettings* output) {
    platform::raiseCurrentThreadToTimeCritical();
    if (KsAudioBase* driver = audioDrivers->driverFor(output))
        driver->start(input, output, audioCycle, this);
    running.store(false);
}

void KsVSTHostInterface::joinStreamThread() {
    if (streamThread.joinable() && !running.load())
        streamThread.join();
}

void KsVSTHostInterface::stopAudio() {
    if (!isAttached() || !running.load())
        return;
    const AudioDeviceSettings* output = settings->outputDevice;
    if (output != nullptr && output->type == audioDeviceAsio) {
        audioDrivers->asio->stop();
        platform::sleepMs(kAsioStopWaitMs);
        running.store(false);
    } else {
        stopRequest.store(true);
        for (int check = 0; check < kStopChecks && stopRequest.load(); ++check)
            platform::sleepMs(kStopCheckIntervalMs);
    }
    stopRequest.store(false);
    // The stream thread clears `running` as it ends; give it the moment it
    // needs after its last cycle, then collect it.
    for (int check = 0; check < kStopChecks && running.load(); ++check)
        platform::sleepMs(kStopCheckIntervalMs);
    joinStreamThread();
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
    if (startBothRequest.load(std::memory_order_relaxed) && startBothRequest.exchange(false)) {
        playerState.store(1);
        recorderState.store(1);
        ppqPos.store(0.0);
    }
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
