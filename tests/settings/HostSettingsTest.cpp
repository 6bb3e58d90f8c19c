#include "SettingsTestSupport.h"

#include <thread>

using platform::RegistryKey;
using platform::RegistryRoot;

namespace {

class HostSettingsTest : public SettingsTest {
protected:
    HostSettingsTest() {
        wasapi.push_back(makeDevice(audioDeviceWasapiExclusive, "Speakers", false));
        wasapi.push_back(makeDevice(audioDeviceWasapiShared, "Speakers", false, true));
        wasapi.push_back(makeDevice(audioDeviceWasapiExclusive, "Mic", true));
        wasapi.push_back(makeDevice(audioDeviceWasapiShared, "Mic", true, true));
        asio.push_back(makeDevice(audioDeviceAsio, "Interface ASIO", true));
        asio.push_back(makeDevice(audioDeviceAsio, "Interface ASIO", false));
    }
    std::unique_ptr<HostSettings> loaded(bool instrument = false) {
        auto settings = std::make_unique<HostSettings>(pluginName, instrument);
        settings->load(wasapi, asio);
        return settings;
    }
    void setHostDword(const std::string& name, uint32_t value) {
        setRaw(hostPath, name, platform::registryDword, dwordBytes(value));
    }
    void setHostString(const std::string& name, const std::string& text) {
        setRaw(hostPath, name, platform::registryString, text + '\0');
    }

    AudioDeviceList wasapi;
    AudioDeviceList asio;
};

TEST_F(HostSettingsTest, FirstRunDefaultsDependOnTheInstrumentFlag) {
    for (bool instrument : {false, true}) {
        auto settings = loaded(instrument);
        EXPECT_EQ(settings->sampleLooped, !instrument);
        EXPECT_EQ(settings->sampleCalcTempo, !instrument);
        EXPECT_EQ(settings->openPlayerOnStartup, !instrument);
        EXPECT_FALSE(settings->sampleStartByMidi);
        EXPECT_FALSE(settings->startPlayerAutomatic);
        EXPECT_EQ(settings->tempo.load(), 120.0);
        EXPECT_EQ(settings->tempoTab.load(), 0);
        EXPECT_EQ(settings->inputDevice, nullptr);
        EXPECT_EQ(settings->outputDevice, nullptr);
        EXPECT_TRUE(settings->midiDevices.empty());
        EXPECT_EQ(settings->keyPath, keyPath);
        EXPECT_TRUE(settings->key.isOpen());
    }
}

TEST_F(HostSettingsTest, AsioInputNameAloneFindsBothDirections) {
    setHostDword("AudioDeviceType", audioDeviceAsio);
    setHostString("AudioDeviceIn Name", "Interface ASIO");
    auto settings = loaded();
    EXPECT_EQ(settings->inputDevice, asio[0].get());
    EXPECT_EQ(settings->outputDevice, asio[1].get());
    EXPECT_EQ(asio[0]->bufferSize, 1024) << "a missing buffer size means 1024";
    EXPECT_EQ(asio[1]->bufferSize, 1024);
}

TEST_F(HostSettingsTest, VanishedInputStillRestoresTheOutputAndItsOptions) {
    setHostDword("AudioDeviceType", audioDeviceWasapiShared);
    setHostString("AudioDeviceIn Name", "Unplugged");
    setHostString("AudioDeviceOut Name", "Speakers");
    setHostDword("AudioDeviceOut Left", 3);
    setHostDword("AudioDeviceOut Right", 2);
    setHostDword("AudioDeviceOut BufferSize", 480);
    auto settings = loaded();
    EXPECT_EQ(settings->inputDevice, nullptr);
    ASSERT_EQ(settings->outputDevice, wasapi[1].get());
    EXPECT_EQ(wasapi[1]->leftChannel, 3);
    EXPECT_EQ(wasapi[1]->rightChannel, 2);
    EXPECT_EQ(wasapi[1]->bufferSize, 480);
}

TEST_F(HostSettingsTest, NamesMatchByteForByte) {
    setHostDword("AudioDeviceType", audioDeviceWasapiShared);
    setHostString("AudioDeviceOut Name", "speakers");
    EXPECT_EQ(loaded()->outputDevice, nullptr);
}

TEST_F(HostSettingsTest, TempoIsReadOnlyWithAKnownDeviceType) {
    struct Case {
        int storedType; // -1: no value
        const char* tempoText;
        double expected;
    } cases[] = {
        {-1, "98.5", 120.0},
        {audioDeviceWasapiShared, "98.5", 98.5},
        {16, "98.5", 120.0},
        {audioDeviceAsio, "140", 140.0},
        {audioDeviceAsio, "abc", 120.0},
        {audioDeviceAsio, "-90", 120.0},
        {audioDeviceAsio, "0", 120.0},
        {audioDeviceAsio, "", 120.0},
        {audioDeviceAsio, "nan", 120.0},
        {audioDeviceAsio, "1e999", 120.0},
        {audioDeviceAsio, "133.25 bpm", 133.25},
    };
    for (const Case& c : cases) {
        platform::deleteRegistryTree(RegistryRoot::currentUser, keyPath);
        if (c.storedType >= 0)
            setHostDword("AudioDeviceType", static_cast<uint32_t>(c.storedType));
        setHostString("Tempo", c.tempoText);
        EXPECT_EQ(loaded()->tempo.load(), c.expected)
            << "type " << c.storedType << " text \"" << c.tempoText << '"';
    }
}

TEST_F(HostSettingsTest, TempoIsWrittenAsAStreamWritesIt) {
    const struct {
        double bpm;
        const char* text;
    } cases[] = {{98.5, "98.5"}, {120.0, "120"}, {133.333333, "133.333"}, {45.0, "45"}};
    for (const auto& c : cases) {
        HostSettings settings(pluginName, false);
        settings.tempo = c.bpm;
        settings.save();
        EXPECT_EQ(rawValue(hostPath, "Tempo"), std::string(c.text) + '\0');
    }
}

TEST_F(HostSettingsTest, MixedTypesStoreTheOutputsTypeForBoth) {
    {
        HostSettings settings(pluginName, false);
        settings.inputDevice = wasapi[3].get();  // shared input
        settings.outputDevice = wasapi[0].get(); // exclusive output
        settings.save();
    }
    EXPECT_EQ(rawValue(hostPath, "AudioDeviceType"), dwordBytes(audioDeviceWasapiExclusive));
    auto settings = loaded();
    EXPECT_EQ(settings->inputDevice, wasapi[2].get()) << "the input is looked up as type 8";
    EXPECT_EQ(settings->outputDevice, wasapi[0].get());
}

TEST_F(HostSettingsTest, SaveAndLoadRoundTripEveryField) {
    {
        HostSettings settings(pluginName, true);
        settings.inputDevice = asio[0].get();
        settings.outputDevice = asio[1].get();
        asio[0]->leftChannel = 4;
        asio[0]->rightChannel = 5;
        asio[1]->bufferSize = 64;
        settings.tempo = 87.25;
        settings.tempoTab = 0xB040;
        settings.samplePath = "C:\\Samples\\Loop.wav";
        settings.sampleLooped = true;
        settings.sampleStartByMidi = true;
        settings.sampleRecordOption = 3;
        settings.sampleRecordMaxBars = -2;
        settings.startPlayerAutomatic = true;
        settings.save();
    }
    asio[0]->leftChannel = 0;
    asio[1]->bufferSize = 512;
    auto settings = loaded(true);
    EXPECT_EQ(settings->inputDevice, asio[0].get());
    EXPECT_EQ(settings->outputDevice, asio[1].get());
    EXPECT_EQ(asio[0]->leftChannel, 4);
    EXPECT_EQ(asio[0]->rightChannel, 5);
    EXPECT_EQ(asio[1]->bufferSize, 64);
    EXPECT_EQ(settings->tempo.load(), 87.25);
    EXPECT_EQ(settings->tempoTab.load(), 0xB040);
    EXPECT_EQ(settings->samplePath, "C:\\Samples\\Loop.wav");
    EXPECT_TRUE(settings->sampleLooped);
    EXPECT_TRUE(settings->sampleStartByMidi);
    EXPECT_FALSE(settings->sampleCalcTempo);
    EXPECT_EQ(settings->sampleRecordOption, 3);
    EXPECT_EQ(settings->sampleRecordMaxBars, -2);
    EXPECT_FALSE(settings->openPlayerOnStartup);
    EXPECT_TRUE(settings->startPlayerAutomatic);
}

TEST_F(HostSettingsTest, TextLengthsAroundTheBuffer) {
    // Stored byte counts, NUL included: up to 512 fit, more count as missing.
    const struct {
        size_t storedBytes;
        bool readsBack;
    } cases[] = {{301, true}, {511, true}, {512, true}, {513, false}, {600, false}, {601, false}};
    for (const auto& c : cases) {
        platform::deleteRegistryTree(RegistryRoot::currentUser, keyPath);
        const std::string path(c.storedBytes - 1, 'p');
        {
            HostSettings settings(pluginName, false);
            settings.samplePath = path;
            settings.save();
        }
        EXPECT_EQ(rawValue(hostPath, "samplePath").size(), c.storedBytes);
        auto settings = loaded();
        EXPECT_EQ(settings->samplePath, c.readsBack ? path : "") << c.storedBytes << " bytes";
    }
}

TEST_F(HostSettingsTest, TextWithoutNulAndNonAsciiBytes) {
    setRaw(hostPath, "samplePath", platform::registryBinary, std::string(512, 'q'));
    EXPECT_EQ(loaded()->samplePath, std::string(512, 'q'));
    const std::string accented = "C:\\Musik\\K\xE9nig \xFC"
                                 "ber.wav";
    setHostString("samplePath", accented);
    EXPECT_EQ(loaded()->samplePath, accented);
}

TEST_F(HostSettingsTest, NumbersOfOddSizesAndTypes) {
    const struct {
        const char* name;
        uint32_t type;
        std::string bytes;
        int32_t expected; // the default (0) when the value counts as missing
    } cases[] = {
        {"sampleRecordOption", platform::registryBinary, std::string("\x05", 1), 5},
        {"sampleRecordOption", platform::registryBinary, std::string("\x01\x02\x03", 3), 0x030201},
        {"sampleRecordOption", platform::registryQword, std::string("\x07\0\0\0\0\0\0\0", 8), 0},
        {"sampleRecordOption", platform::registryString, std::string("12\0", 3), 0x003231},
        {"sampleRecordMaxBars", platform::registryDword, dwordBytes(0xFFFFFFFF), -1},
        {"sampleRecordMaxBars", platform::registryBinary, std::string(), 0},
    };
    for (const auto& c : cases) {
        platform::deleteRegistryTree(RegistryRoot::currentUser, keyPath);
        setRaw(hostPath, c.name, c.type, c.bytes);
        auto settings = loaded();
        const int32_t read = std::string(c.name) == "sampleRecordOption"
                                 ? settings->sampleRecordOption
                                 : settings->sampleRecordMaxBars;
        EXPECT_EQ(read, c.expected) << c.name << " with " << c.bytes.size() << " bytes";
    }
}

TEST_F(HostSettingsTest, BooleansAreTrueWhenNonzero) {
    setHostDword("sampleLooped", 2);
    setHostDword("sampleCalcTempo", 0);
    setHostDword("startPlayerAutomatic", 0x100);
    auto settings = loaded();
    EXPECT_TRUE(settings->sampleLooped);
    EXPECT_FALSE(settings->sampleCalcTempo);
    EXPECT_TRUE(settings->startPlayerAutomatic);
}

TEST_F(HostSettingsTest, PluginKeyValues) {
    setRaw(keyPath, "contentpath", platform::registryString, std::string("C:\\Content\\\0", 12));
    HostSettings settings(pluginName, false);
    std::string content = "unchanged";
    EXPECT_TRUE(settings.readString("contentpath", content));
    EXPECT_EQ(content, "C:\\Content\\");
    std::string missing = "unchanged";
    EXPECT_FALSE(settings.readString("nothing", missing));
    EXPECT_EQ(missing, "unchanged");
    int32_t x = 42;
    EXPECT_FALSE(settings.readDword("playerPositionX", x));
    EXPECT_EQ(x, 42);
    EXPECT_TRUE(settings.writeDword("playerPositionX", -20));
    EXPECT_TRUE(settings.readDword("playerPositionX", x));
    EXPECT_EQ(x, -20);
    EXPECT_EQ(rawValue(hostPath, "playerPositionX"), "<missing>");
}

TEST_F(HostSettingsTest, ChoosingDefaultDevices) {
    auto settings = loaded();
    EXPECT_TRUE(settings->chooseDefaultAudioDevices(wasapi, asio));
    EXPECT_EQ(settings->inputDevice, wasapi[3].get());
    EXPECT_EQ(settings->outputDevice, wasapi[1].get());

    AudioDeviceList none;
    auto asioOnly = loaded();
    EXPECT_TRUE(asioOnly->chooseDefaultAudioDevices(none, asio));
    EXPECT_EQ(asioOnly->inputDevice, asio[0].get());
    EXPECT_EQ(asioOnly->outputDevice, asio[1].get());

    auto nothing = loaded();
    EXPECT_FALSE(nothing->chooseDefaultAudioDevices(none, none));

    AudioDeviceList noDefault;
    noDefault.push_back(makeDevice(audioDeviceWasapiShared, "Speakers", false, false));
    auto withoutDefault = loaded();
    EXPECT_FALSE(withoutDefault->chooseDefaultAudioDevices(noDefault, asio))
        << "WASAPI entries exist, so ASIO is not searched";
    EXPECT_EQ(withoutDefault->outputDevice, nullptr);
}

TEST_F(HostSettingsTest, ConcurrentSavesNeverWriteUnderTheWrongKey) {
    HostSettings settings(pluginName, false);
    settings.outputDevice = wasapi[1].get();
    auto saveMany = [&settings] {
        for (int i = 0; i < 100; ++i)
            settings.save();
    };
    std::thread midiThread(saveMany);
    std::thread windowThread(saveMany);
    for (int i = 0; i < 100; ++i)
        settings.tempo = 100.0 + i;
    midiThread.join();
    windowThread.join();
    settings.save();
    EXPECT_EQ(rawValue(keyPath, "Tempo"), "<missing>");
    EXPECT_EQ(rawValue(keyPath, "AudioDeviceType"), "<missing>");
    EXPECT_EQ(rawValue(hostPath, "Tempo"), std::string("199") + '\0');
    EXPECT_EQ(rawValue(hostPath, "AudioDeviceOut Name"), std::string("Speakers") + '\0');
}

} // namespace
