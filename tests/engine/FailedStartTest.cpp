// A start the engine refuses after opening its devices lets go of what the
// opens prepared: an exclusive output would hold its device meanwhile.

#include "FakeAudioSessions.h"
#include "KsVSTHostInterface.h"
#include "KsWASAPI.h"
#include "MessageBox.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct NoMidi : KsMidiBase {
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
              void*) override {
        return true;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
};

void collect(const std::string& text, const std::string&, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(text);
}

AudioDeviceSettings* entryOf(KsAudioBase& driver, bool input, int32_t type) {
    for (auto& device : driver.devices)
        if (device->isInput == input && device->type == type)
            return device.get();
    return nullptr;
}

TEST(FailedStart, AnExclusiveOutputLetsGoOfItsDevice) {
    auto system = std::make_unique<fake::FakeSystem>();
    fake::FakeEndpoint& speakers = system->addEndpoint(wasapi::Flow::render, L"r", L"R", L"R",
                                                       fake::formatBytes(1, 2, 48000, 16));
    system->addEndpoint(wasapi::Flow::capture, L"c", L"C", L"C",
                        fake::formatBytes(1, 2, 44100, 16));
    AudioDriverPair drivers(std::make_unique<KsWASAPI>(std::move(system)), nullptr);
    KsVSTHostLib lib;
    ASSERT_NE(lib.load(testPluginPath("KsTestEffect")), nullptr);
    NoMidi midi;
    HostSettings settings("KsTest Failed Start", false);
    settings.outputDevice = entryOf(*drivers.wasapi, false, audioDeviceWasapiExclusive);
    settings.inputDevice = entryOf(*drivers.wasapi, true, audioDeviceWasapiShared);
    ASSERT_NE(settings.outputDevice, nullptr);
    ASSERT_NE(settings.inputDevice, nullptr);
    std::vector<std::string> messages;
    platform::setMessageSink(collect, &messages);
    KsVSTHostInterface engine;
    engine.attach(&lib, &drivers, &midi, &settings);

    EXPECT_FALSE(engine.startAudio()) << "input and output rates differ";
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(speakers.clientsAlive, 0) << "the exclusive stream was kept";
    platform::setMessageSink(nullptr, nullptr);
    lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
}

} // namespace
