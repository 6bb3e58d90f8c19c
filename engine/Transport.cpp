// Tempo, transport and host time: what the plug-in reads through
// audioMasterGetTime, kept current by the cycle.

#include "KsVSTHostInterface.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kClockTickPpq = 0.0416666679084301;        // 1/24 in single precision
constexpr double kUnchangedClockPpq = 0.010416666977107525; // 1/96 in single precision
constexpr int32_t kClocksPerBeat = 24;
constexpr int64_t kLongestTapIntervalMs = 1333;

void setPlayingBit(VstTimeInfo& time, bool playing) {
    if (playing)
        time.flags |= kVstTransportPlaying;
    else
        time.flags &= ~kVstTransportPlaying;
}

// A tempo the position can advance by: a NaN, infinite, zero or negative one
// would spoil the position for good.
bool isUsableTempo(double bpm) {
    return std::isfinite(bpm) && bpm > 0.0;
}

void addTo(std::atomic<double>& value, double amount) {
    double current = value.load();
    while (!value.compare_exchange_weak(current, current + amount)) {
    }
}

} // namespace

// Every change is stored before it is published, and the cycle applies the
// tempo current when it takes the flag: a change overtaking a pending one
// simply replaces it, so nobody has to wait for the cycle.
void KsVSTHostInterface::setTempo(double bpm) {
    requestTempo(bpm);
}

void KsVSTHostInterface::requestTempo(double bpm) {
    if (!isUsableTempo(bpm) || bpm == tempo.load())
        return;
    tempo.store(bpm);
    tempoPending.store(true);
}

// `transportRequested` is the transport wanted once every request is applied;
// exchanging it tells whether this request changes anything, and only a
// change is published.
void KsVSTHostInterface::setTransport(bool playing) {
    if (transportRequested.exchange(playing) != playing)
        transportPending.store(true);
}

// Opcode 53 from the plug-in, on whatever thread it calls from: the cycle
// applies it like any other request, so only the cycle writes `timeInfo`.
void KsVSTHostInterface::transportHook(bool playing, void* engine) {
    static_cast<KsVSTHostInterface*>(engine)->setTransport(playing);
}

void KsVSTHostInterface::applyPendingTransportAndTempo() {
    VstTimeInfo& time = hostLib->record.timeInfo;
    // Flags are read before they are exchanged: a locked exchange in every
    // block would cost more than the rare request it looks for.
    if (transportPending.load(std::memory_order_relaxed) && transportPending.exchange(false)) {
        const bool playing = transportRequested.load();
        setPlayingBit(time, playing);
        transportPlaying.store(playing, std::memory_order_relaxed);
        if (playing)
            ppqPos.store(0.0);
    }
    if (tempoPending.load(std::memory_order_relaxed) && tempoPending.exchange(false)) {
        const double bpm = tempo.load();
        ppqPerSample = 1.0 / (outputSampleRate() / (bpm * (1.0 / 60.0)));
        time.tempo = bpm;
    }
}

void KsVSTHostInterface::writeHostPosition() {
    VstTimeInfo& time = hostLib->record.timeInfo;
    if (!syncActive.load()) {
        time.ppqPos = ppqPos.load();
        return;
    }
    const double clock = clockPpq.load();
    if (clock < 0.0)
        return;
    if (clock != lastClockPpq.load()) {
        time.ppqPos = clock;
        lastClockPpq.store(clock);
    } else {
        time.ppqPos = clock + kUnchangedClockPpq;
    }
}

void KsVSTHostInterface::tempoHook(double bpm, void* engine) {
    auto* self = static_cast<KsVSTHostInterface*>(engine);
    if (!isUsableTempo(bpm) || bpm == self->tempo.load())
        return;
    self->requestTempo(bpm);
    self->settings->tempo.store(bpm);
    self->settingsSaveRequested.store(true);
}

bool KsVSTHostInterface::saveSettingsIfRequested() {
    if (settings == nullptr || !settingsSaveRequested.exchange(false))
        return false;
    settings->save();
    return true;
}

void KsVSTHostInterface::handleSystemMessage(const MidiMessage& message, InputContext& input) {
    const MidiDeviceSettings& device = *input.device;
    if (!readSharedOption(device.sync))
        return;
    switch (message.status) {
    case 0xFA: { // Start
        input.clockAccumulatedMs = 0.0;
        input.clockCount = 0;
        const double start = getTempo() / 60000.0 * readSharedOption(device.delay);
        clockPpq.store(start);
        lastClockPpq.store(start - 1.0);
        ppqPos.store(0.0);
        setTransport(true);
        break;
    }
    case 0xFC: // Stop
        setTransport(false);
        break;
    case 0xF8:
        handleClock(message, input);
        break;
    default:
        break;
    }
}

void KsVSTHostInterface::handleClock(const MidiMessage& message, InputContext& input) {
    const bool playing = transportPlaying.load(std::memory_order_relaxed);
    // Timed from the previous clock of the same input: notes, active sensing
    // or another input between two clocks do not shorten the interval.
    if ((readSharedOption(input.device->syncWhilePlaying) || !playing) &&
        message.clockIntervalMs > 0.0) {
        input.clockAccumulatedMs += message.clockIntervalMs;
        if (++input.clockCount == kClocksPerBeat) {
            const double bpm = std::floor(60000.0 / input.clockAccumulatedMs * 10.0 + 0.5) / 10.0;
            input.clockAccumulatedMs = 0.0;
            input.clockCount = 0;
            if (bpm != tempo.load()) {
                requestTempo(bpm);
                settings->tempo.store(bpm);
            }
        }
    }
    addTo(clockPpq, kClockTickPpq);
}

// A message matching the learned trigger taps; a controller taps only on a
// rise from below 65 to 65 or more. True when the message is used up.
bool KsVSTHostInterface::handleTapTrigger(const MidiMessage& message) {
    const std::optional<MidiMessage> learned = learnedTapMessage();
    if (!learned || learned->status != message.status || learned->data1 != message.data1)
        return false;
    // One step, so inputs delivering at once cannot both see the same rise.
    const bool wasLow = tapCCWasLow.exchange(message.data2 < 65);
    if (message.status == 0xB0 && !(message.data2 >= 65 && wasLow))
        return false;
    // Keeps the tap series whole without waiting: a tap arriving while
    // another input's tap is being counted is used up uncounted.
    if (tapInProgress.test_and_set(std::memory_order_acquire))
        return true;
    tap();
    tapInProgress.clear(std::memory_order_release);
    return true;
}

void KsVSTHostInterface::tap() {
    const int64_t counter = readPerformanceCounter();
    const int64_t interval = (counter - lastTapCounter) * 1000 / perfFrequency;
    if (interval <= kLongestTapIntervalMs) {
        tapSumMs += static_cast<uint32_t>(interval);
        tapCount += 1;
    } else {
        tapSumMs = 0;
        tapCount = 0;
    }
    if (tapCount > 0) {
        const uint32_t averageMs = tapSumMs / static_cast<uint32_t>(tapCount);
        double bpm = averageMs == 0 ? 250.0 : 60000.0 / averageMs;
        bpm = std::clamp(bpm, 45.0, 250.0);
        requestTempo(std::floor(bpm * 100.0 + 0.5) / 100.0);
    }
    lastTapCounter = counter;
}

// Only the input that claims learning learns, however many deliver at once;
// the others' messages go on to the plug-in. Learning ends only once the
// trigger is stored, so the window never sees it ended without one.
bool KsVSTHostInterface::handleTapLearning(const MidiMessage& message) {
    if (!learnMode.load() || learnClaim.test_and_set())
        return false;
    setLearnedTapMessage(message.status, message.data1);
    tapCCWasLow.store(false);
    settings->tempoTab.store(message.status * 256 + message.data1);
    learnMode.store(false);
    settingsSaveRequested.store(true);
    return true;
}
