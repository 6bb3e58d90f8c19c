// Plug-ins whose channels are not a stereo pair, run through the host's
// `process` with our test plug-ins of each shape.

#include "KsVSTHostLib.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

constexpr int kFrames = 256;

class ChannelShapeTest : public testing::Test {
protected:
    AEffect* load(const char* name) {
        plugin = name;
        AEffect* effect = lib.load(testPluginPath(name));
        EXPECT_NE(effect, nullptr) << name << ": " << describeLoadFailure(lib.lastFailure);
        if (effect != nullptr)
            effect->setParameter(effect, 0, 0.5f);
        return effect;
    }
    void TearDown() override {
        if (lib.effect != nullptr)
            lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    }
    void refill(float leftValue, float rightValue) {
        left.assign(left.size(), leftValue);
        right.assign(right.size(), rightValue);
        pair[0] = left.data();
        pair[1] = right.data();
    }
    KsTestProcessInfo info() const { return TestPluginControl(plugin).processInfo(lib.effect); }

    KsVSTHostLib lib;
    std::string plugin;
    std::vector<float> left = std::vector<float>(kFrames, 0.5f);
    std::vector<float> right = std::vector<float>(kFrames, -0.25f);
    float* pair[2] = {left.data(), right.data()};
};

TEST_F(ChannelShapeTest, SideChainInputsReadThePairAsItWasBeforeTheBlock) {
    ASSERT_NE(load("KsTestSideChain"), nullptr);
    lib.process(nullptr, pair, kFrames);
    const KsTestProcessInfo seen = info();
    EXPECT_EQ(seen.channelPointers[0], left.data());
    EXPECT_EQ(seen.channelPointers[1], right.data());
    EXPECT_EQ(seen.inputSums[2], 0.5 * kFrames);
    EXPECT_EQ(seen.inputSums[3], -0.25 * kFrames);
    EXPECT_EQ(left[0], 0.25f);
    EXPECT_EQ(right[kFrames - 1], -0.125f);
}

TEST_F(ChannelShapeTest, OneOutputIsHeardOnBothSides) {
    AEffect* effect = load("KsTestMonoSynth");
    ASSERT_NE(effect, nullptr);
    VstMidiEvent note{
        kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0x90), 69, 100, 0}, 0, 0, 0, 0};
    VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&note), nullptr}};
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    lib.process(nullptr, pair, kFrames);
    EXPECT_NE(left[10], 0.0f);
    EXPECT_EQ(right, left);
}

TEST_F(ChannelShapeTest, ManyOutputsAreHeardThroughTheFirstPair) {
    ASSERT_NE(load("KsTestWideOutputs"), nullptr);
    lib.process(nullptr, pair, kFrames);
    const KsTestProcessInfo seen = info();
    for (int k = 2; k < 24; ++k) {
        EXPECT_NE(seen.channelPointers[k], nullptr) << "entry " << k;
        EXPECT_NE(seen.channelPointers[k], left.data()) << "entry " << k;
        EXPECT_NE(seen.channelPointers[k], right.data()) << "entry " << k;
    }
    EXPECT_EQ(lib.channels.entries()[24], nullptr);
    EXPECT_EQ(left[0], 0.25f);
    EXPECT_EQ(right[0], -0.125f);
}

TEST_F(ChannelShapeTest, EveryEntryOfAnAmbisonicShapeHasItsOwnBuffer) {
    ASSERT_NE(load("KsTest64Channels"), nullptr);
    lib.process(nullptr, pair, kFrames);
    const KsTestProcessInfo seen = info();
    const std::set<float*> distinct(seen.channelPointers, seen.channelPointers + 64);
    EXPECT_EQ(distinct.size(), 64u);
    EXPECT_EQ(distinct.count(nullptr), 0u);
    EXPECT_EQ(lib.channels.entries()[64], nullptr);
    for (int k = 2; k < 8; ++k)
        EXPECT_EQ(seen.inputSums[k], 0.0) << "input " << k << " is not silent";
    EXPECT_EQ(left[0], 0.25f);
    EXPECT_EQ(right[0], -0.125f);
}

// The arrays are the plug-in's to write during the call: each block hands it
// the buffers again.
TEST_F(ChannelShapeTest, APlugInWritingOverItsArrayGetsTheBuffersBackNextBlock) {
    AEffect* effect = load("KsTest64Channels");
    ASSERT_NE(effect, nullptr);
    lib.process(nullptr, pair, kFrames);
    const KsTestProcessInfo first = info();
    TestPluginControl(plugin).scribbleOnHostArrays(effect);
    lib.process(nullptr, pair, kFrames);
    refill(0.5f, -0.25f);
    lib.process(nullptr, pair, kFrames);
    const KsTestProcessInfo third = info();
    for (int k = 2; k < 64; ++k)
        EXPECT_EQ(third.channelPointers[k], first.channelPointers[k]) << "entry " << k;
    EXPECT_EQ(left[0], 0.25f);
}

TEST_F(ChannelShapeTest, BlocksLongerThanTheScratchBuffersRunInPieces) {
    ASSERT_NE(load("KsTestSideChain"), nullptr);
    left.resize(kScratchFrames + 100);
    right.resize(kScratchFrames + 100);
    refill(0.5f, -0.25f);
    lib.process(nullptr, pair, kScratchFrames + 100);
    const KsTestProcessInfo seen = info();
    EXPECT_EQ(seen.processCalls, 2);
    EXPECT_EQ(seen.lastFrames, 100);
    EXPECT_EQ(seen.channelPointers[0], left.data() + kScratchFrames);
    EXPECT_EQ(seen.inputSums[2], 50.0);
    EXPECT_EQ(left.front(), 0.25f);
    EXPECT_EQ(left.back(), 0.25f);
}

// A driver's block longer than the smallest scratch size, announced before
// streaming, reaches the plug-in whole: its events keep their frames.
TEST_F(ChannelShapeTest, AnAnnouncedLongBlockRunsWhole) {
    ASSERT_NE(load("KsTestSideChain"), nullptr);
    lib.prepareChannels(kScratchFrames + 100);
    left.resize(kScratchFrames + 100);
    right.resize(kScratchFrames + 100);
    refill(0.5f, -0.25f);
    lib.process(nullptr, pair, kScratchFrames + 100);
    EXPECT_EQ(info().processCalls, 1);
    EXPECT_EQ(info().lastFrames, kScratchFrames + 100);
}

struct CountChange {
    VstInt32 inputs;
    VstInt32 outputs;
    bool called; // the plug-in runs; otherwise the block is silenced
    float heardLeft;
};

// A plug-in may change its counts after loading (and tell the host
// audioMasterIOChanged): shapes the buffers made at load can carry are
// served from the next block on; others are not called.
TEST_F(ChannelShapeTest, ChangedCountsAreServedOrSilenced) {
    ASSERT_NE(load("KsTestEffect"), nullptr);
    const TestPluginControl control("KsTestEffect");
    const CountChange changes[] = {
        {4, 2, true, 0.25f},   {64, 64, false, 0.0f}, {-1, 2, false, 0.0f},
        {2, 300, false, 0.0f}, {2, 40, true, 0.25f},  {2, 2, true, 0.25f},
    };
    for (const CountChange& change : changes) {
        control.setChannels(lib.effect, change.inputs, change.outputs);
        const int callsBefore = info().processCalls;
        refill(0.5f, -0.25f);
        lib.process(nullptr, pair, kFrames);
        const KsTestProcessInfo seen = info();
        EXPECT_EQ(seen.processCalls - callsBefore, change.called ? 1 : 0)
            << change.inputs << " in, " << change.outputs << " out";
        EXPECT_EQ(left[0], change.heardLeft) << change.inputs << " in, " << change.outputs;
        if (change.called && change.inputs == 4) {
            EXPECT_EQ(seen.inputSums[3], -0.25 * kFrames);
        }
    }
}

} // namespace
