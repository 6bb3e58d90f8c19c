// Real VST 2 plug-ins from Debian's dpf-plugins-vst, loaded and run the way
// the host runs its own plug-in.

#include "KsVSTHostLib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 512;

struct ThirdPartyCase {
    const char* file;
    const char* name;
    int inputs;
    int outputs;
    bool isSynth;
};

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, 0, value, ptr, opt);
}

void startLikeTheHost(AEffect* effect) {
    dispatch(effect, effOpen);
    dispatch(effect, effSetBlockSize, kFrames);
    dispatch(effect, effSetSampleRate, 0, nullptr, 48000.0f);
    dispatch(effect, effMainsChanged, 1);
}

void playNote(AEffect* effect) {
    VstMidiEvent note{};
    note.type = kVstMidiType;
    note.byteSize = sizeof(VstMidiEvent);
    note.midiData[0] = char(0x90);
    note.midiData[1] = 57;
    note.midiData[2] = 110;
    VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&note), nullptr}};
    dispatch(effect, effProcessEvents, 0, &events);
}

class ThirdPartyPluginTest : public testing::TestWithParam<ThirdPartyCase> {};

TEST_P(ThirdPartyPluginTest, LoadsAndProducesFiniteSound) {
    const ThirdPartyCase& c = GetParam();
    KsVSTHostLib lib;
    AEffect* effect = lib.load(std::string("/usr/lib/vst/") + c.file);
    ASSERT_NE(effect, nullptr) << c.file << ": " << describeLoadFailure(lib.lastFailure);
    startLikeTheHost(effect);

    char name[256] = {};
    dispatch(effect, effGetEffectName, 0, name);
    EXPECT_STREQ(name, c.name);
    EXPECT_EQ(effect->numInputs, c.inputs);
    EXPECT_EQ(effect->numOutputs, c.outputs);
    EXPECT_EQ((effect->flags & effFlagsIsSynth) != 0, c.isSynth);

    std::vector<float> left(kFrames), right(kFrames);
    float* pair[2] = {left.data(), right.data()};
    double energy = 0.0;
    for (int block = 0; block < 40; ++block) {
        for (int i = 0; i < kFrames; ++i) {
            const double t = (block * kFrames + i) / 48000.0;
            const float input =
                c.isSynth ? 0.0f : static_cast<float>(0.5 * std::sin(6.2832 * 220.0 * t));
            left[static_cast<size_t>(i)] = input;
            right[static_cast<size_t>(i)] = input;
        }
        if (c.isSynth && block == 0)
            playNote(effect);
        lib.process(pair, pair, kFrames);
        for (int i = 0; i < kFrames; ++i) {
            ASSERT_TRUE(std::isfinite(left[static_cast<size_t>(i)]));
            ASSERT_TRUE(std::isfinite(right[static_cast<size_t>(i)]));
            energy += left[static_cast<size_t>(i)] * left[static_cast<size_t>(i)] +
                      right[static_cast<size_t>(i)] * right[static_cast<size_t>(i)];
        }
    }
    EXPECT_GT(energy, 1.0) << "the plug-in stayed silent";
    dispatch(effect, effClose);
}

INSTANTIATE_TEST_SUITE_P(
    Dpf, ThirdPartyPluginTest,
    testing::Values(ThirdPartyCase{"Kars-vst.so", "Kars", 0, 1, true},
                    ThirdPartyCase{"MaBitcrush-vst.so", "MaBitcrush", 1, 2, false},
                    ThirdPartyCase{"3BandEQ-vst.so", "3 Band EQ", 2, 2, false}),
    [](const testing::TestParamInfo<ThirdPartyCase>& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return "P" + name;
    });

TEST(ThirdPartyPlugin, ThreeBandEqPassesTheSignalThroughAtItsDefaults) {
    KsVSTHostLib lib;
    AEffect* effect = lib.load("/usr/lib/vst/3BandEQ-vst.so");
    ASSERT_NE(effect, nullptr);
    startLikeTheHost(effect);
    std::vector<float> left(kFrames), right(kFrames), expected(kFrames);
    float* pair[2] = {left.data(), right.data()};
    for (int block = 0; block < 10; ++block) {
        for (int i = 0; i < kFrames; ++i) {
            expected[static_cast<size_t>(i)] =
                static_cast<float>(0.3 * std::sin(0.05 * (block * kFrames + i)));
        }
        left = expected;
        right = expected;
        lib.process(pair, pair, kFrames);
        for (int i = 0; i < kFrames; ++i) {
            ASSERT_NEAR(left[static_cast<size_t>(i)], expected[static_cast<size_t>(i)], 1e-4)
                << "block " << block << " frame " << i;
            ASSERT_NEAR(right[static_cast<size_t>(i)], expected[static_cast<size_t>(i)], 1e-4);
        }
    }
    dispatch(effect, effClose);
}

} // namespace
