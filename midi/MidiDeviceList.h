#pragma once

// The MIDI driver's device list, built from what the system reports: every
// input (active), every output (inactive), then the system's MIDI mapper as
// the last output. Devices whose capabilities cannot be read are left out.

#include "MidiDeviceSettings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the system reports about its MIDI devices.
class MidiDeviceCatalog {
public:
    virtual ~MidiDeviceCatalog() = default;
    virtual uint32_t inputCount() const = 0;
    virtual uint32_t outputCount() const = 0;
    // The product name; none when the capabilities cannot be read.
    virtual std::optional<std::string> inputName(uint32_t id) const = 0;
    virtual std::optional<std::string> outputName(uint32_t id) const = 0;
};

constexpr uint32_t kMidiMapperId = 0xFFFFFFFF;

std::vector<std::unique_ptr<MidiDeviceSettings>>
buildMidiDeviceList(const MidiDeviceCatalog& catalog);
