#pragma once

// The abstract MIDI driver and the message it delivers.
//
// Contract: the driver lists its devices at construction; `open` opens at most
// one input and one output per call (only the records' `deviceIndex` is used);
// every incoming short message is unpacked into a record of its own delivery
// and handed to the callback on the driver's input thread, and once more with
// `status` 0 when an input is closed. Deliveries of different inputs may run
// at the same time; the record is valid only during the callback, which must
// not block. Once `close` has returned no callback runs any more, so the
// caller may free what its user data points to.
// `sendShortMessage` may be called from the audio thread while the window
// thread opens and closes: it never waits.

#include "MidiDeviceSettings.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct MidiMessage {
    uint8_t status = 0; // channel messages: first byte without channel bits; 0 = input closed
    uint8_t type = 0;   // first byte & 0xF0
    uint8_t channel = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    double deltaMs = 0.0; // since the previous message on any input of the driver
    // A clock (0xF8) only: since the previous clock of the same input, 0 for
    // its first; other messages between two clocks do not shorten it.
    double clockIntervalMs = 0.0;

    // Unpacks a short message's three bytes.
    static MidiMessage fromBytes(uint8_t first, uint8_t second, uint8_t third, double deltaMs);
    // Unpacks a message as winmm packs it: first byte in bits 0 to 7, the
    // second in 8 to 15, the third in 16 to 23.
    static MidiMessage fromPacked(uint32_t packed);
};

using MidiInputCallback = void (*)(const MidiMessage& message, void* userData);

class KsMidiBase {
public:
    KsMidiBase() = default;
    virtual ~KsMidiBase() = default;
    KsMidiBase(const KsMidiBase&) = delete;
    KsMidiBase& operator=(const KsMidiBase&) = delete;

    virtual bool open(const MidiDeviceSettings* input, const MidiDeviceSettings* output,
                      MidiInputCallback callback, void* userData) = 0;
    virtual void close() = 0;
    // Sends `status` (whole byte, channel included), `data1` and `data2` to
    // the open output; nothing happens without one or after `close`.
    virtual void sendShortMessage(const MidiMessage& message) = 0;

    MidiMessage message;
    std::vector<std::unique_ptr<MidiDeviceSettings>> devices;
    std::atomic<bool> closed{false};
};
