// The window thread, a second requester and the plug-in's own calls race a
// running audio cycle: the last transport and tempo request always reaches
// the plug-in, and arrays are never freed under a cycle. Run in the sanitizer
// trees, these tests also prove that every field they touch is shared safely.

#include "Clock.h"
#include "DynamicLibrary.h"
#include "KsVSTHostInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

VstIntPtr ignoreDispatch(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) {
    return 0;
}

void passThrough(AEffect*, float**, float**, VstInt32) {}

// A driver whose blocks the test's own audio thread runs.
struct ManualDriver : KsAudioBase {
    bool start(AudioDeviceSettings*, AudioDeviceSettings*, AudioCallback, void*) override {
        return true;
    }
    void stop() override {}
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings*, bool) override { return true; }
};

// A stereo effect that needs no library, and a started engine around it whose
// audio thread runs cycles until told to stop. After each cycle the audio
// thread notes what the plug-in was shown.
class CycleStress : public testing::Test {
protected:
    CycleStress()
        : drivers(nullptr, std::make_unique<ManualDriver>()),
          settings("KsTest CycleStress", false) {
        effect.magic = kEffectMagic;
        effect.dispatcher = ignoreDispatch;
        effect.processReplacing = passThrough;
        effect.numInputs = 2;
        effect.numOutputs = 2;
        lib.effect = &effect;
        hostTable::append(&effect, &lib.record);
        for (AudioDeviceSettings* entry : {&input, &output}) {
            entry->type = audioDeviceAsio;
            entry->sampleRate = 48000.0;
            entry->bitsPerSample = 32;
            entry->bufferSize = 64;
        }
        settings.inputDevice = &input;
        settings.outputDevice = &output;
        engine.attach(&lib, &drivers, &midi, &settings);
        if (!engine.startAudio())
            throw std::runtime_error("the engine did not start");
    }
    ~CycleStress() override {
        stopCycles();
        hostTable::removeRecord(&lib.record);
        lib.effect = nullptr;
        platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                     "Software\\Kestrune\\KsTest CycleStress");
    }

    void startCycles() {
        stop = false;
        audio = std::thread([this] {
            float left[64] = {}, right[64] = {};
            float* pair[2] = {left, right};
            while (!stop.load()) {
                KsVSTHostInterface::audioCycle(pair, pair, 64, &engine);
                const VstTimeInfo& time = lib.record.timeInfo;
                shownPlaying.store((time.flags & kVstTransportPlaying) != 0);
                shownTempo.store(time.tempo);
                cycles.fetch_add(1);
                std::this_thread::yield(); // a driver waits for its device here
            }
        });
    }
    void stopCycles() {
        stop = true;
        if (audio.joinable())
            audio.join();
    }
    void waitForCycles(int count) {
        const int64_t target = cycles.load() + count;
        while (cycles.load() < target)
            std::this_thread::yield();
    }

    struct NoMidi : KsMidiBase {
        bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
                  void*) override {
            return true;
        }
        void close() override {}
        void sendShortMessage(const MidiMessage&) override {}
    };

    AEffect effect{};
    KsVSTHostLib lib;
    AudioDriverPair drivers;
    NoMidi midi;
    HostSettings settings;
    AudioDeviceSettings input;
    AudioDeviceSettings output;
    KsVSTHostInterface engine;
    std::thread audio;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> cycles{0};
    std::atomic<bool> shownPlaying{false};
    std::atomic<double> shownTempo{0.0};
};

// Each round two threads toggle transport and tempo against the running
// cycle, one through the engine and one as the plug-in does (opcode 53 from
// its editor); then one last request, whose value the plug-in must show.
TEST_F(CycleStress, TheLastTransportAndTempoRequestAlwaysWins) {
    constexpr int kRounds = 100;
    constexpr int kToggles = 50;
    startCycles();
    for (int round = 0; round < kRounds; ++round) {
        std::thread window([&] {
            for (int i = 0; i < kToggles; ++i) {
                engine.setTransport(i % 2 == 0);
                engine.setTempo(100.0 + i % 7);
            }
        });
        std::thread pluginEditor([&] {
            for (int i = 0; i < kToggles; ++i) {
                hostCallback(&effect, audioMasterSetHostTransport, i % 2, 0, nullptr, 0.0f);
                hostCallback(&effect, audioMasterSetHostTempo, 0, 0, nullptr, 90.0f + i % 5);
            }
        });
        window.join();
        pluginEditor.join();
        const bool playing = round % 2 == 0;
        const double bpm = 60.0 + round % 50;
        engine.setTransport(playing);
        engine.setTempo(bpm);
        waitForCycles(2);
        ASSERT_EQ(shownPlaying.load(), playing) << "round " << round;
        ASSERT_EQ(shownTempo.load(), bpm) << "round " << round;
        ASSERT_EQ(engine.getTempo(), bpm);
    }
}

// The player and recorder are started, restarted, rewound, stopped and freed
// while cycles run: the sanitizers see any array freed or field written under
// a cycle.
TEST_F(CycleStress, PlayerAndRecorderArraysAreNeverFreedUnderACycle) {
    const std::string file = platform::executableDirectory() + platform::pathSeparator() + "audio" +
                             platform::pathSeparator() + "wav-s16-stereo.wav";
    startCycles();
    for (int round = 0; round < 100; ++round) {
        ASSERT_GT(engine.loadPlayerFile(file), 0u);
        ASSERT_TRUE(engine.setPlayerState(round % 3 == 0 ? 2 : 1, true));
        ASSERT_TRUE(engine.setRecorderState(2, 2000));
        engine.startBothRequest.store(true);
        waitForCycles(1);
        ASSERT_TRUE(engine.setRecorderState(1, 3000)) << "a new take while one records";
        ASSERT_TRUE(engine.setPlayerState(1, false)) << "a restart while it plays";
        engine.rewindPlayer();
        waitForCycles(1);
        ASSERT_TRUE(engine.loadPlayerFile(file) > 0) << "a reload while it plays";
        engine.freeRecorderBuffers(); // while it records
        engine.freePlayerBuffers();   // while it plays
        EXPECT_EQ(engine.playerState.load(), 0);
        EXPECT_EQ(engine.recorderState.load(), 0);
        waitForCycles(1);
    }
    stopCycles();
    EXPECT_FALSE(engine.playerLeft);
    EXPECT_FALSE(engine.recordLeft);
}

// The audio thread's reading and the window thread's baseline at audio start
// may meet; the one that finds the other measuring takes the last value.
TEST(CpuLoadMeterStress, TwoThreadsReadAtOnce) {
    CpuLoadMeter meter;
    std::atomic<bool> measured{false};
    auto readUntilMeasured = [&] {
        for (int i = 0; i < 2000 && !measured.load(); ++i) {
            if (meter.read() != -1)
                measured = true;
            platform::sleepMs(1);
        }
    };
    std::thread other(readUntilMeasured);
    readUntilMeasured();
    other.join();
    EXPECT_TRUE(measured.load());
}

} // namespace
