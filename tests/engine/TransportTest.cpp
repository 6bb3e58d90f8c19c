#include "EngineTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

class TransportTest : public EngineTest {
protected:
    void SetUp() override {
        useManualDevices();
        ASSERT_TRUE(engine.startAudio());
    }
    VstTimeInfo seen() const { return processInfo().timeInfo; }
};

TEST_F(TransportTest, FirstCycleShowsTheStoppedTransportAndAdvancesThePosition) {
    lib.record.timeInfo.flags |= kVstTransportPlaying;
    asio->runBlocks(1);
    EXPECT_EQ(seen().flags, kVstPpqPosValid | kVstTempoValid);
    EXPECT_EQ(seen().ppqPos, 0.0);
    asio->runBlocks(1);
    // 64 frames at 48 kHz and 120 BPM.
    EXPECT_DOUBLE_EQ(seen().ppqPos, 64.0 * 2.0 / 48000.0);
    EXPECT_EQ(seen().tempo, 120.0);
}

TEST_F(TransportTest, StartingTheTransportRewindsThePosition) {
    asio->runBlocks(10);
    engine.setTransport(true);
    asio->runBlocks(1);
    EXPECT_EQ(seen().flags & kVstTransportPlaying, kVstTransportPlaying);
    EXPECT_EQ(seen().ppqPos, 0.0);
    engine.setTransport(false);
    asio->runBlocks(1);
    EXPECT_EQ(seen().flags & kVstTransportPlaying, 0);
    EXPECT_GT(seen().ppqPos, 0.0) << "stopping does not rewind";
}

TEST_F(TransportTest, TempoChangesReachTheNextCycle) {
    engine.setTempo(120.0);
    EXPECT_FALSE(engine.tempoPending.load()) << "the current tempo changes nothing";
    engine.setTempo(60.0);
    EXPECT_TRUE(engine.tempoPending.load());
    asio->runBlocks(1);
    EXPECT_FALSE(engine.tempoPending.load());
    EXPECT_EQ(seen().tempo, 60.0);
    EXPECT_DOUBLE_EQ(engine.ppqPerSample, 1.0 / 48000.0);
}

TEST_F(TransportTest, PluginTempoIsKeptAndSavedOnTheWindowThread) {
    control.queueHostCall(lib.effect, {audioMasterSetHostTempo, 0, 0, 98.0f, {}, false, false});
    asio->runBlocks(1); // the plug-in calls the host from its processing
    EXPECT_EQ(engine.getTempo(), 98.0);
    EXPECT_EQ(settings->tempo.load(), 98.0);
    asio->runBlocks(1);
    EXPECT_EQ(seen().tempo, 98.0);
    EXPECT_TRUE(engine.saveSettingsIfRequested());
    EXPECT_FALSE(engine.saveSettingsIfRequested());
    HostSettings reread(pluginName, false);
    reread.load(drivers->wasapi->devices, asio->devices);
    EXPECT_EQ(reread.tempo.load(), 98.0);
}

TEST_F(TransportTest, UnusableTempoFromThePluginIsIgnored) {
    const float unusable[] = {std::nanf(""), INFINITY, -INFINITY, 0.0f, -120.0f};
    for (const float bpm : unusable) {
        control.queueHostCall(lib.effect, {audioMasterSetHostTempo, 0, 0, bpm, {}, false, false});
        asio->runBlocks(2);
        EXPECT_EQ(engine.getTempo(), 120.0) << bpm;
        EXPECT_EQ(seen().tempo, 120.0) << bpm;
        EXPECT_DOUBLE_EQ(engine.ppqPerSample, 2.0 / 48000.0) << bpm;
        EXPECT_EQ(settings->tempo.load(), 120.0) << bpm;
        EXPECT_FALSE(engine.saveSettingsIfRequested()) << bpm;
    }
}

TEST_F(TransportTest, PluginTransportOpcodeIsComparedAtTheNextRequest) {
    control.queueHostCall(lib.effect, {audioMasterSetHostTransport, 1, 0, 0.0f, {}, false, false});
    asio->runBlocks(2);
    EXPECT_EQ(seen().flags & kVstTransportPlaying, kVstTransportPlaying);
    engine.setTransport(true); // already playing: nothing pending
    EXPECT_FALSE(engine.transportPending.load());
}

class MidiClockTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        settings->load(drivers->wasapi->devices, asio->devices);
        settings->mergeMidiDevices(midi.devices);
        settings->midiDevices[1]->sync = true; // "Clock Box"
        ASSERT_TRUE(engine.startMidi());
        ASSERT_TRUE(engine.syncActive.load());
    }
};

TEST_F(MidiClockTest, TwentyFourTicksAt120BpmGive120) {
    engine.setTempo(100.0);
    asio->runBlocks(1);
    for (int i = 0; i < 24; ++i)
        midi.receive(0xF8, 0, 0, 500.0 / 24.0, 1);
    EXPECT_EQ(engine.getTempo(), 120.0);
    EXPECT_EQ(settings->tempo.load(), 120.0);
}

TEST_F(MidiClockTest, StartAndClockDriveThePosition) {
    midi.receive(0xFA, 0, 0, 1.0, 1);
    asio->runBlocks(1);
    EXPECT_EQ(seen().ppqPos, 0.0);
    EXPECT_EQ(seen().flags & kVstTransportPlaying, kVstTransportPlaying);
    asio->runBlocks(1);
    EXPECT_EQ(seen().ppqPos, 0.010416666977107525);
    midi.receive(0xF8, 0, 0, 20.0, 1);
    asio->runBlocks(1);
    EXPECT_EQ(seen().ppqPos, 0.0416666679084301);
    midi.receive(0xFC, 0, 0, 1.0, 1);
    asio->runBlocks(1);
    EXPECT_EQ(seen().flags & kVstTransportPlaying, 0);
}

TEST_F(MidiClockTest, SyncDelayMovesTheStartAhead) {
    settings->midiDevices[1]->delay = 250;
    midi.receive(0xFA, 0, 0, 1.0, 1);
    asio->runBlocks(1);
    EXPECT_DOUBLE_EQ(seen().ppqPos, 0.5); // 250 ms at 120 BPM
}

// MIDI Start, clock and Stop arrive on the MIDI thread while an audio thread
// runs cycles: the clock position and the transport are shared safely, and
// the last Stop stops the transport.
TEST_F(MidiClockTest, ClockFromTheMidiThreadMeetsRunningCycles) {
    auto threaded = std::make_unique<CallbackDriver>(true);
    CallbackDriver* driver = threaded.get();
    drivers->asio = std::move(threaded);
    asio = driver;
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    std::thread midiThread([&] {
        for (int beat = 0; beat < 200; ++beat) {
            midi.receive(0xFA, 0, 0, 1.0, 1);
            for (int tick = 0; tick < 24; ++tick)
                midi.receive(0xF8, 0, 0, 500.0 / 24.0, 1);
            midi.receive(0xFC, 0, 0, 1.0, 1);
        }
    });
    midiThread.join();
    const int blocks = driver->blocks.load();
    while (driver->blocks.load() < blocks + 2)
        platform::sleepMs(1);
    engine.stopAudio();
    EXPECT_FALSE(engine.transportPlaying.load());
    EXPECT_EQ(lib.record.timeInfo.flags & kVstTransportPlaying, 0);
    EXPECT_EQ(engine.getTempo(), 120.0);
}

// Clock at exactly 120 BPM on the clock input, with a note on the other
// input and active sensing on the same one between the clocks: each clock is
// timed from the previous clock, so the tempo stays 120.0.
TEST_F(MidiClockTest, ClockAmongOtherMessagesKeepsItsTempo) {
    engine.setTempo(100.0);
    asio->runBlocks(1);
    constexpr double kTick = 500.0 / 24.0;
    for (int i = 0; i <= 24; ++i) {
        const double t = i * kTick;
        midi.receiveAt(t, 0xF8, 0, 0, 1);
        midi.receiveAt(t + 3.0, 0x90, 60, i % 2 == 0 ? 100 : 0, 0);
        midi.receiveAt(t + 7.0, 0xFE, 0, 0, 1);
        if (i < 24) {
            EXPECT_EQ(engine.getTempo(), 100.0) << "after clock " << i;
        }
    }
    EXPECT_EQ(engine.getTempo(), 120.0);
    EXPECT_EQ(settings->tempo.load(), 120.0);
}

// Two inputs that both follow MIDI clock, each delivering on its own thread.
class TwoClockInputsTest : public TransportTest {
protected:
    static inline std::atomic<int64_t> now{1000000};
    static int64_t fakeCounter() { return now.load(); }
    void SetUp() override {
        TransportTest::SetUp();
        engine.readPerformanceCounter = fakeCounter;
        engine.perfFrequency = 1000;
        settings->load(drivers->wasapi->devices, asio->devices);
        settings->mergeMidiDevices(midi.devices);
        settings->midiDevices[0]->sync = true;
        settings->midiDevices[1]->sync = true;
        ASSERT_TRUE(engine.startMidi());
        ASSERT_EQ(inputs().size(), 2u);
    }
    std::vector<FakeMidiDriver::OpenCall> inputs() const {
        std::vector<FakeMidiDriver::OpenCall> result;
        for (const FakeMidiDriver::OpenCall& call : midi.opened)
            if (call.input != nullptr)
                result.push_back(call);
        return result;
    }
    static void deliver(const FakeMidiDriver::OpenCall& input, uint8_t status, uint8_t data1,
                        uint8_t data2, double clockIntervalMs = 0.0) {
        MidiMessage message = MidiMessage::fromBytes(status, data1, data2, 1.0);
        message.clockIntervalMs = clockIntervalMs;
        input.callback(message, input.userData);
    }
};

// Clocks of 120 and 100 BPM arriving in turns: each input's beat is measured
// from its own clocks, never from a mixture of both.
TEST_F(TwoClockInputsTest, EachInputMeasuresItsOwnClock) {
    engine.setTempo(90.0);
    const auto both = inputs();
    std::vector<double> tempos;
    for (int i = 0; i < 24; ++i) {
        deliver(both[0], 0xF8, 0, 0, 500.0 / 24.0);
        tempos.push_back(engine.getTempo());
        deliver(both[1], 0xF8, 0, 0, 25.0);
        tempos.push_back(engine.getTempo());
    }
    // A count shared by both would have reached 24 halfway, at 109.1.
    EXPECT_EQ(std::count(tempos.begin(), tempos.end(), 90.0), 46);
    EXPECT_EQ(tempos[46], 120.0);
    EXPECT_EQ(tempos[47], 100.0);
}

// A race for the TSan tree: clock and taps of one learned trigger from two
// inputs at once. Which taps count depends on the interleaving; no clock
// tick is lost.
TEST_F(TwoClockInputsTest, RaceOfClockAndTapsFromTwoInputsForTSan) {
    engine.setLearnedTapMessage(0xB0, 64);
    const auto both = inputs();
    double expectedPpq = engine.clockPpq.load();
    for (int i = 0; i < 2 * 2400; ++i)
        expectedPpq += 0.0416666679084301;
    auto run = [&](const FakeMidiDriver::OpenCall& input, double intervalMs) {
        for (int i = 0; i < 2400; ++i) {
            deliver(input, 0xF8, 0, 0, intervalMs);
            if (i % 6 == 0) {
                now.fetch_add(50);
                deliver(input, 0xB0, 64, i % 12 == 0 ? 127 : 0);
            }
        }
    };
    std::thread first(run, both[0], 500.0 / 24.0);
    std::thread second(run, both[1], 25.0);
    first.join();
    second.join();
    EXPECT_GE(engine.getTempo(), 45.0);
    EXPECT_LE(engine.getTempo(), 250.0);
    EXPECT_GE(engine.tapCount, 0);
    EXPECT_LE(engine.tapSumMs, static_cast<uint32_t>(engine.tapCount) * 1333u);
    EXPECT_EQ(engine.clockPpq.load(), expectedPpq);
}

// Two inputs deliver at once while learning: exactly one message is learned,
// the stored trigger is the one the engine taps with, and the other message
// reaches the plug-in.
TEST_F(TwoClockInputsTest, OnlyOneOfTwoInputsLearns) {
    const auto both = inputs();
    for (int round = 0; round < 200; ++round) {
        engine.forgetLearnedTapMessage();
        engine.startTapLearning();
        const uint32_t before = engine.writeList().count.load();
        std::atomic<int> waiting{2};
        auto start = [&](const FakeMidiDriver::OpenCall& input, uint8_t status, uint8_t data1) {
            waiting.fetch_sub(1);
            while (waiting.load() != 0) {
            }
            deliver(input, status, data1, 100);
        };
        std::thread first(start, both[0], 0x90, 36);
        std::thread second(start, both[1], 0xB0, 7);
        first.join();
        second.join();
        const std::optional<MidiMessage> learned = engine.learnedTapMessage();
        ASSERT_TRUE(learned);
        EXPECT_FALSE(engine.learnMode.load());
        EXPECT_EQ(settings->tempoTab.load(), learned->status * 256 + learned->data1) << round;
        ASSERT_EQ(engine.writeList().count.load(), before + 1) << round;
        const VstMidiEvent& passed = engine.writeList().record(before);
        EXPECT_EQ(static_cast<uint8_t>(passed.midiData[0]), learned->status == 0x90 ? 0xB0 : 0x90)
            << round;
    }
}

class TapTest : public EngineTest {
protected:
    static inline int64_t now = 0;
    static int64_t fakeCounter() { return now; }
    void SetUp() override {
        engine.readPerformanceCounter = fakeCounter;
        engine.perfFrequency = 1000; // one count per millisecond
        now = 1000000;
        settings->load(drivers->wasapi->devices, asio->devices);
        settings->mergeMidiDevices(midi.devices);
        ASSERT_TRUE(engine.startMidi());
    }
    void tapAfter(int64_t ms, uint8_t status = 0x90, uint8_t data1 = 36, uint8_t data2 = 100) {
        now += ms;
        midi.receive(status, data1, data2);
    }
};

TEST_F(TapTest, LearningThenTappingSetsTheTempo) {
    engine.learnMode = true;
    tapAfter(0, 0x93, 36, 90); // learned on channel 4
    EXPECT_FALSE(engine.learnMode.load());
    EXPECT_EQ(settings->tempoTab.load(), 0x9024);
    EXPECT_TRUE(engine.saveSettingsIfRequested());
    tapAfter(5000); // starts a series
    EXPECT_EQ(engine.getTempo(), 120.0);
    tapAfter(500, 0x95, 36, 0); // any channel, velocity 0 too
    EXPECT_EQ(engine.getTempo(), 120.0);
    tapAfter(400);
    EXPECT_EQ(engine.getTempo(), 133.33); // 900 / 2 = 450 ms
    tapAfter(1334);
    EXPECT_EQ(engine.getTempo(), 133.33) << "a long pause only restarts the series";
    tapAfter(200);
    EXPECT_EQ(engine.getTempo(), 250.0) << "300 clamped";
    EXPECT_EQ(received().size(), 0u) << "taps never reach the plug-in";
}

TEST_F(TapTest, TapsFasterThanAMillisecondClampTo250) {
    engine.setLearnedTapMessage(0x90, 40);
    tapAfter(10000, 0x90, 40);
    tapAfter(0, 0x90, 40);
    EXPECT_EQ(engine.getTempo(), 250.0);
}

TEST_F(TapTest, ControllerTapsOnEachRise) {
    engine.setLearnedTapMessage(0xB0, 64);
    tapAfter(10000, 0xB0, 64, 0);
    tapAfter(500, 0xB0, 64, 127); // rise: tap (starts a series)
    tapAfter(500, 0xB0, 64, 127); // no rise: passed on
    tapAfter(0, 0xB0, 64, 0);
    tapAfter(0, 0xB0, 64, 127); // rise: tap 500 ms after the first
    EXPECT_EQ(engine.getTempo(), 120.0);
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    ASSERT_TRUE(engine.startMidi());
    asio->runBlocks(1);
    const std::vector<VstMidiEvent> events = received();
    ASSERT_EQ(events.size(), 3u) << "the messages that are not taps reach the plug-in";
    EXPECT_EQ(static_cast<uint8_t>(events[0].midiData[2]), 0);
    EXPECT_EQ(static_cast<uint8_t>(events[1].midiData[2]), 127);
    EXPECT_EQ(static_cast<uint8_t>(events[2].midiData[2]), 0);
}

TEST_F(TapTest, ForgettingWhileTheMidiThreadTapsIsSafe) {
    std::atomic<bool> done{false};
    std::thread midiThread([&] {
        for (int i = 0; i < 20000; ++i)
            midi.receive(0x90, 36, 100);
        done = true;
    });
    while (!done.load()) {
        engine.setLearnedTapMessage(0x90, 36);
        engine.forgetLearnedTapMessage();
    }
    midiThread.join();
    SUCCEED();
}

} // namespace
