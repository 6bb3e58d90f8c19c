#include "HostSettings.h"

using platform::RegistryKey;
using platform::RegistryRoot;
namespace values = settingsValues;

namespace {

// A device's values in their stored order, one table for reading and writing.
struct DeviceValue {
    const char* name;
    bool MidiDeviceSettings::*flag;
    int32_t MidiDeviceSettings::*number;
};

constexpr DeviceValue kDeviceValues[] = {
    {"in", &MidiDeviceSettings::isInput, nullptr},
    {"active", &MidiDeviceSettings::active, nullptr},
    {"sync", &MidiDeviceSettings::sync, nullptr},
    {"syncWhilePlaying", &MidiDeviceSettings::syncWhilePlaying, nullptr},
    {"delay", nullptr, &MidiDeviceSettings::delay},
    {"filterCCMessages", &MidiDeviceSettings::filterCCMessages, nullptr},
    {"filterProgramChanges", &MidiDeviceSettings::filterProgramChanges, nullptr},
    {"channel", nullptr, &MidiDeviceSettings::channel},
    {"keyboardRangeLeft", nullptr, &MidiDeviceSettings::keyboardRangeLeft},
    {"keyboardRangeRight", nullptr, &MidiDeviceSettings::keyboardRangeRight},
};

void readMidiDevice(const RegistryKey& key, MidiDeviceSettings& device) {
    values::readString(key, "name", device.name);
    for (const DeviceValue& value : kDeviceValues) {
        if (value.flag != nullptr)
            values::readBool(key, value.name, device.*value.flag);
        else
            values::readDword(key, value.name, device.*value.number);
    }
}

void writeMidiDevice(RegistryKey& key, const MidiDeviceSettings& device) {
    values::writeString(key, "name", device.name);
    for (const DeviceValue& value : kDeviceValues) {
        if (value.flag != nullptr)
            values::writeBool(key, value.name, device.*value.flag);
        else
            values::writeDword(key, value.name, device.*value.number);
    }
}

} // namespace

std::string HostSettings::midiDeviceKeyPath(size_t position) const {
    return hostKeyPath() + "\\Midi Device " + std::to_string(position);
}

// Keys are read from number 0 up to the first one missing; later ones are
// never reached.
void HostSettings::loadMidiDevices() {
    for (size_t position = 0;; ++position) {
        const RegistryKey key =
            RegistryKey::openForReading(RegistryRoot::currentUser, midiDeviceKeyPath(position));
        if (!key.isOpen())
            return;
        auto device = std::make_unique<MidiDeviceSettings>();
        readMidiDevice(key, *device);
        midiDevices.push_back(std::move(device));
    }
}

// Records are numbered by their position, so a device keeps its key number
// from run to run; keys beyond the list are left as they are.
void HostSettings::saveMidiDevices() {
    for (size_t position = 0; position < midiDevices.size(); ++position) {
        RegistryKey key =
            RegistryKey::create(RegistryRoot::currentUser, midiDeviceKeyPath(position));
        if (key.isOpen())
            writeMidiDevice(key, *midiDevices[position]);
    }
}

void HostSettings::mergeMidiDevices(const MidiDeviceList& driverDevices) {
    for (const auto& present : driverDevices) {
        if (MidiDeviceSettings* known = findMidiDevice(*present)) {
            known->deviceIndex = present->deviceIndex;
            present->active = known->active;
            continue;
        }
        auto added = std::make_unique<MidiDeviceSettings>();
        added->deviceIndex = present->deviceIndex;
        added->name = present->name;
        added->isInput = present->isInput;
        added->active = present->active;
        midiDevices.push_back(std::move(added));
    }
}

MidiDeviceSettings* HostSettings::findMidiDevice(const MidiDeviceSettings& device) const {
    for (const auto& known : midiDevices) {
        if (known->sameDeviceAs(device))
            return known.get();
    }
    return nullptr;
}

bool HostSettings::anySyncedInputActive() const {
    for (const auto& known : midiDevices) {
        if (known->active && known->sync)
            return true;
    }
    return false;
}
