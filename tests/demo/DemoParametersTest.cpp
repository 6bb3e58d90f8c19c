#include "DemoParameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using demo::DemoParameters;
using demo::kParameterCount;

namespace {

std::vector<float> valuesOf(const DemoParameters& parameters) {
    std::vector<float> values;
    for (int i = 0; i < kParameterCount; ++i)
        values.push_back(parameters.get(i));
    return values;
}

TEST(DemoChunk, HoldsTagVersionCountAndEveryValueLittleEndian) {
    DemoParameters parameters;
    parameters.set(demo::kVolume, 1.0f);
    parameters.set(demo::kDetune, 0.0f);
    const demo::ChunkBytes chunk = parameters.chunk();
    const unsigned char header[] = {
        'K',  's',  'D',  'S',  /* tag */
        0x01, 0x00, 0x00, 0x00, /* version 1 */
        0x05, 0x00, 0x00, 0x00, /* five values */
        0x00, 0x00, 0x80, 0x3F, /* volume 1.0 */
    };
    EXPECT_EQ(std::memcmp(chunk.data(), header, sizeof(header)), 0);
    EXPECT_EQ(chunk[28] | chunk[29] | chunk[30] | chunk[31], 0); // detune 0.0
}

TEST(DemoChunk, RoundTripRestoresEveryValueExactly) {
    DemoParameters source;
    for (int i = 0; i < kParameterCount; ++i)
        source.set(i, 0.1f * static_cast<float>(i) + 0.0123f);
    const demo::ChunkBytes chunk = source.chunk();
    DemoParameters target;
    ASSERT_TRUE(target.setChunk(chunk.data(), chunk.size()));
    EXPECT_EQ(valuesOf(target), valuesOf(source));
}

struct BadChunk {
    const char* name;
    size_t offset; // where to write `bytes` into a good chunk
    std::vector<unsigned char> bytes;
    long sizeChange;
};

void PrintTo(const BadChunk& c, std::ostream* os) {
    *os << c.name;
}

class DemoBadChunk : public testing::TestWithParam<BadChunk> {};

TEST_P(DemoBadChunk, IsRefusedAndChangesNothing) {
    DemoParameters source;
    source.set(demo::kVolume, 0.25f);
    std::vector<unsigned char> bytes(demo::kChunkSize + 8, 0);
    const demo::ChunkBytes good = source.chunk();
    std::memcpy(bytes.data(), good.data(), good.size());
    std::copy(GetParam().bytes.begin(), GetParam().bytes.end(), bytes.begin() + GetParam().offset);
    DemoParameters target;
    const std::vector<float> before = valuesOf(target);
    const size_t size = static_cast<size_t>(static_cast<long>(good.size()) + GetParam().sizeChange);
    EXPECT_FALSE(target.setChunk(bytes.data(), size));
    EXPECT_EQ(valuesOf(target), before);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, DemoBadChunk,
    testing::Values(BadChunk{"Empty", 0, {}, -static_cast<long>(demo::kChunkSize)},
                    BadChunk{"HeaderOnly", 0, {}, -20}, BadChunk{"OneByteShort", 0, {}, -1},
                    BadChunk{"OneByteLong", 0, {}, 1},
                    BadChunk{"OtherTag", 0, {'K', 's', 'D', 'X'}, 0},
                    BadChunk{"NewerVersion", 4, {0x02, 0x00, 0x00, 0x00}, 0},
                    BadChunk{"FewerValues", 8, {0x04, 0x00, 0x00, 0x00}, 0},
                    BadChunk{"NotANumber", 16, {0x00, 0x00, 0xC0, 0x7F}, 0},
                    BadChunk{"AboveOne", 20, {0x00, 0x00, 0xC0, 0x3F}, 0},
                    BadChunk{"BelowZero", 24, {0xCD, 0xCC, 0xCC, 0xBD}, 0}),
    [](const testing::TestParamInfo<BadChunk>& info) { return std::string(info.param.name); });

TEST(DemoChunk, NullDataIsRefused) {
    DemoParameters parameters;
    EXPECT_FALSE(parameters.setChunk(nullptr, demo::kChunkSize));
}

struct DisplayCase {
    int index;
    float value;
    const char* text;
};

class DemoDisplay : public testing::TestWithParam<DisplayCase> {};

TEST_P(DemoDisplay, ReadsAsTheSoundUsesIt) {
    char text[demo::kParameterTextLength + 1 + 4];
    std::memset(text, 'x', sizeof(text));
    ASSERT_TRUE(demo::formatParameter(GetParam().index, GetParam().value, text,
                                      demo::kParameterTextLength + 1));
    EXPECT_STREQ(text, GetParam().text);
    EXPECT_EQ(text[demo::kParameterTextLength + 1], 'x'); // nothing past the host's buffer
}

INSTANTIATE_TEST_SUITE_P(
    Values, DemoDisplay,
    testing::Values(
        DisplayCase{demo::kVolume, 1.0f, "0.0"}, DisplayCase{demo::kVolume, 0.5f, "-12.0"},
        DisplayCase{demo::kVolume, 0.0f, "-inf"}, DisplayCase{demo::kAttack, 0.0f, "1"},
        DisplayCase{demo::kAttack, 1.0f, "2000"}, DisplayCase{demo::kRelease, 0.0f, "5"},
        DisplayCase{demo::kRelease, 1.0f, "4000"}, DisplayCase{demo::kWaveform, 0.0f, "Sine"},
        DisplayCase{demo::kWaveform, 0.3f, "Triangle"}, DisplayCase{demo::kWaveform, 0.6f, "Saw"},
        DisplayCase{demo::kWaveform, 1.0f, "Square"}, DisplayCase{demo::kDetune, 1.0f, "50.0"}));

TEST(DemoParameterTexts, NamesAndLabelsFitTheHostsBuffers) {
    for (int i = 0; i < kParameterCount; ++i) {
        EXPECT_LE(std::strlen(demo::parameterInfo(i)->name), demo::kParameterTextLength) << i;
        EXPECT_LE(std::strlen(demo::parameterInfo(i)->label), demo::kParameterTextLength) << i;
    }
    char text[4] = "abc";
    EXPECT_EQ(demo::parameterInfo(kParameterCount), nullptr);
    EXPECT_EQ(demo::parameterInfo(-1), nullptr);
    EXPECT_FALSE(demo::formatParameter(kParameterCount, 0.5f, text, sizeof(text)));
    EXPECT_TRUE(demo::formatParameter(demo::kWaveform, 0.3f, text, sizeof(text)));
    EXPECT_STREQ(text, "Tri"); // a short buffer is cut, never overrun
}

TEST(DemoParameterValues, AreClampedAndNotANumberIsRefused) {
    DemoParameters parameters;
    EXPECT_TRUE(parameters.set(demo::kVolume, 3.0f));
    EXPECT_EQ(parameters.get(demo::kVolume), 1.0f);
    EXPECT_TRUE(parameters.set(demo::kVolume, -1.0f));
    EXPECT_EQ(parameters.get(demo::kVolume), 0.0f);
    EXPECT_FALSE(parameters.set(demo::kVolume, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(parameters.get(demo::kVolume), 0.0f);
    EXPECT_FALSE(parameters.set(kParameterCount, 0.5f));
    EXPECT_EQ(parameters.get(kParameterCount), 0.0f);
}

} // namespace
