#include "HostSettings.h"

using platform::RegistryKey;
using platform::RegistryRoot;
namespace values = settingsValues;

namespace {

void readMidiDevice(const RegistryKey& key, MidiDeviceSettings& device) {
    values::readString(key, "name", device.name);
    values::readBool(key, "in", device.isInput);
    values::readBool(key, "active", device.active);
    values::readBool(key, "sync", device.sync);
    values::readBool(key, "syncWhilePlaying", device.syncWhilePlaying);
    values::readDword(key, "delay", device.delay);
    values::readBool(key, "filterCCMessages", device.filterCCMessages);
    values::readBool(key, "filterProgramChanges", device.filterProgramChanges);
    values::readDword(key, "channel", device.channel);
    values::readDword(key, "keyboardRangeLeft", device.keyboardRangeLeft);
    values::readDword(key, "keyboardRangeRight", device.keyboardRangeRight);
}

void writeMidiDevice(RegistryKey& key, const MidiDeviceSettings& device) {
    values::writeString(key, "name", device.name);
    values::writeBool(key, "in", device.isInput);
    values::writeBool(key, "active", device.active);
    values::writeBool(key, "sync", device.sync);
    values::writeBool(key, "syncWhilePlaying", device.syncWhilePlaying);
    values::writeDword(key, "delay", device.delay);
    values::writeBool(key, "filterCCMessages", device.filterCCMessages);
    values::writeBool(key, "filterProgramChanges", device.filterProgramChanges);
    values::writeDword(key, "channel", device.channel);
    values::writeDword(key, "keyboardRangeLeft", device.keyboardRangeLeft);
    values::writeDword(key, "keyboardRangeRight", device.keyboardRangeRight);
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
