#include "EngineTestSupport.h"

#include <cmath>

namespace {

const char* const kNoInput = "No input device available.\r\nOnly the audio player will work.";

class AudioStartTest : public EngineTest {};

TEST_F(AudioStartTest, NoOutputFailsWithoutAMessage) {
    EXPECT_FALSE(engine.startAudio());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(engine.running.load());
}

TEST_F(AudioStartTest, MissingInputWarnsAndStillStarts) {
    useManualDevices(false);
    EXPECT_TRUE(engine.startAudio());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kNoInput);
    EXPECT_EQ(messages[0].caption, "Warning");
    EXPECT_TRUE(engine.running.load());
}

TEST_F(AudioStartTest, MismatchedFormatsAreRefusedWithTheirMessages) {
    const struct {
        int32_t outputType;
        double inputRate;
        uint16_t inputBits;
        const char* text;
    } cases[] = {
        {audioDeviceWasapiShared, 44100.0, 32,
         "Different sample rates for input and output device not supported!\r\nAutomatic "
         "adjustment failed.\r\nPlease check your Audio device settings!"},
        {audioDeviceWasapiExclusive, 44100.0, 32,
         "Different sample rates for input and output device not supported!\r\nAutomatic "
         "adjustment failed.\r\nPlease check your Audio device settings!"},
        {audioDeviceAsio, 96000.0, 32,
         "Different sample rates for input and output device not supported!\r\nPlease correct "
         "and restart Application."},
        {audioDeviceWasapiShared, 48000.0, 16,
         "Different bit rates for input and output device not supported!\r\nPlease correct and "
         "restart Application."},
    };
    for (const auto& c : cases) {
        messages.clear();
        KsAudioBase& driver =
            c.outputType == audioDeviceAsio ? static_cast<KsAudioBase&>(*asio) : *wasapi;
        settings->outputDevice = addDevice(driver, c.outputType, "Out", false, 48000.0, 32);
        settings->inputDevice =
            addDevice(driver, c.outputType, "In", true, c.inputRate, c.inputBits);
        EXPECT_FALSE(engine.startAudio());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.text);
        EXPECT_EQ(messages[0].caption, "Error");
        EXPECT_FALSE(engine.running.load());
    }
}

TEST_F(AudioStartTest, UnknownOutputTypeAndFailingDriverDoNotStart) {
    settings->outputDevice = addDevice(*asio, 16, "Odd", false);
    EXPECT_FALSE(engine.startAudio());
    useManualDevices();
    asio->failStart = true;
    EXPECT_FALSE(engine.startAudio());
    EXPECT_FALSE(engine.running.load());
}

TEST_F(AudioStartTest, TellsThePluginBlockSizeRateAndStartsIt) {
    useManualDevices();
    settings->outputDevice->bufferSize = 96;
    settings->outputDevice->sampleRate = 44100.0;
    settings->inputDevice->sampleRate = 44100.0;
    control.clearCalls(lib.effect);
    ASSERT_TRUE(engine.startAudio());
    const std::vector<KsTestCall> calls = callsSince(0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].opcode, effSetBlockSize);
    EXPECT_EQ(calls[0].value, 96);
    EXPECT_EQ(calls[1].opcode, effSetSampleRate);
    EXPECT_EQ(calls[1].opt, 44100.0f);
    EXPECT_EQ(calls[2].opcode, effMainsChanged);
    EXPECT_EQ(calls[2].value, 1);
    EXPECT_EQ(lib.record.timeInfo.sampleRate, 44100.0);
    EXPECT_EQ(lib.record.tempoHook != nullptr, true);
    EXPECT_DOUBLE_EQ(engine.ppqPerSample, 2.0 / 44100.0);
}

// A damaged buffer size (registry or a typed value) or a driver's rate of 0
// never reaches the plug-in nor sizes its buffers: the start fails, and the
// next one with sound values works. (The rates are tried without an input,
// whose different rate would be refused first.)
TEST_F(AudioStartTest, ABlockSizeOrRateNoDeviceGivesDoesNotStart) {
    const struct {
        bool onInput;
        int32_t frames;
        double rate;
    } rows[] = {{false, INT32_MAX, 48000.0}, {true, INT32_MAX, 48000.0}, {false, 65537, 48000.0},
                {true, -5, 48000.0},         {false, 256, 0.0},          {false, 256, std::nan("")},
                {false, 256, -44100.0},      {false, 0, 48000.0}};
    for (const auto& row : rows) {
        useManualDevices(row.onInput);
        AudioDeviceSettings* device = row.onInput ? settings->inputDevice : settings->outputDevice;
        device->bufferSize = row.frames;
        device->sampleRate = row.rate;
        control.clearCalls(lib.effect);
        EXPECT_FALSE(engine.startAudio()) << row.frames << " frames at " << row.rate;
        EXPECT_TRUE(callsSince(0).empty()) << row.frames << " frames at " << row.rate;
    }
    useManualDevices();
    EXPECT_TRUE(engine.startAudio());
}

TEST_F(AudioStartTest, CycleProcessesTheDriversPairInPlace) {
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    ASSERT_EQ(asio->runBlocks(3, 0.25f), 3);
    const KsTestProcessInfo info = processInfo();
    EXPECT_EQ(info.processCalls, 3);
    EXPECT_EQ(info.lastFrames, 64);
    EXPECT_TRUE(info.inputsAreOutputs);
    EXPECT_EQ(info.channelPointers[0], asio->channelBuffers[0]);
    EXPECT_EQ(info.channelPointers[1], asio->channelBuffers[1]);
    EXPECT_EQ(asio->channelBuffers[0][10], 0.25f) << "live input passes through the effect";
    EXPECT_EQ(asio->channelBuffers[1][10], -0.25f);
}

TEST_F(AudioStartTest, WithoutAnInputTheEffectHearsSilence) {
    useManualDevices(false);
    ASSERT_TRUE(engine.startAudio());
    asio->runBlocks(1, 0.25f);
    EXPECT_EQ(asio->channelBuffers[0][0], 0.0f);
    engine.playerDialogOpen = true;
    settings->inputDevice = addDevice(*asio, audioDeviceAsio, "Manual", true);
    asio->runBlocks(1, 0.25f);
    EXPECT_EQ(asio->channelBuffers[1][63], 0.0f) << "the open player dialog silences the input";
}

TEST_F(AudioStartTest, StopRequestEndsTheCycleUntouched) {
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    engine.stopRequest = true;
    EXPECT_EQ(asio->runBlocks(1, 0.75f), 0);
    EXPECT_FALSE(engine.stopRequest.load());
    EXPECT_EQ(processInfo().processCalls, 0);
    EXPECT_EQ(asio->channelBuffers[0][0], 0.75f);
}

TEST_F(AudioStartTest, CpuLoadIsReadEvery101Cycles) {
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    asio->runBlocks(100);
    EXPECT_EQ(engine.cpuLoad.load(), 0);
    EXPECT_EQ(engine.cycleCount, 100);
    asio->runBlocks(1);
    EXPECT_EQ(engine.cycleCount, 0);
    EXPECT_EQ(engine.cpuLoad.load(), -1) << "fewer than 251 ms after the baseline";
}

TEST_F(AudioStartTest, OwnThreadDriverStartsAndStops) {
    auto threaded = std::make_unique<CallbackDriver>(true);
    CallbackDriver* driver = threaded.get();
    drivers->asio = std::move(threaded);
    asio = driver;
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    while (driver->blocks.load() < 5)
        platform::sleepMs(1);
    engine.stopAudio();
    EXPECT_FALSE(engine.running.load());
    EXPECT_FALSE(driver->running);
    EXPECT_GE(processInfo().processCalls, 5);
}

// A stop the ASIO driver gives up (a block stuck in its part of the block)
// leaves the stream counted as running, which the exit looks at; the stop
// tried again before the plug-in closes ends it once the driver lets go.
TEST_F(AudioStartTest, AStreamTheAsioDriverKeepsAfterAStopStaysRunning) {
    useManualDevices();
    ASSERT_TRUE(engine.startAudio());
    asio->runBlocks(2);
    asio->keepsStreamOnStop = true;
    engine.stopAudio();
    EXPECT_TRUE(engine.running.load());
    engine.cutOffStream();
    EXPECT_TRUE(engine.running.load());
    asio->keepsStreamOnStop = false;
    engine.cutOffStream();
    EXPECT_FALSE(engine.running.load());
    EXPECT_FALSE(asio->running);
}

TEST_F(AudioStartTest, AnAsioEntryNeedsAnAsioDriverToStartAndStop) {
    useManualDevices();
    std::unique_ptr<KsAudioBase> kept = std::move(drivers->asio);
    EXPECT_FALSE(engine.startAudio()) << "no ASIO driver in the pair";
    drivers->asio = std::move(kept);
    ASSERT_TRUE(engine.startAudio());
    kept = std::move(drivers->asio);
    engine.stopAudio();
    EXPECT_FALSE(engine.running.load());
    drivers->asio = std::move(kept);
}

class InstrumentStartTest : public EngineTest {
protected:
    InstrumentStartTest() : EngineTest("KsTestSynth") {}
};

TEST_F(InstrumentStartTest, DropsTheInputWithoutAWarning) {
    useManualDevices(true);
    ASSERT_TRUE(engine.startAudio());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(settings->inputDevice, nullptr);
    settings->save();
    HostSettings reread(pluginName, true);
    AudioDeviceList none;
    reread.load(none, asio->devices);
    EXPECT_EQ(reread.inputDevice, nullptr) << "the dropped input is not stored";
}

class StreamThreadTest : public EngineTest {};

TEST_F(StreamThreadTest, BlockingLoopRunsOnItsOwnThreadUntilStopped) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Speakers", false);
    settings->inputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Mic", true);
    ASSERT_TRUE(engine.startAudio());
    EXPECT_TRUE(engine.running.load());
    EXPECT_GT(wasapi->blocks.load(), 0);
    engine.stopAudio();
    EXPECT_FALSE(engine.running.load());
    EXPECT_FALSE(engine.stopRequest.load());
    const int blocks = wasapi->blocks.load();
    platform::sleepMs(20);
    EXPECT_EQ(wasapi->blocks.load(), blocks) << "the stream has ended";
    ASSERT_TRUE(engine.startAudio()) << "and can start again";
}

TEST_F(StreamThreadTest, FailingStreamDropsRunning) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiExclusive, "Speakers", false);
    wasapi->failStart = true;
    EXPECT_FALSE(engine.startAudio());
    EXPECT_FALSE(engine.running.load());
}

TEST_F(StreamThreadTest, AStreamThatWillNotEndBlocksTheNextStart) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Speakers", false);
    ASSERT_TRUE(engine.startAudio());
    wasapi->ignoreEnd = true;
    engine.stopAudio();
    EXPECT_TRUE(engine.running.load()) << "still streaming after six checks";
    EXPECT_FALSE(engine.startAudio()) << "never two streams at once";
    wasapi->forceEnd = true;
    for (int i = 0; i < 100 && engine.running.load(); ++i)
        platform::sleepMs(5);
    wasapi->ignoreEnd = false;
    wasapi->forceEnd = false;
    EXPECT_TRUE(engine.startAudio());
}

// The warning of a start lets the window thread's message loop run, and from
// there the menu or Apply in Audio Settings would start audio again.
TEST_F(StreamThreadTest, AStartFromTheMessageOfAStartIsRefused) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Speakers", false);
    struct Nested {
        KsVSTHostInterface& engine;
        int messages = 0;
        bool innerStarted = true;
    } nested{engine};
    platform::setMessageSink(
        [](const std::string&, const std::string&, void* user) {
            auto& n = *static_cast<Nested*>(user);
            if (n.messages++ == 0)
                n.innerStarted = n.engine.startAudio();
        },
        &nested);
    EXPECT_TRUE(engine.startAudio());
    EXPECT_FALSE(nested.innerStarted);
    EXPECT_EQ(nested.messages, 1);
    EXPECT_EQ(wasapi->starts.load(), 1) << "one stream";
    EXPECT_TRUE(engine.running.load());
    engine.stopAudio();
    EXPECT_FALSE(engine.running.load());
}

// A block held up longer than a stop waits: the stream ends by itself when
// the block comes back. Ended by its device instead, it leaves the request
// behind, which must not end the next stream.
TEST_F(StreamThreadTest, AStreamHeldUpDuringAStopEndsWhenItComesBack) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Speakers", false);
    for (const bool deviceEnds : {false, true}) {
        ASSERT_TRUE(engine.startAudio());
        wasapi->holdBlocks = true;
        while (!wasapi->holding.load())
            platform::sleepMs(1);
        engine.stopAudio();
        EXPECT_TRUE(engine.running.load()) << "held past the stop's checks";
        if (deviceEnds)
            wasapi->forceEnd = true; // no further block takes the request
        else
            wasapi->holdBlocks = false; // the block comes back
        for (int i = 0; i < 2000 && engine.running.load(); ++i)
            platform::sleepMs(1);
        EXPECT_FALSE(engine.running.load()) << "device ends: " << deviceEnds;
        wasapi->holdBlocks = false;
        wasapi->forceEnd = false;
    }
    EXPECT_TRUE(engine.startAudio()) << "after a stream the device ended";
    EXPECT_TRUE(engine.running.load());
}

TEST_F(StreamThreadTest, AStreamWhoseDeviceWentQuietStillStops) {
    settings->outputDevice = addDevice(*wasapi, audioDeviceWasapiShared, "Speakers", false);
    wasapi->quietAfter = 3;
    ASSERT_TRUE(engine.startAudio());
    ASSERT_GE(wasapi->blocks.load(), 3);
    engine.stopAudio();
    EXPECT_FALSE(engine.running.load());
    EXPECT_FALSE(engine.stopRequest.load());
    EXPECT_EQ(wasapi->blocks.load(), 4) << "one block of no frames carried the request";
    wasapi->quietAfter = -1;
    EXPECT_TRUE(engine.startAudio());
}

// A stream loop that never returns: it keeps calling the engine whatever the
// engine answers, until the test lets it go.
class EndlessLoopDriver : public KsAudioBase {
public:
    bool start(AudioDeviceSettings*, AudioDeviceSettings*, AudioCallback cb, void* user) override {
        float left[64] = {}, right[64] = {};
        float* pair[2] = {left, right};
        while (!release.load()) {
            cb(pair, pair, 64, user);
            platform::sleepMs(1);
        }
        returned.store(true);
        return true;
    }
    void stop() override {}
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings*, bool) override { return true; }

    std::atomic<bool> release{false};
    std::atomic<bool> returned{false};
};

// An engine whose stream loop would not stop when asked.
class StuckStreamTest : public StreamThreadTest {
protected:
    void SetUp() override {
        StreamThreadTest::SetUp();
        settings->outputDevice = addDevice(*driver, audioDeviceWasapiShared, "Stuck", false);
        stuck->attach(&lib, &endless, &midi, settings.get());
        ASSERT_TRUE(stuck->startAudio());
        stuck->stopAudio();
        ASSERT_TRUE(stuck->running.load());
    }
    void TearDown() override {
        stuck.reset();
        driver->release = true;
        while (!driver->returned.load())
            platform::sleepMs(1);
    }
    bool pluginHearsNoMore() {
        const int calls = processInfo().processCalls;
        platform::sleepMs(20); // the loop calls on, and reaches nothing
        return processInfo().processCalls == calls;
    }

    AudioDriverPair endless{std::make_unique<EndlessLoopDriver>(), nullptr};
    EndlessLoopDriver* driver = static_cast<EndlessLoopDriver*>(endless.wasapi.get());
    std::unique_ptr<KsVSTHostInterface> stuck = std::make_unique<KsVSTHostInterface>();
};

TEST_F(StuckStreamTest, DestructionLeavesAStreamThatNeverEndsBehind) {
    testing::internal::CaptureStderr();
    stuck.reset(); // returns, although the stream goes on
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("did not end"), std::string::npos) << log;
    EXPECT_EQ(lib.record.tempoHook, nullptr) << "no hook leads to the engine that is gone";
    EXPECT_EQ(lib.record.transportHook, nullptr);
    EXPECT_TRUE(pluginHearsNoMore());
}

// The main window closes the plug-in while the engine still exists: once the
// stream is cut off, no block reaches the plug-in.
TEST_F(StuckStreamTest, AStreamCutOffBeforeThePluginClosesReachesItNoMore) {
    testing::internal::CaptureStderr();
    stuck->cutOffStream();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(pluginHearsNoMore());
}

} // namespace
