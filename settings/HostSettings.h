#pragma once

// The one settings record: audio devices, known MIDI devices, tempo, the
// learned tap trigger and the player and recorder options, kept in the
// registry under "Software\Kestrune\<plug-in name>" of the current user.
//
// Every change is followed by a full `save`. `load` and `save` may be called
// from the window thread and the MIDI thread; they exclude each other, and
// each works on its own handle of the "Host" key. They block on the
// registry, so the audio thread never calls them.

#include "KsAudioBase.h"
#include "MidiDeviceSettings.h"
#include "Registry.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using AudioDeviceList = std::vector<std::unique_ptr<AudioDeviceSettings>>;
using MidiDeviceList = std::vector<std::unique_ptr<MidiDeviceSettings>>;

class HostSettings {
public:
    static constexpr double kDefaultTempo = 120.0;

    HostSettings(const std::string& pluginName, bool isInstrument);
    ~HostSettings() = default;
    HostSettings(const HostSettings&) = delete;
    HostSettings& operator=(const HostSettings&) = delete;

    // Reads the "Host" key and its MIDI device keys; the lists are the
    // WASAPI and ASIO drivers' device lists, where the stored devices are
    // looked up by type, direction and name.
    void load(const AudioDeviceList& wasapiDevices, const AudioDeviceList& asioDevices);
    // Writes every field below the "Host" key.
    void save();

    // Values of the plug-in key itself (not "Host"). False, and `out`
    // unchanged, when there is no key or the value cannot be read.
    bool readString(const std::string& valueName, std::string& out) const;
    bool readDword(const std::string& valueName, int32_t& out) const;
    // Replaces a number of the plug-in key; false only without a key.
    bool writeDword(const std::string& valueName, int32_t value);

    // Picks the system's default WASAPI endpoints (or the first ASIO driver
    // when there are no WASAPI entries); true when an output was chosen.
    bool chooseDefaultAudioDevices(const AudioDeviceList& wasapiDevices,
                                   const AudioDeviceList& asioDevices);

    // Connects the MIDI driver's list of present devices with the known ones.
    void mergeMidiDevices(const MidiDeviceList& driverDevices);
    MidiDeviceSettings* findMidiDevice(const MidiDeviceSettings& device) const;
    bool anySyncedInputActive() const;

    AudioDeviceSettings* inputDevice = nullptr;
    AudioDeviceSettings* outputDevice = nullptr;
    MidiDeviceList midiDevices;
    std::atomic<double> tempo{kDefaultTempo}; // also written by the MIDI thread
    std::atomic<int32_t> tempoTab{0};         // learned tap trigger: status << 8 | data1
    std::string samplePath;
    bool sampleLooped;
    bool sampleStartByMidi = false;
    bool sampleCalcTempo;
    int32_t sampleRecordOption = 0;
    int32_t sampleRecordMaxBars = 0;
    bool openPlayerOnStartup;
    bool startPlayerAutomatic = false;
    std::string keyPath;
    platform::RegistryKey key;

private:
    std::string hostKeyPath() const { return keyPath + "\\Host"; }
    std::string midiDeviceKeyPath(size_t position) const;
    void loadAudioDevices(const platform::RegistryKey& host, const AudioDeviceList& wasapiDevices,
                          const AudioDeviceList& asioDevices);
    void loadPlayerOptions(const platform::RegistryKey& host);
    void loadMidiDevices();
    void saveAudioDevices(platform::RegistryKey& host);
    void savePlayerOptions(platform::RegistryKey& host);
    void saveMidiDevices();

    mutable std::mutex storeMutex;
};

// Reading and writing values with the encodings the settings use: numbers
// are up to 4 little-endian bytes, texts up to 512 bytes ending at the first
// NUL; a missing or larger value leaves `out` unchanged and gives false.
namespace settingsValues {
constexpr uint32_t kMaxTextBytes = 512;
bool readDword(const platform::RegistryKey& key, const std::string& name, int32_t& out);
bool readBool(const platform::RegistryKey& key, const std::string& name, bool& out);
bool readString(const platform::RegistryKey& key, const std::string& name, std::string& out);
// Each write deletes the value first, then sets it anew.
bool writeDword(platform::RegistryKey& key, const std::string& name, int32_t value);
bool writeBool(platform::RegistryKey& key, const std::string& name, bool value);
bool writeString(platform::RegistryKey& key, const std::string& name, const std::string& text);
// The tempo as a stream writes a double by default ("120", "98.5"), and
// back; a text that is not a positive finite number gives false.
std::string formatTempo(double bpm);
bool parseTempo(const std::string& text, double& bpm);
} // namespace settingsValues
