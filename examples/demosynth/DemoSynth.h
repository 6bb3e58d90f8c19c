#pragma once

// The demo instrument's sound: a fixed pool of voices, each two slightly
// detuned oscillators under a linear attack and release, played by MIDI notes
// that are echoed back to the host.
//
// Threads: `receiveEvents` and `process` run on the audio thread and allocate,
// lock and block on nothing. The window thread may meanwhile change the
// parameters, read `heldNotes` and call `requestReset`, all through atomics.
// `setSampleRate` and `setEchoSender` belong to the time no audio runs.

#include "DemoParameters.h"
#include "vst2.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace demo {

constexpr int kVoiceCount = 8;
constexpr int kMaxEventsPerBlock = 256;
// The loudest a single voice gets, before the volume.
constexpr float kVoicePeak = 0.2f;

// Receives the block's echoed events once per `process` that played any.
using EchoSender = void (*)(VstEvents* events, void* user);

// The 128 MIDI notes, one bit each.
struct HeldNotes {
    uint64_t bits[2] = {0, 0};

    bool has(int note) const {
        return note >= 0 && note < 128 && (bits[note >> 6] >> (note & 63)) & 1u;
    }
    void add(int note) { bits[note >> 6] |= uint64_t{1} << (note & 63); }
    bool operator==(const HeldNotes&) const = default;
};

struct Voice {
    enum class Stage { idle, attack, sustain, release };

    Stage stage = Stage::idle;
    int note = 0;
    int channel = 0;
    uint64_t startOrder = 0; // larger is younger
    float level = 0.0f;      // the envelope, moving to `target` by `step` per frame
    float target = 0.0f;
    float step = 0.0f;
    double phase[2] = {0.0, 0.0}; // 0..1
    double increment[2] = {0.0, 0.0};

    bool sounding() const { return stage != Stage::idle; }
    bool held() const { return stage == Stage::attack || stage == Stage::sustain; }
};

// A block of event pointers with room for a whole block's echo.
struct EchoEvents {
    VstInt32 numEvents = 0;
    VstIntPtr reserved = 0;
    VstEvent* events[kMaxEventsPerBlock] = {};
};

class DemoSynth {
public:
    DemoSynth();
    DemoSynth(const DemoSynth&) = delete;
    DemoSynth& operator=(const DemoSynth&) = delete;

    DemoParameters& parameters() { return params; }
    const DemoParameters& parameters() const { return params; }

    // Rates that are not finite and positive are ignored.
    void setSampleRate(double rate);
    void setEchoSender(EchoSender sender, void* user);
    // Silences every voice at the start of the next block.
    void requestReset() { resetRequested.store(true, std::memory_order_release); }

    // Keeps the MIDI events of `events` for the next `process`; events past
    // the first kMaxEventsPerBlock, other types and null entries are dropped.
    void receiveEvents(const VstEvents* events);
    // Overwrites `channels` outputs (null entries skipped) with `frames`
    // frames, applying each kept event at its frame, and echoes the note
    // events (note on and off, all notes and all sound off) to the sender.
    void process(float* const* outputs, int channels, int frames);

    // Notes whose voice is held (not released), as of the last block.
    HeldNotes heldNotes() const;
    const Voice& voice(int index) const { return voices[static_cast<size_t>(index)]; }
    int soundingVoiceCount() const;

private:
    struct BlockSettings {
        float gainFrom;
        float gainStep;
        Waveform waveform;
        double attackFrames;
        double releaseFrames;
        double detuneRatio;
    };

    BlockSettings readSettings(int frames);
    // True for the events that are echoed: notes and the all-notes messages.
    bool applyEvent(const VstMidiEvent& event, const BlockSettings& settings);
    void noteOn(int channel, int note, int velocity, const BlockSettings& settings);
    void noteOff(int channel, int note, const BlockSettings& settings);
    void releaseAll(const BlockSettings& settings);
    Voice& chooseVoice(int channel, int note);
    void render(float* const* outputs, int channels, int from, int to, BlockSettings& settings);
    void echo(const VstMidiEvent& event, VstInt32 frame);
    void publishHeldNotes();
    void silence();

    DemoParameters params;
    double sampleRate = 44100.0;
    std::array<Voice, kVoiceCount> voices{};
    uint64_t nextStartOrder = 1;
    float currentGain;

    std::array<VstMidiEvent, kMaxEventsPerBlock> pending{};
    int pendingCount = 0;

    std::array<VstMidiEvent, kMaxEventsPerBlock> echoed{};
    EchoEvents echoBlock;
    EchoSender echoSender = nullptr;
    void* echoUser = nullptr;

    std::atomic<bool> resetRequested{false};
    std::atomic<uint64_t> heldBits[2] = {0, 0};
};

} // namespace demo
