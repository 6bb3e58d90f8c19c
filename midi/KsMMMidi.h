#pragma once

// The MIDI driver over the Windows multimedia system (winmm).
//
// Each open input has a context of its own (callback, user data, clock
// time); its messages are delivered on the multimedia system's thread, each
// into a record of its own. `close` resets and closes every input and waits
// for each close notice, so no callback runs after it returns. The output
// handle sits behind a gate: `sendShortMessage` from the audio thread never
// waits and never reaches a closed handle.

#include "KsMidiBase.h"
#include "MidiInputDelivery.h"
#include "MidiOutputGate.h"

#include <memory>
#include <vector>

class KsMMMidi : public KsMidiBase {
public:
    KsMMMidi();
    ~KsMMMidi() override;

    bool open(const MidiDeviceSettings* input, const MidiDeviceSettings* output,
              MidiInputCallback callback, void* userData) override;
    void close() override;
    void sendShortMessage(const MidiMessage& message) override;

private:
    struct OpenInput {
        uintptr_t handle;
        std::unique_ptr<MidiInputContext> context;
    };

    bool openInput(const MidiDeviceSettings& device, MidiInputCallback callback, void* userData);
    bool openOutput(const MidiDeviceSettings& device);
    // Stops, resets and closes the input; frees its context once its close
    // notice has come (a context whose notice never comes is kept, so a late
    // delivery cannot reach freed memory).
    void closeInput(OpenInput& input);

    std::vector<OpenInput> inputs;
    MidiOutputGate output;
    MidiArrivalTimer arrivals;
};
