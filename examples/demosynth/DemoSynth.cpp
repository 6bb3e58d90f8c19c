#include "DemoSynth.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace demo {

static_assert(offsetof(EchoEvents, numEvents) == offsetof(VstEvents, numEvents));
static_assert(offsetof(EchoEvents, events) == offsetof(VstEvents, events));

namespace {

constexpr int kStatusNoteOff = 0x80;
constexpr int kStatusNoteOn = 0x90;
constexpr int kStatusController = 0xB0;
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;
constexpr double kTwoPi = 6.28318530717958647692;

double noteFrequency(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Softens the jump of a saw or square edge over the two frames around it, so
// high notes do not fold back as harsh aliases.
double polyBlep(double phase, double increment) {
    if (phase < increment) {
        const double t = phase / increment;
        return t + t - t * t - 1.0;
    }
    if (phase > 1.0 - increment) {
        const double t = (phase - 1.0) / increment;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

double oscillator(Waveform waveform, double phase, double increment) {
    switch (waveform) {
    case Waveform::sine:
        return std::sin(kTwoPi * phase);
    case Waveform::triangle:
        return 4.0 * std::fabs(phase - 0.5) - 1.0;
    case Waveform::saw:
        return 2.0 * phase - 1.0 - polyBlep(phase, increment);
    case Waveform::square: {
        const double half = phase < 0.5 ? 1.0 : -1.0;
        const double shifted = phase + 0.5 < 1.0 ? phase + 0.5 : phase - 0.5;
        return half + polyBlep(phase, increment) - polyBlep(shifted, increment);
    }
    }
    return 0.0;
}

void advanceEnvelope(Voice& voice) {
    if (voice.stage != Voice::Stage::attack && voice.stage != Voice::Stage::release)
        return;
    voice.level += voice.step;
    const bool arrived =
        voice.step >= 0.0f ? voice.level >= voice.target : voice.level <= voice.target;
    if (!arrived)
        return;
    voice.level = voice.target;
    voice.stage = voice.stage == Voice::Stage::attack ? Voice::Stage::sustain : Voice::Stage::idle;
}

void advancePhase(double& phase, double increment) {
    phase += increment;
    if (phase >= 1.0)
        phase -= 1.0;
}

void startRelease(Voice& voice, double releaseFrames) {
    voice.target = 0.0f;
    voice.step = -voice.level / static_cast<float>(releaseFrames);
    voice.stage = voice.level > 0.0f ? Voice::Stage::release : Voice::Stage::idle;
}

} // namespace

DemoSynth::DemoSynth() : currentGain(volumeGain(params.get(kVolume))) {
    for (size_t i = 0; i < echoed.size(); ++i)
        echoBlock.events[i] = reinterpret_cast<VstEvent*>(&echoed[i]);
}

void DemoSynth::setSampleRate(double rate) {
    if (std::isfinite(rate) && rate > 0.0)
        sampleRate = rate;
}

void DemoSynth::setEchoSender(EchoSender sender, void* user) {
    echoSender = sender;
    echoUser = user;
}

void DemoSynth::receiveEvents(const VstEvents* events) {
    if (events == nullptr)
        return;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (event == nullptr || event->type != kVstMidiType)
            continue;
        if (pendingCount == kMaxEventsPerBlock)
            return;
        pending[static_cast<size_t>(pendingCount++)] =
            *reinterpret_cast<const VstMidiEvent*>(event);
    }
}

DemoSynth::BlockSettings DemoSynth::readSettings(int frames) {
    const float gainTo = volumeGain(params.get(kVolume));
    BlockSettings settings{};
    settings.gainFrom = currentGain;
    settings.gainStep = frames > 0 ? (gainTo - currentGain) / static_cast<float>(frames) : 0.0f;
    settings.waveform = waveformOf(params.get(kWaveform));
    settings.attackFrames = std::max(1.0, attackSeconds(params.get(kAttack)) * sampleRate);
    settings.releaseFrames = std::max(1.0, releaseSeconds(params.get(kRelease)) * sampleRate);
    settings.detuneRatio = std::pow(2.0, detuneCents(params.get(kDetune)) / 1200.0);
    currentGain = gainTo;
    return settings;
}

void DemoSynth::process(float* const* outputs, int channels, int frames) {
    if (resetRequested.exchange(false, std::memory_order_acquire))
        silence();
    frames = std::max(frames, 0);
    channels = outputs == nullptr ? 0 : std::max(channels, 0);
    for (int c = 0; c < channels; ++c) {
        if (outputs[c] != nullptr)
            std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(frames));
    }
    BlockSettings settings = readSettings(frames);
    echoBlock.numEvents = 0;
    int position = 0;
    for (int i = 0; i < pendingCount; ++i) {
        const VstMidiEvent& event = pending[static_cast<size_t>(i)];
        const int at = std::clamp(event.deltaFrames, position, frames);
        render(outputs, channels, position, at, settings);
        if (applyEvent(event, settings))
            echo(event, at);
        position = at;
    }
    pendingCount = 0;
    render(outputs, channels, position, frames, settings);
    publishHeldNotes();
    if (echoBlock.numEvents > 0 && echoSender != nullptr)
        echoSender(reinterpret_cast<VstEvents*>(&echoBlock), echoUser);
}

bool DemoSynth::applyEvent(const VstMidiEvent& event, const BlockSettings& settings) {
    const auto* data = reinterpret_cast<const unsigned char*>(event.midiData);
    const int status = data[0] & 0xF0;
    const int channel = data[0] & 0x0F;
    const int first = data[1] & 0x7F;
    const int second = data[2] & 0x7F;
    if (status == kStatusNoteOn && second > 0) {
        noteOn(channel, first, second, settings);
        return true;
    }
    if (status == kStatusNoteOff || status == kStatusNoteOn) {
        noteOff(channel, first, settings);
        return true;
    }
    if (status == kStatusController && (first == kAllNotesOff || first == kAllSoundOff)) {
        releaseAll(settings);
        return true;
    }
    return false;
}

// A note already sounding on its channel keeps its voice; then a free voice;
// then the quietest released one; last the oldest held one.
Voice& DemoSynth::chooseVoice(int channel, int note) {
    Voice* quietestReleased = nullptr;
    Voice* oldestHeld = nullptr;
    Voice* idle = nullptr;
    for (Voice& voice : voices) {
        if (voice.sounding() && voice.note == note && voice.channel == channel)
            return voice;
        if (!voice.sounding()) {
            idle = idle != nullptr ? idle : &voice;
        } else if (voice.stage == Voice::Stage::release) {
            if (quietestReleased == nullptr || voice.level < quietestReleased->level)
                quietestReleased = &voice;
        } else if (oldestHeld == nullptr || voice.startOrder < oldestHeld->startOrder) {
            oldestHeld = &voice;
        }
    }
    if (idle != nullptr)
        return *idle;
    return quietestReleased != nullptr ? *quietestReleased : *oldestHeld;
}

// A voice taken over while it sounds keeps its phase and level and glides
// to the new note's level, so taking it makes no click.
void DemoSynth::noteOn(int channel, int note, int velocity, const BlockSettings& settings) {
    Voice& voice = chooseVoice(channel, note);
    if (!voice.sounding()) {
        voice.level = 0.0f;
        voice.phase[0] = voice.phase[1] = 0.0;
    }
    const double spread = std::sqrt(settings.detuneRatio);
    const double increment = noteFrequency(note) / sampleRate;
    voice.increment[0] = std::min(increment / spread, 0.5);
    voice.increment[1] = std::min(increment * spread, 0.5);
    voice.note = note;
    voice.channel = channel;
    voice.startOrder = nextStartOrder++;
    voice.target = static_cast<float>(velocity) / 127.0f;
    voice.step = (voice.target - voice.level) / static_cast<float>(settings.attackFrames);
    voice.stage = Voice::Stage::attack;
}

void DemoSynth::noteOff(int channel, int note, const BlockSettings& settings) {
    for (Voice& voice : voices) {
        if (voice.held() && voice.note == note && voice.channel == channel)
            startRelease(voice, settings.releaseFrames);
    }
}

void DemoSynth::releaseAll(const BlockSettings& settings) {
    for (Voice& voice : voices) {
        if (voice.held())
            startRelease(voice, settings.releaseFrames);
    }
}

void DemoSynth::render(float* const* outputs, int channels, int from, int to,
                       BlockSettings& settings) {
    for (Voice& voice : voices) {
        for (int i = from; i < to && voice.sounding(); ++i) {
            const double first = oscillator(settings.waveform, voice.phase[0], voice.increment[0]);
            const double second = oscillator(settings.waveform, voice.phase[1], voice.increment[1]);
            const float amplitude = kVoicePeak * voice.level;
            const float left = amplitude * static_cast<float>(0.6 * first + 0.4 * second);
            const float right = amplitude * static_cast<float>(0.4 * first + 0.6 * second);
            for (int c = 0; c < channels; ++c) {
                if (outputs[c] != nullptr)
                    outputs[c][i] += c % 2 == 0 ? left : right;
            }
            advancePhase(voice.phase[0], voice.increment[0]);
            advancePhase(voice.phase[1], voice.increment[1]);
            advanceEnvelope(voice);
        }
    }
    for (int c = 0; c < channels; ++c) {
        if (outputs[c] == nullptr)
            continue;
        for (int i = from; i < to; ++i)
            outputs[c][i] *= settings.gainFrom + settings.gainStep * static_cast<float>(i);
    }
}

void DemoSynth::echo(const VstMidiEvent& event, VstInt32 frame) {
    VstMidiEvent& copy = echoed[static_cast<size_t>(echoBlock.numEvents++)];
    copy = event;
    copy.type = kVstMidiType;
    copy.byteSize = sizeof(VstMidiEvent);
    copy.deltaFrames = frame;
}

void DemoSynth::publishHeldNotes() {
    HeldNotes held;
    for (const Voice& voice : voices) {
        if (voice.held())
            held.add(voice.note);
    }
    heldBits[0].store(held.bits[0], std::memory_order_release);
    heldBits[1].store(held.bits[1], std::memory_order_release);
}

void DemoSynth::silence() {
    for (Voice& voice : voices)
        voice = Voice{};
}

HeldNotes DemoSynth::heldNotes() const {
    HeldNotes held;
    held.bits[0] = heldBits[0].load(std::memory_order_acquire);
    held.bits[1] = heldBits[1].load(std::memory_order_acquire);
    return held;
}

int DemoSynth::soundingVoiceCount() const {
    return static_cast<int>(
        std::count_if(voices.begin(), voices.end(), [](const Voice& v) { return v.sounding(); }));
}

} // namespace demo
