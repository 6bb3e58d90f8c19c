#include "EngineTestSupport.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace {

using Bytes = std::tuple<int, int, int>;

class MidiRoutingTest : public EngineTest {
protected:
    void SetUp() override {
        settings->load(drivers->wasapi->devices, drivers->asio->devices);
        settings->mergeMidiDevices(midi.devices);
        useManualDevices();
        ASSERT_TRUE(engine.startAudio());
    }
    MidiDeviceSettings& keys() { return *settings->midiDevices[0]; }
    std::vector<Bytes> deliver() {
        const size_t before = received().size();
        asio->runBlocks(1);
        std::vector<Bytes> bytes;
        const std::vector<VstMidiEvent> all = received();
        for (size_t i = before; i < all.size(); ++i) {
            bytes.emplace_back(static_cast<uint8_t>(all[i].midiData[0]),
                               static_cast<uint8_t>(all[i].midiData[1]),
                               static_cast<uint8_t>(all[i].midiData[2]));
        }
        return bytes;
    }
};

TEST_F(MidiRoutingTest, FiltersOfTheInput) {
    struct Case {
        int channel;
        bool filterCC;
        bool filterPC;
        int left, right;
        Bytes message;
        bool passes;
    } cases[] = {
        {0, false, false, 0, 127, {0x95, 60, 100}, true},
        {3, false, false, 0, 127, {0x92, 60, 100}, true},
        {3, false, false, 0, 127, {0x93, 60, 100}, false},
        {3, false, false, 0, 127, {0x90, 60, 100}, false},
        {0, true, false, 0, 127, {0xB0, 1, 5}, false},
        {0, true, false, 0, 127, {0xC0, 1, 0}, true},
        {0, false, true, 0, 127, {0xC4, 1, 0}, false},
        {0, false, false, 36, 96, {0xB0, 7, 100}, false},
        {0, false, false, 36, 96, {0xB0, 64, 127}, true},
        {0, false, false, 36, 96, {0x90, 96, 1}, true},
        {0, false, false, 36, 96, {0x90, 97, 1}, false},
        {0, false, false, 36, 96, {0xE0, 0, 64}, false},
    };
    ASSERT_TRUE(engine.startMidi());
    for (const Case& c : cases) {
        keys().channel = c.channel;
        keys().filterCCMessages = c.filterCC;
        keys().filterProgramChanges = c.filterPC;
        keys().keyboardRangeLeft = c.left;
        keys().keyboardRangeRight = c.right;
        const auto [first, second, third] = c.message;
        midi.receive(static_cast<uint8_t>(first), static_cast<uint8_t>(second),
                     static_cast<uint8_t>(third));
        const std::vector<Bytes> delivered = deliver();
        EXPECT_EQ(delivered.size(), c.passes ? 1u : 0u)
            << std::hex << first << " " << second << " channel " << std::dec << c.channel;
        if (c.passes && delivered.size() == 1) {
            EXPECT_EQ(delivered[0], c.message);
        }
    }
}

TEST_F(MidiRoutingTest, SystemMessagesOfUnsyncedInputsAreIgnored) {
    ASSERT_TRUE(engine.startMidi());
    midi.receive(0xFA, 0, 0);
    midi.receive(0xF8, 0, 0);
    EXPECT_TRUE(deliver().empty());
    EXPECT_FALSE(engine.transportPending.load() && engine.transportRequested.load());
}

TEST_F(MidiRoutingTest, EventsWaitWhileAProducerIsAppending) {
    engine.appendEvent(0x90, 60, 1);
    engine.eventLock.fetch_add(1); // a producer inside its append
    EXPECT_TRUE(deliver().empty());
    engine.eventLock.fetch_sub(1);
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x90, 60, 1}}));
    EXPECT_TRUE(deliver().empty()) << "delivered once";
}

TEST_F(MidiRoutingTest, APlugInWritingOverTheEventsItWasHandedGetsTheNextOnesWhole) {
    control.scribbleOnHostArrays(lib.effect);
    engine.appendEvent(0x90, 60, 1);
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x90, 60, 1}}));
    engine.appendEvent(0x90, 61, 2);
    engine.appendEvent(0x90, 62, 3);
    engine.appendEvent(0x90, 63, 4);
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x90, 61, 2}, {0x90, 62, 3}, {0x90, 63, 4}}));
    engine.appendEvent(0x80, 60, 0);
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x80, 60, 0}}));
}

TEST_F(MidiRoutingTest, The257thEventOfACycleIsDropped) {
    for (int i = 0; i < 257; ++i)
        engine.appendEvent(0x90, static_cast<uint8_t>(i & 0x7F), static_cast<uint8_t>(i >> 7));
    const std::vector<Bytes> delivered = deliver();
    ASSERT_EQ(delivered.size(), 256u);
    EXPECT_EQ(delivered[255], Bytes(0x90, 255 & 0x7F, 1));
    EXPECT_EQ(engine.droppedEvents.load(), 1u);
    engine.appendEvent(0x80, 1, 2);
    EXPECT_EQ(deliver().size(), 1u) << "the next cycle has room again";
}

TEST_F(MidiRoutingTest, ComputerKeyboardPlaysNotes) {
    EXPECT_TRUE(engine.sendComputerKey('D', true));
    EXPECT_TRUE(engine.sendComputerKey('D', true)); // key repeat
    EXPECT_TRUE(engine.sendComputerKey('D', false));
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x90, 48, 94}, {0x90, 48, 0}}));

    engine.sendComputerKey('L', true); // note 59
    EXPECT_TRUE(engine.sendComputerKey('V', true));
    EXPECT_TRUE(engine.sendComputerKey('V', false)); // octave 5
    engine.sendComputerKey('L', false);              // note 71 is not held: nothing
    engine.sendComputerKey('P', true);
    EXPECT_EQ(deliver(), (std::vector<Bytes>{{0x90, 59, 94}, {0xB0, 0x7B, 0}}));
    EXPECT_FALSE(engine.sendComputerKey('Q', true));
    EXPECT_FALSE(engine.sendComputerKey(0x20, true));
}

TEST_F(MidiRoutingTest, OctavesStayWithinMidisRange) {
    for (int i = 0; i < 12; ++i)
        engine.sendComputerKey('V', false);
    EXPECT_EQ(engine.octave, 10);
    for (uint8_t key : {'D', 'J', 'I', 'K', 'O', 'L'}) {
        EXPECT_TRUE(engine.sendComputerKey(key, true));
        EXPECT_TRUE(engine.sendComputerKey(key, false));
    }
    const std::vector<Bytes> delivered = deliver();
    EXPECT_EQ(delivered, (std::vector<Bytes>{
                             {0x90, 120, 94}, {0x90, 120, 0}, {0x90, 127, 94}, {0x90, 127, 0}}))
        << "notes 128 to 131 are not played";
    for (int i = 0; i < 12; ++i)
        engine.sendComputerKey('C', false);
    EXPECT_EQ(engine.octave, 0);
}

TEST_F(MidiRoutingTest, InputsOpenOnlyForAPluginThatReceivesMidi) {
    ASSERT_TRUE(engine.startMidi());
    ASSERT_EQ(midi.opened.size(), 2u);
    EXPECT_EQ(midi.opened[0].input, settings->midiDevices[0].get());
    EXPECT_EQ(midi.opened[1].input, settings->midiDevices[1].get());
    engine.stopMidi();
    EXPECT_TRUE(midi.closed);
    settings->midiDevices[0]->active = false;
    ASSERT_TRUE(engine.startMidi());
    EXPECT_EQ(midi.opened.size(), 1u);
}

// A clock-synced input that fails to open leaves the song position to the
// host's own transport.
TEST_F(MidiRoutingTest, AnInputThatFailsIsSwitchedOff) {
    midi.failOpenOfDeviceIndex = 1;
    settings->midiDevices[1]->sync = true;
    EXPECT_FALSE(engine.startMidi());
    EXPECT_FALSE(settings->midiDevices[1]->active);
    EXPECT_EQ(midi.opened.size(), 1u);
    EXPECT_FALSE(engine.syncActive.load());
}

// The Midi Settings dialog changes an input's options on the window thread
// while the input's MIDI thread routes messages through them.
TEST_F(MidiRoutingTest, OptionsChangeWhileTheInputRoutes) {
    keys().sync = true;
    ASSERT_TRUE(engine.startMidi());
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread midiThread([&] {
        while (!stop.load()) {
            for (const Bytes& m : {Bytes{0x90, 60, 100}, Bytes{0xB0, 1, 5}, Bytes{0xC0, 1, 0},
                                   Bytes{0xFA, 0, 0}, Bytes{0xF8, 0, 0}})
                midi.receive(static_cast<uint8_t>(std::get<0>(m)),
                             static_cast<uint8_t>(std::get<1>(m)), 0);
            rounds.fetch_add(1, std::memory_order_relaxed);
        }
    });
    for (int change = 0; change < 2000 || rounds.load(std::memory_order_relaxed) < 2; ++change) {
        const bool on = change % 2 == 0;
        MidiDeviceSettings& d = keys();
        writeSharedOption(d.channel, on ? 1 : 0);
        writeSharedOption(d.filterCCMessages, on);
        writeSharedOption(d.filterProgramChanges, !on);
        writeSharedOption(d.keyboardRangeLeft, on ? 36 : 0);
        writeSharedOption(d.keyboardRangeRight, on ? 96 : 127);
        writeSharedOption(d.sync, change % 3 != 0);
        writeSharedOption(d.syncWhilePlaying, on);
        writeSharedOption(d.delay, change % 50);
    }
    stop.store(true);
    midiThread.join();
    engine.stopMidi();
}

class SilentPluginTest : public EngineTest {
protected:
    SilentPluginTest() : EngineTest("KsTestSynth") {}
};

TEST_F(SilentPluginTest, APluginThatSendsNoMidiGetsNoOutput) {
    settings->load(drivers->wasapi->devices, drivers->asio->devices);
    midi.devices[2]->active = true; // "Synth Out" chosen
    settings->mergeMidiDevices(midi.devices);
    EXPECT_TRUE(engine.startMidi());
    EXPECT_EQ(engine.midiOutDevice, midi.devices[2].get());
    for (const auto& call : midi.opened)
        EXPECT_EQ(call.output, nullptr);
    EXPECT_EQ(lib.record.midiOutHook, nullptr);
}

class MidiOutTest : public MidiRoutingTest {
protected:
    void SetUp() override {
        midi.devices[2]->active = true; // "Synth Out" chosen
        MidiRoutingTest::SetUp();
    }
};

TEST_F(MidiOutTest, OutputFailureClearsTheDeviceButKeepsInputs) {
    midi.failOutput = true;
    EXPECT_FALSE(engine.startMidi());
    EXPECT_EQ(engine.midiOutDevice, nullptr);
    EXPECT_EQ(midi.opened.size(), 2u);
    EXPECT_EQ(lib.record.midiOutHook, nullptr);
}

TEST_F(MidiOutTest, PluginMidiGoesOutAtOnce) {
    ASSERT_TRUE(engine.startMidi());
    ASSERT_EQ(engine.midiOutDevice, midi.devices[2].get());
    ASSERT_EQ(midi.opened.back().output, midi.devices[2].get());
    control.queueHostCall(lib.effect,
                          {audioMasterProcessEvents, 0, 0, 0.0f, {0x93, 64, 99}, true, false});
    asio->runBlocks(1);
    ASSERT_EQ(midi.sent.size(), 1u) << "only the MIDI event, not the SysEx";
    EXPECT_EQ(midi.sent[0].status, 0x93);
    EXPECT_EQ(midi.sent[0].data1, 64);
    EXPECT_EQ(midi.sent[0].data2, 99);
    EXPECT_EQ(midi.sent[0].channel, 0);
}

// The plug-in outlives the engine (it is closed, then its library freed,
// after the engine goes): its MIDI must not reach a destroyed engine.
TEST_F(MidiOutTest, AnEngineGoneTakesItsMidiOutHookWithIt) {
    {
        KsVSTHostInterface other;
        other.attach(&lib, drivers.get(), &midi, settings.get());
        ASSERT_TRUE(other.startMidi());
        ASSERT_NE(lib.record.midiOutHook.load(), nullptr);
        other.stopMidi();
    }
    EXPECT_EQ(lib.record.midiOutHook.load(), nullptr);
}

} // namespace
