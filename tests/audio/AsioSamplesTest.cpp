#include "AsioSamples.h"
#include "AsioInterface.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// One handled type: its width, byte order, and what +1.0, -1.0 and 0.0
// become in it (as the little-endian integer of the sample's bits).
struct TypeRow {
    int32_t type;
    size_t width;
    bool bigEndian;
    uint64_t plusOne;
    uint64_t minusOne;
    float quantum; // the step between two adjacent samples, as a float
};

constexpr uint64_t bits32(int32_t v) {
    return static_cast<uint32_t>(v);
}
uint64_t floatBits(float v) {
    return std::bit_cast<uint32_t>(v);
}
uint64_t doubleBits(double v) {
    return std::bit_cast<uint64_t>(v);
}

const float kClamped = std::bit_cast<float>(0x3F7FFFFEu); // 0.99999988

const std::vector<TypeRow>& typeTable() {
    static const std::vector<TypeRow> rows = {
        {ASIOSTInt16LSB, 2, false, 32767, 0x8000, 1.0f / 32768},
        {ASIOSTInt16MSB, 2, true, 32767, 0x8000, 1.0f / 32768},
        {ASIOSTInt24LSB, 3, false, 8388606, 0x800001, 1.0f / 8388608},
        {ASIOSTInt24MSB, 3, true, 8388606, 0x800001, 1.0f / 8388608},
        {ASIOSTInt32LSB, 4, false, 0x7FFFFE00, 0x80000100, 1.0f / 8388608},
        {ASIOSTInt32MSB, 4, true, 0x7FFFFE00, 0x80000100, 1.0f / 8388608},
        {ASIOSTFloat32LSB, 4, false, floatBits(1.0f), floatBits(-1.0f), 0.0f},
        {ASIOSTFloat32MSB, 4, true, floatBits(1.0f), floatBits(-1.0f), 0.0f},
        {ASIOSTFloat64LSB, 8, false, doubleBits(kClamped), doubleBits(-kClamped), 0.0f},
        {ASIOSTFloat64MSB, 8, true, doubleBits(kClamped), doubleBits(-kClamped), 0.0f},
        {ASIOSTInt32LSB16, 4, false, bits32(32767), bits32(-32768), 1.0f / 32768},
        {ASIOSTInt32MSB16, 4, true, bits32(32767), bits32(-32768), 1.0f / 32768},
        {ASIOSTInt32LSB18, 4, false, bits32(131071), bits32(-131072), 1.0f / 131072},
        {ASIOSTInt32MSB18, 4, true, bits32(131071), bits32(-131072), 1.0f / 131072},
        {ASIOSTInt32LSB20, 4, false, bits32(524287), bits32(-524288), 1.0f / 524288},
        {ASIOSTInt32MSB20, 4, true, bits32(524287), bits32(-524288), 1.0f / 524288},
        {ASIOSTInt32LSB24, 4, false, bits32(8388606), bits32(-8388607), 1.0f / 8388608},
        {ASIOSTInt32MSB24, 4, true, bits32(8388606), bits32(-8388607), 1.0f / 8388608},
    };
    return rows;
}

// The sample's bits as a little-endian integer, whatever its byte order.
uint64_t sampleValue(const TypeRow& row, const unsigned char* p) {
    uint64_t v = 0;
    for (size_t i = 0; i < row.width; ++i) {
        const size_t byte = row.bigEndian ? row.width - 1 - i : i;
        v |= uint64_t(p[byte]) << (8 * i);
    }
    return v;
}

class AsioSampleTypes : public testing::TestWithParam<TypeRow> {};

TEST_P(AsioSampleTypes, FullScaleAndZeroBecomeTheStatedSamples) {
    const TypeRow& row = GetParam();
    const float in[3] = {1.0f, -1.0f, 0.0f};
    std::vector<unsigned char> out(3 * row.width, 0xAA);
    ASSERT_TRUE(floatToAsio(row.type, in, out.data(), 3));
    EXPECT_EQ(sampleValue(row, out.data()), row.plusOne) << std::hex;
    EXPECT_EQ(sampleValue(row, out.data() + row.width), row.minusOne) << std::hex;
    EXPECT_EQ(sampleValue(row, out.data() + 2 * row.width), 0u);
}

TEST_P(AsioSampleTypes, SamplesReadBackWithinOneStepAndMsbIsSwappedInPlace) {
    const TypeRow& row = GetParam();
    std::vector<float> in(101);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = -0.9f + 0.018f * static_cast<float>(i);
    std::vector<unsigned char> buffer(in.size() * row.width);
    ASSERT_TRUE(floatToAsio(row.type, in.data(), buffer.data(), uint32_t(in.size())));
    const std::vector<unsigned char> written = buffer;
    std::vector<float> back(in.size());
    ASSERT_TRUE(asioToFloat(row.type, buffer.data(), back.data(), uint32_t(in.size())));
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_NEAR(back[i], in[i], row.quantum * 1.01f + 1e-7f) << "sample " << i;
    // A big-endian buffer holds its samples in little-endian order afterwards.
    for (size_t i = 0; i < in.size(); ++i) {
        const unsigned char* was = written.data() + i * row.width;
        const unsigned char* now = buffer.data() + i * row.width;
        for (size_t b = 0; b < row.width; ++b)
            ASSERT_EQ(now[b], was[row.bigEndian ? row.width - 1 - b : b]) << "sample " << i;
    }
}

// Random floats, some beyond full scale, infinite or NaN.
std::vector<float> awkwardFloats(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-2.5f, 2.5f);
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = value(random);
    const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), -1.0f, 1.0f, -0.0f};
    for (size_t i = 0; i < n; i += 7)
        out[i] = special[(i / 7) % 5];
    return out;
}

TEST_P(AsioSampleTypes, EveryBlockLengthGivesThePerSampleResults) {
    const TypeRow& row = GetParam();
    for (uint32_t frames = 0; frames <= 70; ++frames) {
        const std::vector<float> in = awkwardFloats(frames, frames);
        std::vector<unsigned char> block(frames * row.width + 1, 0x55);
        std::vector<unsigned char> single(frames * row.width + 1, 0x55);
        ASSERT_TRUE(floatToAsio(row.type, in.data(), block.data(), frames));
        for (uint32_t i = 0; i < frames; ++i)
            floatToAsio(row.type, in.data() + i, single.data() + i * row.width, 1);
        ASSERT_EQ(block, single) << "output, " << frames << " frames";

        std::vector<unsigned char> raw(frames * row.width);
        std::mt19937 random(frames);
        for (unsigned char& b : raw)
            b = static_cast<unsigned char>(random());
        std::vector<unsigned char> rawSingle = raw;
        std::vector<float> whole(frames + 1, 7.0f), each(frames + 1, 7.0f);
        ASSERT_TRUE(asioToFloat(row.type, raw.data(), whole.data(), frames));
        for (uint32_t i = 0; i < frames; ++i)
            asioToFloat(row.type, rawSingle.data() + i * row.width, each.data() + i, 1);
        ASSERT_EQ(0, std::memcmp(whole.data(), each.data(), whole.size() * sizeof(float)))
            << "input, " << frames << " frames";
    }
}

INSTANTIATE_TEST_SUITE_P(AllHandled, AsioSampleTypes, testing::ValuesIn(typeTable()),
                         [](const testing::TestParamInfo<TypeRow>& info) {
                             return "type" + std::to_string(info.param.type);
                         });

TEST(AsioSamples, IntegerInputStandsForHalfAStepAboveItsValue) {
    const int16_t in16[] = {-32768, 32767, 0};
    std::vector<float> out(3);
    ASSERT_TRUE(asioToFloat(ASIOSTInt16LSB, const_cast<int16_t*>(in16), out.data(), 3));
    EXPECT_EQ(out[0], -kClamped);
    EXPECT_EQ(out[1], kClamped);
    EXPECT_EQ(out[2], std::bit_cast<float>(0x3780007Fu));
    const unsigned char in24[] = {0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF}; // 0 and -1
    ASSERT_TRUE(asioToFloat(ASIOSTInt24LSB, const_cast<unsigned char*>(in24), out.data(), 2));
    EXPECT_EQ(out[0], 1.0f / 16777216);
    EXPECT_EQ(out[1], -1.0f / 16777216);
}

TEST(AsioSamples, OutputClampsIntegersAndDoublesButNotSingles) {
    const float in[] = {2.0f, 1.5f};
    float single[2];
    double twice[2];
    int16_t narrow[2];
    ASSERT_TRUE(floatToAsio(ASIOSTFloat32LSB, in, single, 2));
    ASSERT_TRUE(floatToAsio(ASIOSTFloat64LSB, in, twice, 2));
    ASSERT_TRUE(floatToAsio(ASIOSTInt16LSB, in, narrow, 2));
    EXPECT_EQ(single[1], 1.5f);
    EXPECT_EQ(twice[0], static_cast<double>(std::bit_cast<float>(0x3F7FFFFFu))); // 0.99999994
    EXPECT_EQ(narrow[0], 32767);
}

TEST(AsioSamples, OtherTypesAreNeitherReadNorWritten) {
    for (int32_t type : {5, 6, 7, 12, 13, 14, 15, 21, 22, 23, 28, 64, -1}) {
        unsigned char buffer[16];
        std::memset(buffer, 0x5A, sizeof buffer);
        float floats[2] = {0.5f, 0.5f};
        EXPECT_EQ(asioSampleBytes(type), 0u);
        EXPECT_FALSE(floatToAsio(type, floats, buffer, 2));
        EXPECT_FALSE(asioToFloat(type, buffer, floats, 2));
        EXPECT_EQ(buffer[0], 0x5A);
        EXPECT_EQ(floats[0], 0.5f);
    }
}

} // namespace
