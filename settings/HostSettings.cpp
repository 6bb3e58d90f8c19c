#include "HostSettings.h"

using platform::RegistryKey;
using platform::RegistryRoot;
namespace values = settingsValues;

namespace {

const char* const kKeyPrefix = "Software\\Kestrune\\";

bool isKnownDeviceType(int32_t type) {
    return type == audioDeviceAsio || type == audioDeviceWasapiShared ||
           type == audioDeviceWasapiExclusive;
}

AudioDeviceSettings* findAudioDevice(const AudioDeviceList& devices, bool isInput, int32_t type,
                                     const std::string& name) {
    for (const auto& device : devices) {
        if (device->isInput == isInput && device->type == type && device->name == name)
            return device.get();
    }
    return nullptr;
}

// Restores the channels and buffer size stored for one direction; a missing
// buffer size means the 1024 the program has always used.
void loadDeviceOptions(const RegistryKey& host, const std::string& prefix,
                       AudioDeviceSettings& device) {
    values::readDword(host, prefix + " Left", device.leftChannel);
    values::readDword(host, prefix + " Right", device.rightChannel);
    if (!values::readDword(host, prefix + " BufferSize", device.bufferSize))
        device.bufferSize = 1024;
}

void saveDevice(RegistryKey& host, const std::string& prefix, const AudioDeviceSettings& device) {
    values::writeDword(host, "AudioDeviceType", device.type);
    values::writeString(host, prefix + " Name", device.name);
    values::writeDword(host, prefix + " Left", device.leftChannel);
    values::writeDword(host, prefix + " Right", device.rightChannel);
    values::writeDword(host, prefix + " BufferSize", device.bufferSize);
}

} // namespace

HostSettings::HostSettings(const std::string& pluginName, bool isInstrument)
    : sampleLooped(!isInstrument), sampleCalcTempo(!isInstrument),
      openPlayerOnStartup(!isInstrument), keyPath(kKeyPrefix + pluginName),
      key(RegistryKey::create(RegistryRoot::currentUser, keyPath)) {}

void HostSettings::load(const AudioDeviceList& wasapiDevices, const AudioDeviceList& asioDevices) {
    std::lock_guard lock(storeMutex);
    const RegistryKey host = RegistryKey::open(RegistryRoot::currentUser, hostKeyPath());
    if (!host.isOpen())
        return;
    loadAudioDevices(host, wasapiDevices, asioDevices);
    loadMidiDevices();
    loadPlayerOptions(host);
}

void HostSettings::loadAudioDevices(const RegistryKey& host, const AudioDeviceList& wasapiDevices,
                                    const AudioDeviceList& asioDevices) {
    int32_t type = 0;
    if (!values::readDword(host, "AudioDeviceType", type) || !isKnownDeviceType(type))
        return;
    const AudioDeviceList& devices = type == audioDeviceAsio ? asioDevices : wasapiDevices;
    // One text serves both names: a missing output name means the input's.
    std::string name;
    values::readString(host, "AudioDeviceIn Name", name);
    inputDevice = findAudioDevice(devices, true, type, name);
    values::readString(host, "AudioDeviceOut Name", name);
    outputDevice = findAudioDevice(devices, false, type, name);
    if (inputDevice != nullptr)
        loadDeviceOptions(host, "AudioDeviceIn", *inputDevice);
    if (outputDevice != nullptr)
        loadDeviceOptions(host, "AudioDeviceOut", *outputDevice);

    std::string tempoText;
    double bpm = kDefaultTempo;
    if (!values::readString(host, "Tempo", tempoText) || !values::parseTempo(tempoText, bpm))
        bpm = kDefaultTempo;
    tempo.store(bpm);
}

namespace {

// The player's values in their stored order, one table for loading and
// saving so the two can never disagree on a name.
struct PlayerOption {
    const char* name;
    bool HostSettings::*flag;
    int32_t HostSettings::*number;
};

constexpr PlayerOption kPlayerOptions[] = {
    {"sampleLooped", &HostSettings::sampleLooped, nullptr},
    {"sampleStartByMidi", &HostSettings::sampleStartByMidi, nullptr},
    {"sampleCalcTempo", &HostSettings::sampleCalcTempo, nullptr},
    {"sampleRecordOption", nullptr, &HostSettings::sampleRecordOption},
    {"sampleRecordMaxBars", nullptr, &HostSettings::sampleRecordMaxBars},
    {"openPlayerOnStartup", &HostSettings::openPlayerOnStartup, nullptr},
    {"startPlayerAutomatic", &HostSettings::startPlayerAutomatic, nullptr},
};

} // namespace

void HostSettings::loadPlayerOptions(const RegistryKey& host) {
    values::readString(host, "samplePath", samplePath);
    for (const PlayerOption& option : kPlayerOptions) {
        if (option.flag != nullptr)
            values::readBool(host, option.name, this->*option.flag);
        else
            values::readDword(host, option.name, this->*option.number);
    }
    int32_t tab = 0;
    if (values::readDword(host, "tempoTab", tab))
        tempoTab.store(tab);
}

void HostSettings::save() {
    std::lock_guard lock(storeMutex);
    RegistryKey host = RegistryKey::create(RegistryRoot::currentUser, hostKeyPath());
    if (!host.isOpen())
        return;
    saveAudioDevices(host);
    values::writeString(host, "Tempo", values::formatTempo(tempo.load()));
    saveMidiDevices();
    savePlayerOptions(host);
}

void HostSettings::saveAudioDevices(RegistryKey& host) {
    // Written input first, so that the output's type wins when both are set.
    if (inputDevice != nullptr)
        saveDevice(host, "AudioDeviceIn", *inputDevice);
    if (outputDevice != nullptr)
        saveDevice(host, "AudioDeviceOut", *outputDevice);
}

void HostSettings::savePlayerOptions(RegistryKey& host) {
    values::writeString(host, "samplePath", samplePath);
    for (const PlayerOption& option : kPlayerOptions) {
        if (option.flag != nullptr)
            values::writeBool(host, option.name, this->*option.flag);
        else
            values::writeDword(host, option.name, this->*option.number);
    }
    values::writeDword(host, "tempoTab", tempoTab.load());
}

bool HostSettings::readString(const std::string& valueName, std::string& out) const {
    return key.isOpen() && values::readString(key, valueName, out);
}

bool HostSettings::readDword(const std::string& valueName, int32_t& out) const {
    return key.isOpen() && values::readDword(key, valueName, out);
}

bool HostSettings::writeDword(const std::string& valueName, int32_t value) {
    if (!key.isOpen())
        return false;
    values::writeDword(key, valueName, value);
    return true;
}

bool HostSettings::chooseDefaultAudioDevices(const AudioDeviceList& wasapiDevices,
                                             const AudioDeviceList& asioDevices) {
    const AudioDeviceList& devices = !wasapiDevices.empty() ? wasapiDevices : asioDevices;
    bool choseOutput = false;
    for (const auto& device : devices) {
        if (inputDevice != nullptr && outputDevice != nullptr)
            break;
        const bool systemDefault = device->type == audioDeviceWasapiShared && device->isDefault;
        const bool asio = device->type == audioDeviceAsio;
        if (!systemDefault && !asio)
            continue;
        AudioDeviceSettings*& choice = device->isInput ? inputDevice : outputDevice;
        if (systemDefault || choice == nullptr) {
            choice = device.get();
            choseOutput = choseOutput || !device->isInput;
        }
    }
    return choseOutput;
}
