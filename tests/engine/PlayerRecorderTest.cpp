#include "EngineTestSupport.h"

namespace {

class PlayerRecorderTest : public EngineTest {
protected:
    void SetUp() override {
        useManualDevices();
        ASSERT_TRUE(engine.startAudio());
    }
    // Puts samples in the player as a loaded file would: one extra entry
    // repeats the first frame.
    void loadSamples(const std::vector<float>& samples, uint32_t rate) {
        const auto n = static_cast<uint32_t>(samples.size());
        engine.playerLeft.reset(new float[n + 1]);
        engine.playerRight.reset(new float[n + 1]);
        for (uint32_t i = 0; i < n; ++i) {
            engine.playerLeft[i] = samples[i];
            engine.playerRight[i] = -samples[i];
        }
        engine.playerLeft[n] = samples[0];
        engine.playerRight[n] = -samples[0];
        engine.playerLength = n;
        engine.playerFileRate = rate;
    }
    // The effect passes its input through: the block shows what it heard.
    std::vector<float> heard(float liveInput = 0.25f) {
        asio->runBlocks(1, liveInput);
        return std::vector<float>(asio->channelBuffers[0], asio->channelBuffers[0] + 64);
    }
};

TEST_F(PlayerRecorderTest, FileAtAnotherRateIsSteppedAndInterpolated) {
    std::vector<float> ramp(1000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f;
    loadSamples(ramp, 44100);
    ASSERT_TRUE(engine.setPlayerState(1, false));
    EXPECT_DOUBLE_EQ(engine.playerStep, 0.91875);
    const std::vector<float> block = heard();
    EXPECT_FLOAT_EQ(block[0], 0.0f);
    EXPECT_NEAR(block[10], 0.0091875f, 1e-6f);
    EXPECT_NEAR(asio->channelBuffers[1][10], -0.0091875f, 1e-6f);
    EXPECT_EQ(engine.playedFrames.load(), 64u);
}

// Past 2^24 frames (6:20 of a 44.1 kHz file) a position no longer fits a
// float: the fraction between two frames must still lie between them.
TEST_F(PlayerRecorderTest, FramesPastTwoToTheTwentyFourStayBetweenTheirNeighbours) {
    constexpr uint32_t kFar = 1u << 24;
    constexpr uint32_t kFrames = kFar + 1000;
    // Only the pages read here are touched: the rest is never mapped in.
    engine.playerLeft.reset(new float[kFrames + 1]);
    engine.playerRight.reset(new float[kFrames + 1]);
    for (uint32_t i = kFar; i <= kFrames; ++i)
        engine.playerLeft[i] = engine.playerRight[i] = float(i - kFar) / 1000.0f;
    engine.playerLength = kFrames;
    engine.playerFileRate = 44100;
    ASSERT_TRUE(engine.setPlayerState(1, false));
    engine.playerPos = kFar + 0.1;
    const double firstPos = engine.playerPos;
    const std::vector<float> block = heard();
    for (size_t i = 0; i < block.size(); ++i) {
        const auto index = static_cast<uint32_t>(firstPos + double(i) * engine.playerStep);
        ASSERT_GE(block[i], engine.playerLeft[index]) << "frame " << i;
        ASSERT_LE(block[i], engine.playerLeft[index + 1]) << "frame " << i;
    }
}

TEST_F(PlayerRecorderTest, LoopInterpolatesIntoTheFirstFrame) {
    loadSamples({0.0f, 0.5f, 1.0f}, 96000); // two file frames per output frame at 48 kHz
    ASSERT_TRUE(engine.setPlayerState(1, true));
    engine.playerStep = 0.5;
    const std::vector<float> block = heard();
    const float expected[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.5f, 0.0f, 0.25f};
    for (int i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(block[static_cast<size_t>(i)], expected[i]) << "frame " << i;
}

TEST_F(PlayerRecorderTest, NonLoopingFileEndsMidCycleThenLiveInputReturns) {
    loadSamples(std::vector<float>(40, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(1, false));
    const std::vector<float> block = heard(0.25f);
    EXPECT_EQ(block[39], 0.5f);
    EXPECT_EQ(block[40], 0.0f);
    EXPECT_EQ(block[63], 0.0f);
    EXPECT_TRUE(engine.finished);
    EXPECT_EQ(engine.playerState.load(), 1);
    EXPECT_EQ(heard(0.25f)[0], 0.25f) << "the live input again";
    engine.rewindPlayer();
    EXPECT_EQ(heard(0.25f)[0], 0.25f) << "rewinding does not restart a finished file";
    ASSERT_TRUE(engine.setPlayerState(1, false));
    EXPECT_EQ(heard(0.25f)[0], 0.5f);
}

TEST_F(PlayerRecorderTest, ArmedPlayerStartsOnTheFirstDeliveredEvent) {
    loadSamples(std::vector<float>(1000, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(2, true));
    asio->runBlocks(1);
    EXPECT_EQ(processInfo().timeInfo.flags & kVstTransportPlaying, kVstTransportPlaying)
        << "the transport runs at once";
    EXPECT_EQ(heard()[0], 0.25f) << "the player waits, silent";
    engine.appendEvent(0x90, 60, 100);
    EXPECT_EQ(heard()[0], 0.5f);
    EXPECT_EQ(engine.playerState.load(), 1);
    EXPECT_EQ(engine.ppqPos.load(), 64.0 * 2.0 / 48000.0) << "restarted from 0 in that cycle";
}

TEST_F(PlayerRecorderTest, RecorderTakesTheChosenLengthOr300SecondsAndStopsAtFull) {
    settings->outputDevice->sampleRate = 44100.0;
    ASSERT_TRUE(engine.setRecorderState(1, 0));
    EXPECT_EQ(engine.recordCapacity, 13230000u);
    // 16 minutes at 44100 Hz: the whole length, not 300 seconds of it.
    ASSERT_TRUE(engine.setRecorderState(1, 960u * 44100u));
    EXPECT_EQ(engine.recordCapacity, 960u * 44100u);
    ASSERT_TRUE(engine.setRecorderState(1, 100));
    EXPECT_EQ(engine.recordCapacity, 100u);
    asio->runBlocks(1, 0.25f);
    asio->runBlocks(1, 0.5f);
    EXPECT_EQ(engine.recordedFrames.load(), 100u);
    EXPECT_EQ(engine.recordLeft[63], 0.25f);
    EXPECT_EQ(engine.recordLeft[64], 0.5f);
    EXPECT_EQ(engine.recordRight[99], -0.5f);
    asio->runBlocks(1);
    EXPECT_EQ(engine.recordedFrames.load(), 100u);
    EXPECT_EQ(engine.recorderState.load(), 1);
    ASSERT_TRUE(engine.setRecorderState(0, 0));
    EXPECT_EQ(engine.recordedFrames.load(), 100u) << "stopping keeps the recording";
}

TEST_F(PlayerRecorderTest, StartBothStartsPlayerAndRecorderInOneCycle) {
    loadSamples(std::vector<float>(1000, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(2, false));
    ASSERT_TRUE(engine.setRecorderState(2, 1000));
    engine.startBothRequest = true;
    asio->runBlocks(1);
    EXPECT_EQ(engine.playerState.load(), 1);
    EXPECT_EQ(engine.recorderState.load(), 1);
    EXPECT_EQ(engine.recordedFrames.load(), 64u);
    EXPECT_EQ(engine.recordLeft[0], 0.5f);
}

TEST_F(PlayerRecorderTest, ARewindWhilePlayingTakesEffectAtTheNextCycle) {
    std::vector<float> ramp(1000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f;
    loadSamples(ramp, 48000);
    ASSERT_TRUE(engine.setPlayerState(1, false));
    heard();
    EXPECT_EQ(heard()[0], ramp[64]);
    engine.rewindPlayer();
    EXPECT_EQ(engine.playedFrames.load(), 0u);
    EXPECT_EQ(heard()[0], ramp[0]);
    EXPECT_EQ(heard()[0], ramp[64]);
}

// Freeing stops what reads the arrays, and a start request that arrives for
// a player stopped in the meantime leaves it stopped.
TEST_F(PlayerRecorderTest, FreeingWhilePlayingOrArmedNeverLeavesACycleWithoutArrays) {
    loadSamples(std::vector<float>(1000, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    ASSERT_TRUE(engine.setRecorderState(1, 1000));
    engine.freePlayerBuffers();
    engine.freeRecorderBuffers();
    EXPECT_EQ(engine.playerState.load(), 0);
    EXPECT_EQ(engine.recorderState.load(), 0);
    EXPECT_EQ(heard()[0], 0.25f) << "the live input";

    loadSamples(std::vector<float>(1000, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(2, false));
    ASSERT_TRUE(engine.setRecorderState(2, 1000));
    engine.startBothRequest = true;
    ASSERT_TRUE(engine.setPlayerState(0, false));
    engine.freePlayerBuffers();
    EXPECT_EQ(heard()[0], 0.25f);
    EXPECT_EQ(engine.playerState.load(), 0);
    EXPECT_EQ(engine.recorderState.load(), 1) << "the armed recorder starts";
}

// The caller owns the take once the stop returns true, so the stop first
// sees every cycle that may still write it end.
TEST_F(PlayerRecorderTest, StoppingTheRecorderWaitsForACycleStillInside) {
    ASSERT_TRUE(engine.setRecorderState(1, 1000));
    asio->runBlocks(1);
    engine.inCycle = true; // a cycle that never ends, as a hung plug-in leaves it
    EXPECT_FALSE(engine.setRecorderState(0, 0));
    EXPECT_EQ(engine.recorderState.load(), 0);
    engine.inCycle = true;
    EXPECT_FALSE(engine.setRecorderState(1, 1000)) << "no new take over arrays in use";
    EXPECT_FALSE(engine.recorderOutOfMemory) << "the window tells a hung cycle apart";
    engine.inCycle = false;
    EXPECT_TRUE(engine.setRecorderState(0, 0));
    EXPECT_EQ(engine.recordedFrames.load(), 64u);
}

TEST_F(PlayerRecorderTest, WithoutAnOutputNothingStarts) {
    loadSamples({0.1f}, 48000);
    settings->outputDevice = nullptr;
    EXPECT_FALSE(engine.setPlayerState(1, false));
    EXPECT_FALSE(engine.setRecorderState(1, 0));
    engine.freePlayerBuffers();
    settings->outputDevice = asio->devices[0].get();
    EXPECT_FALSE(engine.setPlayerState(1, false)) << "no arrays";
}

TEST_F(PlayerRecorderTest, AudioRestartRestartsAPlayingPlayer) {
    loadSamples(std::vector<float>(100000, 0.5f), 48000);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    heard();
    ASSERT_TRUE(engine.startAudio());
    EXPECT_EQ(engine.playerState.load(), 1);
    EXPECT_EQ(engine.playedFrames.load(), 0u);
    EXPECT_EQ(heard()[0], 0.5f);
}

} // namespace

namespace {

class PlayerFileTest : public PlayerRecorderTest {
protected:
    std::string soxFile(const char* name) const {
        return platform::executableDirectory() + platform::pathSeparator() + "audio" +
               platform::pathSeparator() + name;
    }
};

TEST_F(PlayerFileTest, LoadsAFileWithTheExtraLoopEntry) {
    const uint32_t frames = engine.loadPlayerFile(soxFile("wav-s16-stereo.wav"));
    ASSERT_EQ(frames, 13230u); // 0.3 s at 44.1 kHz
    EXPECT_EQ(engine.playerLength, frames);
    EXPECT_EQ(engine.playerFileSampleRate(), 44100);
    EXPECT_EQ(engine.playerLeft[frames], engine.playerLeft[0]);
    EXPECT_EQ(engine.playerRight[frames], engine.playerRight[0]);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    EXPECT_DOUBLE_EQ(engine.playerStep, 0.91875);
}

TEST_F(PlayerFileTest, ReloadingKeepsThePlayerState) {
    ASSERT_GT(engine.loadPlayerFile(soxFile("wav-s16-stereo.wav")), 0u);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    ASSERT_GT(engine.loadPlayerFile(soxFile("aiff-s16-stereo.aiff")), 0u);
    EXPECT_EQ(engine.playerState.load(), 1);
    EXPECT_EQ(engine.playedFrames.load(), 0u);
}

TEST_F(PlayerFileTest, AFailedLoadLeavesNoPlayer) {
    ASSERT_GT(engine.loadPlayerFile(soxFile("wav-s16-stereo.wav")), 0u);
    EXPECT_EQ(engine.loadPlayerFile(soxFile("missing.wav")), 0u);
    EXPECT_EQ(engine.playerFileSampleRate(), 0) << "no file, no rate";
    EXPECT_EQ(engine.loadPlayerFile(""), 0u);
    EXPECT_FALSE(engine.setPlayerState(1, false));
    settings->outputDevice = nullptr;
    EXPECT_EQ(engine.loadPlayerFile(soxFile("wav-s16-stereo.wav")), 0u);
}

} // namespace
