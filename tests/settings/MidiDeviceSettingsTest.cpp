#include "SettingsTestSupport.h"

using platform::RegistryKey;
using platform::RegistryRoot;

namespace {

std::unique_ptr<MidiDeviceSettings> presentDevice(int32_t id, const std::string& name,
                                                  bool isInput) {
    auto device = std::make_unique<MidiDeviceSettings>();
    device->deviceIndex = id;
    device->name = name;
    device->isInput = isInput;
    device->active = isInput;
    return device;
}

class MidiDeviceSettingsTest : public SettingsTest {
protected:
    std::string deviceKey(int n) { return hostPath + "\\Midi Device " + std::to_string(n); }
    void storeDevice(int n, const std::string& name, bool isInput, bool active) {
        auto key = RegistryKey::create(RegistryRoot::currentUser, deviceKey(n));
        key.setString("name", name);
        key.setDword("in", isInput ? 1 : 0);
        key.setDword("active", active ? 1 : 0);
    }
    std::unique_ptr<HostSettings> loaded() {
        auto settings = std::make_unique<HostSettings>(pluginName, false);
        settings->load(noAudio, noAudio);
        return settings;
    }
    AudioDeviceList noAudio;
};

TEST_F(MidiDeviceSettingsTest, LoadingStopsAtTheFirstMissingNumber) {
    storeDevice(0, "Keys", true, true);
    storeDevice(1, "Pads", true, false);
    storeDevice(3, "Far", true, true);
    auto settings = loaded();
    ASSERT_EQ(settings->midiDevices.size(), 2u);
    EXPECT_EQ(settings->midiDevices[0]->name, "Keys");
    EXPECT_EQ(settings->midiDevices[1]->name, "Pads");
    EXPECT_EQ(settings->midiDevices[1]->deviceIndex, -1);
    settings->save();
    EXPECT_EQ(rawValue(deviceKey(3), "name"), std::string("Far") + '\0') << "key 3 untouched";
    EXPECT_EQ(rawValue(deviceKey(3), "delay"), "<missing>");
}

TEST_F(MidiDeviceSettingsTest, EveryOptionRoundTrips) {
    {
        HostSettings settings(pluginName, false);
        auto device = presentDevice(2, "Caf\xE9 Keys \xFC", true);
        device->sync = true;
        device->syncWhilePlaying = true;
        device->delay = -15;
        device->filterCCMessages = true;
        device->filterProgramChanges = true;
        device->channel = 10;
        device->keyboardRangeLeft = 36;
        device->keyboardRangeRight = 84;
        settings.midiDevices.push_back(std::move(device));
        settings.save();
    }
    EXPECT_EQ(rawValue(deviceKey(0), "in"), dwordBytes(1));
    auto settings = loaded();
    ASSERT_EQ(settings->midiDevices.size(), 1u);
    const MidiDeviceSettings& d = *settings->midiDevices[0];
    EXPECT_EQ(d.name, "Caf\xE9 Keys \xFC");
    EXPECT_EQ(d.deviceIndex, -1) << "ids are never stored";
    EXPECT_TRUE(d.isInput && d.active && d.sync && d.syncWhilePlaying);
    EXPECT_EQ(d.delay, -15);
    EXPECT_TRUE(d.filterCCMessages && d.filterProgramChanges);
    EXPECT_EQ(d.channel, 10);
    EXPECT_EQ(d.keyboardRangeLeft, 36);
    EXPECT_EQ(d.keyboardRangeRight, 84);
    EXPECT_TRUE(settings->anySyncedInputActive());
}

TEST_F(MidiDeviceSettingsTest, FlagsAreTrueWhenNonzeroAndOddValuesAreKept) {
    storeDevice(0, "Clock", true, true);
    setRaw(deviceKey(0), "sync", platform::registryDword, dwordBytes(256));
    setRaw(deviceKey(0), "channel", platform::registryDword, dwordBytes(40));
    setRaw(deviceKey(0), "delay", platform::registryQword, std::string(8, '\1'));
    auto settings = loaded();
    ASSERT_EQ(settings->midiDevices.size(), 1u);
    EXPECT_TRUE(settings->midiDevices[0]->sync);
    EXPECT_EQ(settings->midiDevices[0]->channel, 40) << "stored values are taken as they are";
    EXPECT_EQ(settings->midiDevices[0]->delay, 0) << "an 8-byte number counts as missing";
}

TEST_F(MidiDeviceSettingsTest, MergeRestoresKnownDevicesAndAppendsNewOnes) {
    storeDevice(0, "A", true, false);  // known input, switched off by the user
    storeDevice(1, "B", false, true);  // known output, unplugged now
    storeDevice(2, "A2", false, true); // known output
    auto settings = loaded();
    MidiDeviceList present;
    present.push_back(presentDevice(0, "A", true));
    present.push_back(presentDevice(1, "A2", true)); // only stored as an output
    present.push_back(presentDevice(0, "A2", false));
    present.push_back(presentDevice(-1, "Microsoft MIDI Mapper", false));
    settings->mergeMidiDevices(present);

    ASSERT_EQ(settings->midiDevices.size(), 5u);
    EXPECT_EQ(settings->midiDevices[0]->deviceIndex, 0);
    EXPECT_FALSE(present[0]->active) << "the driver record takes the stored choice";
    EXPECT_EQ(settings->midiDevices[1]->deviceIndex, -1) << "unplugged stays -1";
    EXPECT_EQ(settings->midiDevices[2]->deviceIndex, 0);
    EXPECT_TRUE(present[2]->active);
    EXPECT_EQ(settings->midiDevices[3]->name, "A2");
    EXPECT_TRUE(settings->midiDevices[3]->isInput);
    EXPECT_TRUE(settings->midiDevices[3]->active) << "a new input starts active";
    EXPECT_EQ(settings->midiDevices[4]->name, "Microsoft MIDI Mapper");
    EXPECT_FALSE(settings->midiDevices[4]->active) << "a new output starts inactive";
    EXPECT_EQ(settings->findMidiDevice(*present[1]), settings->midiDevices[3].get());
    EXPECT_EQ(settings->findMidiDevice(*presentDevice(0, "a", true)), nullptr);

    settings->save();
    EXPECT_EQ(rawValue(deviceKey(1), "name"), std::string("B") + '\0');
    EXPECT_EQ(rawValue(deviceKey(4), "name"), std::string("Microsoft MIDI Mapper") + '\0');
}

TEST_F(MidiDeviceSettingsTest, TwoPresentDevicesOfOneNameShareARecord) {
    auto settings = loaded();
    MidiDeviceList present;
    present.push_back(presentDevice(0, "USB MIDI", true));
    present.push_back(presentDevice(1, "USB MIDI", true));
    settings->mergeMidiDevices(present);
    ASSERT_EQ(settings->midiDevices.size(), 1u);
    EXPECT_EQ(settings->midiDevices[0]->deviceIndex, 1);
    EXPECT_TRUE(present[0]->active);
    EXPECT_TRUE(present[1]->active);
}

TEST_F(MidiDeviceSettingsTest, NoHostKeyLoadsNoDevices) {
    storeDevice(0, "Orphan", true, true);
    platform::deleteRegistryTree(RegistryRoot::currentUser, hostPath);
    RegistryKey::create(RegistryRoot::currentUser, keyPath + "\\Other\\Midi Device 0");
    auto settings = loaded();
    EXPECT_TRUE(settings->midiDevices.empty());
    EXPECT_FALSE(settings->anySyncedInputActive());
}

} // namespace
