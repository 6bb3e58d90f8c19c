#pragma once

// The abstract MIDI driver and the message it delivers.
//
// Contract: the driver lists its devices at construction; `open` opens at most
// one input and one output per call (only the records' `deviceIndex` is used);
// every incoming short message is unpacked into the driver's one `message`
// record and handed to the callback on the driver's input thread, and once
// more with `status` 0 when an input is closed. The callback must not block.

#include "MidiDeviceSettings.h"

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

    // Unpacks a short message's three bytes.
    static MidiMessage fromBytes(uint8_t first, uint8_t second, uint8_t third, double deltaMs);
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
    // the open output; nothing happens without one.
    virtual void sendShortMessage(const MidiMessage& message) = 0;

    MidiMessage message;
    std::vector<std::unique_ptr<MidiDeviceSettings>> devices;
    bool closed = false;
};
