#include "AsioSamples.h"
#include "AsioInterface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
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

void PrintTo(const TypeRow& row, std::ostream* os) {
    *os << "type " << row.type;
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

// ---- the per-sample rule, written out plainly -----------------------------

// The little-endian layout a type's samples are read and written in, and
// its fixed shift: s >> 8 (-8), s << n (n), or none.
struct PlainRule {
    int32_t littleEndianType;
    int shift;
};

PlainRule plainRule(int32_t type) {
    const int32_t little = type < ASIOSTInt16LSB ? type + ASIOSTInt16LSB : type;
    switch (little) {
    case ASIOSTInt32LSB:
        return {little, -8};
    case ASIOSTInt32LSB16:
        return {little, 8};
    case ASIOSTInt32LSB18:
        return {little, 6};
    case ASIOSTInt32LSB20:
        return {little, 4};
    default:
        return {little, 0};
    }
}

// The sample's bytes in little-endian order.
std::vector<unsigned char> littleEndianBytes(const TypeRow& row, const unsigned char* p) {
    std::vector<unsigned char> bytes(p, p + row.width);
    if (row.bigEndian)
        std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

float ruleToFloat(const TypeRow& row, const unsigned char* stored) {
    const std::vector<unsigned char> b = littleEndianBytes(row, stored);
    const PlainRule rule = plainRule(row.type);
    const float scale24 = 1.0f / 8388608.0f, offset24 = 1.0f / 16777216.0f;
    switch (rule.littleEndianType) {
    case ASIOSTInt16LSB: {
        const int16_t s = static_cast<int16_t>(b[0] | b[1] << 8);
        return float(s) * std::bit_cast<float>(0x3800007Fu) + std::bit_cast<float>(0x3780007Fu);
    }
    case ASIOSTInt24LSB: {
        int32_t s = b[0] | b[1] << 8 | b[2] << 16;
        if (s & 0x800000)
            s -= 0x1000000;
        return float(s) * scale24 + offset24;
    }
    case ASIOSTFloat32LSB:
        return std::bit_cast<float>(uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
    case ASIOSTFloat64LSB: {
        uint64_t u = 0;
        for (int i = 7; i >= 0; --i)
            u = u << 8 | b[i];
        return static_cast<float>(std::bit_cast<double>(u));
    }
    default: {
        const auto u = uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
        const int32_t s = rule.shift < 0 ? int32_t(u) >> -rule.shift : int32_t(u << rule.shift);
        return float(s) * scale24 + offset24;
    }
    }
}

// trunc as the processor's truncating conversion gives it: NaN and values
// beyond 32 bits become INT32_MIN.
int32_t truncatedRule(float v) {
    if (!(v >= -2147483648.0f && v < 2147483648.0f))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void ruleToAsio(const TypeRow& row, float x, unsigned char* stored) {
    const float c = kClamped;
    const float y = std::fabs(x + c) - std::fabs(x - c);
    const PlainRule rule = plainRule(row.type);
    uint64_t value = 0;
    switch (rule.littleEndianType) {
    case ASIOSTInt16LSB:
        value = uint16_t(
            std::clamp(truncatedRule(y * std::bit_cast<float>(0x467FFF03u) - 0.5f), -32768, 32767));
        break;
    case ASIOSTFloat32LSB:
        value = std::bit_cast<uint32_t>(x);
        break;
    case ASIOSTFloat64LSB:
        value = std::bit_cast<uint64_t>(double(y * 0.5f));
        break;
    default: {
        const int32_t q = truncatedRule(y * 4194304.0f - 0.5f);
        value = uint32_t(rule.shift < 0 ? int32_t(uint32_t(q) << -rule.shift) : q >> rule.shift);
        break;
    }
    }
    for (size_t i = 0; i < row.width; ++i)
        stored[row.bigEndian ? row.width - 1 - i : i] =
            static_cast<unsigned char>(value >> (8 * i));
}

// Floats on and around every edge of the rules: full scale and the clamp,
// the points where a scaled value is an integer or half-way (where
// truncation and rounding decide), the extremes, zeros, subnormals, NaN.
std::vector<float> edgeFloats(const TypeRow& row) {
    std::vector<float> edges = {0.0f,
                                -0.0f,
                                kClamped,
                                -kClamped,
                                1.0f,
                                -1.0f,
                                2.0f,
                                -2.0f,
                                1e8f,
                                -1e8f,
                                std::numeric_limits<float>::max(),
                                std::numeric_limits<float>::lowest(),
                                std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::min(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN(),
                                std::bit_cast<float>(0xFFC12345u)};
    const float steps = row.width == 2 ? 32767.5f : 8388607.5f;
    for (float n : {0.5f, 1.0f, 1.5f, 2.0f, 100.5f, 101.0f, steps - 1.0f, steps - 0.5f, steps}) {
        for (float sign : {1.0f, -1.0f}) {
            float at = sign * n / steps;
            for (int k = 0; k < 3; ++k)
                at = std::nextafter(at, 0.0f);
            for (int k = 0; k < 7; ++k, at = std::nextafter(at, 10.0f * sign))
                edges.push_back(at);
        }
    }
    for (float at = kClamped; at < 1.0f; at = std::nextafter(at, 2.0f)) {
        edges.push_back(at);
        edges.push_back(-at);
    }
    return edges;
}

// Edge values first, then random ones, then random bit patterns.
std::vector<float> ruleTestFloats(const TypeRow& row, size_t n) {
    std::vector<float> values = edgeFloats(row);
    const std::vector<float> random = awkwardFloats(n, 99);
    values.insert(values.end(), random.begin(), random.end());
    std::mt19937 bits(7);
    for (size_t i = 0; i < n / 4; ++i)
        values.push_back(std::bit_cast<float>(uint32_t(bits())));
    return values;
}

// The conversions take their widest steps, then AVX2 only, then the
// baseline ones. A width the processor lacks is left out, and the test
// then shows as skipped rather than passing on another width's checks.
struct StepTier {
    const char* name;
    bool avx512;
    bool avx2;
    AsioSteps steps;
};
const StepTier kTiers[] = {{"AVX-512", true, true, AsioSteps::avx512},
                           {"AVX2", false, true, AsioSteps::avx2},
                           {"baseline", false, false, AsioSteps::baseline}};

// Asked here apart from the conversions' own check, so a fault in that
// check cannot quietly leave a width unused.
bool processorRuns(const StepTier& tier) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (tier.steps == AsioSteps::avx512)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi");
    if (tier.steps == AsioSteps::avx2)
        return __builtin_cpu_supports("avx2");
#endif
    return tier.steps == AsioSteps::baseline;
}

class TierScope {
public:
    explicit TierScope(const StepTier& tier)
        : runs_(processorRuns(tier)), chosen_(chooseAsioSteps(tier.avx512, tier.avx2)) {
        if (runs_) {
            EXPECT_EQ(chosen_, tier.steps) << tier.name << " steps not chosen";
        }
    }
    ~TierScope() { chooseAsioSteps(true, true); }
    bool runs() const { return runs_; }

private:
    bool runs_;
    AsioSteps chosen_;
};

// Called at the end of a test that went through kTiers.
void skipWidthsNotRun() {
    std::string missing;
    for (const StepTier& tier : kTiers)
        if (!processorRuns(tier))
            missing += std::string(" ") + tier.name;
    if (!missing.empty())
        GTEST_SKIP() << "this processor cannot run the steps:" << missing;
}

// Blocks of many lengths (leaving every tail of every step width), with
// the driver's buffer at odd addresses too and the float side at odd
// offsets into its values.
const uint32_t kRuleLengths[] = {1,  7,   15,  16,  17,  31,  32,  33,  63,  64,
                                 65, 100, 127, 128, 129, 200, 255, 256, 257, 1024};
const size_t kBufferOffsets[] = {0, 1, 3};

TEST_P(AsioSampleTypes, EveryStepWidthWritesWhatThePerSampleRuleGives) {
    const TypeRow& row = GetParam();
    const std::vector<float> values = ruleTestFloats(row, 3000);
    for (const StepTier& tier : kTiers) {
        TierScope scope(tier);
        if (!scope.runs())
            continue;
        for (uint32_t frames : kRuleLengths) {
            std::vector<unsigned char> want(frames * row.width);
            std::vector<unsigned char> buffer(frames * row.width + 64);
            for (size_t start = 0; start + frames <= values.size(); start += 997) {
                const float* in = values.data() + start;
                for (uint32_t i = 0; i < frames; ++i)
                    ruleToAsio(row, in[i], want.data() + i * row.width);
                for (size_t offset : kBufferOffsets) {
                    std::fill(buffer.begin(), buffer.end(), 0x5A);
                    unsigned char* got = buffer.data() + offset;
                    ASSERT_TRUE(floatToAsio(row.type, in, got, frames));
                    for (uint32_t i = 0; i < frames; ++i)
                        ASSERT_EQ(0, std::memcmp(got + i * row.width, want.data() + i * row.width,
                                                 row.width))
                            << tier.name << ", " << frames << " frames at +" << offset
                            << ", sample " << i << " of " << in[i] << " (bits " << std::hex
                            << std::bit_cast<uint32_t>(in[i]) << ")";
                    ASSERT_EQ(got[frames * row.width], 0x5A)
                        << tier.name << ": wrote past " << frames << " frames at +" << offset;
                }
            }
        }
    }
    skipWidthsNotRun();
}

// Stored bytes: the edges of the integer range and random bytes (which for
// the float types hold NaNs, infinities and subnormals).
std::vector<unsigned char> ruleTestBytes(const TypeRow& row, size_t n) {
    std::vector<unsigned char> bytes;
    const unsigned char edges[][8] = {{0, 0, 0, 0, 0, 0, 0, 0},
                                      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
                                      {0, 0, 0, 0, 0, 0, 0, 0x80},
                                      {1, 0, 0, 0, 0, 0, 0, 0x80},
                                      {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
                                      {1, 0, 0, 0, 0, 0, 0, 0}};
    for (const auto& edge : edges) {
        // Its most significant byte last, in the type's own byte order.
        std::vector<unsigned char> sample(edge + 8 - row.width, edge + 8);
        if (row.bigEndian)
            std::reverse(sample.begin(), sample.end());
        bytes.insert(bytes.end(), sample.begin(), sample.end());
    }
    std::mt19937 random(unsigned(row.type) + 1);
    while (bytes.size() < n * row.width)
        bytes.push_back(static_cast<unsigned char>(random()));
    return bytes;
}

TEST_P(AsioSampleTypes, EveryStepWidthReadsWhatThePerSampleRuleGives) {
    const TypeRow& row = GetParam();
    const std::vector<unsigned char> stored = ruleTestBytes(row, 2000);
    const size_t samples = stored.size() / row.width;
    for (const StepTier& tier : kTiers) {
        TierScope scope(tier);
        if (!scope.runs())
            continue;
        for (uint32_t frames : kRuleLengths) {
            std::vector<unsigned char> buffer(frames * row.width + 64);
            for (size_t start = 0; start + frames <= samples; start += 613) {
                for (size_t offset : kBufferOffsets) {
                    std::fill(buffer.begin(), buffer.end(), 0x5A);
                    unsigned char* p = buffer.data() + offset;
                    std::copy_n(stored.begin() + start * row.width, frames * row.width, p);
                    std::vector<float> got(frames + 1, 7.0f);
                    ASSERT_TRUE(asioToFloat(row.type, p, got.data(), frames));
                    for (uint32_t i = 0; i < frames; ++i) {
                        const unsigned char* was = stored.data() + (start + i) * row.width;
                        const float want = ruleToFloat(row, was);
                        ASSERT_EQ(std::bit_cast<uint32_t>(got[i]), std::bit_cast<uint32_t>(want))
                            << tier.name << ", " << frames << " frames at +" << offset
                            << ", sample " << i;
                        ASSERT_EQ(
                            littleEndianBytes(row, was),
                            std::vector<unsigned char>(p + i * row.width, p + (i + 1) * row.width))
                            << tier.name << ": sample " << i << " not left in little-endian order";
                    }
                    ASSERT_EQ(got[frames], 7.0f)
                        << tier.name << ": wrote past " << frames << " frames";
                    ASSERT_EQ(p[frames * row.width], 0x5A)
                        << tier.name << ": buffer changed past " << frames << " frames";
                }
            }
        }
    }
    skipWidthsNotRun();
}

// ---- exact bits, every type -------------------------------------------------
// Rows name the little-endian type; each is checked in that type and, bytes
// reversed, in its big-endian twin. Every sample of a 67-frame block holds
// the row's value, so every step width and tail meets it.

struct StoredRow {
    int32_t type;
    uint64_t stored; // the sample as a little-endian integer of its width
    uint32_t floatBits;
};

const StoredRow kStoredRows[] = {
    {ASIOSTInt16LSB, 0x8000, 0xBF7FFFFE},
    {ASIOSTInt16LSB, 0x8001, 0xBF7FFDFE},
    {ASIOSTInt16LSB, 0x0, 0x3780007F},
    {ASIOSTInt16LSB, 0x1, 0x384000BE},
    {ASIOSTInt16LSB, 0x3039, 0x3EC0E6BF},
    {ASIOSTInt16LSB, 0x7FFE, 0x3F7FFDFE},
    {ASIOSTInt16LSB, 0x7FFF, 0x3F7FFFFE},
    {ASIOSTInt24LSB, 0x800000, 0xBF7FFFFF},
    {ASIOSTInt24LSB, 0x800001, 0xBF7FFFFD},
    {ASIOSTInt24LSB, 0xFFFFFF, 0xB3800000},
    {ASIOSTInt24LSB, 0x0, 0x33800000},
    {ASIOSTInt24LSB, 0x123457, 0x3E11A2BC},
    {ASIOSTInt24LSB, 0x7FFFFE, 0x3F7FFFFD},
    {ASIOSTInt24LSB, 0x7FFFFF, 0x3F7FFFFF},
    {ASIOSTInt32LSB, 0x80000000, 0xBF7FFFFF},
    {ASIOSTInt32LSB, 0x800001FF, 0xBF7FFFFD},
    {ASIOSTInt32LSB, 0xFFFFFF00, 0xB3800000},
    {ASIOSTInt32LSB, 0xFF, 0x33800000},
    {ASIOSTInt32LSB, 0x12345678, 0x3E11A2B4},
    {ASIOSTInt32LSB, 0x7FFFFEFF, 0x3F7FFFFD},
    {ASIOSTInt32LSB, 0x7FFFFFFF, 0x3F7FFFFF},
    {ASIOSTInt32LSB16, 0xFFFF8000, 0xBF7FFFFF},
    {ASIOSTInt32LSB16, 0xFFFF8001, 0xBF7FFDFF},
    {ASIOSTInt32LSB16, 0x0, 0x33800000},
    {ASIOSTInt32LSB16, 0x1234, 0x3E11A004},
    {ASIOSTInt32LSB16, 0x7FFF, 0x3F7FFE01},
    {ASIOSTInt32LSB16, 0x10000, 0x40000000},
    {ASIOSTInt32LSB16, 0x7FFFFFFF, 0xB7FF8000},
    {ASIOSTInt32LSB18, 0xFFFE0000, 0xBF7FFFFF},
    {ASIOSTInt32LSB18, 0xFFFE0001, 0xBF7FFF7F},
    {ASIOSTInt32LSB18, 0x0, 0x33800000},
    {ASIOSTInt32LSB18, 0x12345, 0x3F11A281},
    {ASIOSTInt32LSB18, 0x1FFFF, 0x3F7FFF81},
    {ASIOSTInt32LSB18, 0x20000, 0x3F800000},
    {ASIOSTInt32LSB18, 0x80000000, 0x33800000},
    {ASIOSTInt32LSB20, 0xFFF80000, 0xBF7FFFFF},
    {ASIOSTInt32LSB20, 0xFFF80001, 0xBF7FFFDF},
    {ASIOSTInt32LSB20, 0x0, 0x33800000},
    {ASIOSTInt32LSB20, 0x54321, 0x3F286421},
    {ASIOSTInt32LSB20, 0x7FFFF, 0x3F7FFFE1},
    {ASIOSTInt32LSB20, 0x80000, 0x3F800000},
    {ASIOSTInt32LSB20, 0xFFFFFFFF, 0xB5F80000},
    {ASIOSTInt32LSB24, 0xFF800000, 0xBF7FFFFF},
    {ASIOSTInt32LSB24, 0xFF800001, 0xBF7FFFFD},
    {ASIOSTInt32LSB24, 0x0, 0x33800000},
    {ASIOSTInt32LSB24, 0x123457, 0x3E11A2BC},
    {ASIOSTInt32LSB24, 0x7FFFFF, 0x3F7FFFFF},
    {ASIOSTInt32LSB24, 0x800000, 0x3F800000},
    {ASIOSTInt32LSB24, 0x7FFFFFFF, 0x43800000},
    {ASIOSTFloat32LSB, 0x3F800000, 0x3F800000},
    {ASIOSTFloat32LSB, 0xBF800000, 0xBF800000},
    {ASIOSTFloat32LSB, 0x7F7FFFFF, 0x7F7FFFFF},
    {ASIOSTFloat32LSB, 0xFF800000, 0xFF800000},
    {ASIOSTFloat32LSB, 0x7FC00001, 0x7FC00001},
    {ASIOSTFloat32LSB, 0x1, 0x00000001},
    {ASIOSTFloat32LSB, 0x80000000, 0x80000000},
    {ASIOSTFloat64LSB, 0x3FF0000000000000, 0x3F800000},
    {ASIOSTFloat64LSB, 0xBFF0000000000000, 0xBF800000},
    {ASIOSTFloat64LSB, 0x3FB999999999999A, 0x3DCCCCCD},
    {ASIOSTFloat64LSB, 0xBFEFFFFFBF935359, 0xBF7FFFFE},
    {ASIOSTFloat64LSB, 0x7E37E43C8800759C, 0x7F800000},
    {ASIOSTFloat64LSB, 0x1A56E1FC2F8F359, 0x00000000},
    {ASIOSTFloat64LSB, 0x36A8000000000000, 0x00000002},
    {ASIOSTFloat64LSB, 0xFFF8000000000001, 0xFFC00000},
};

struct OutputRow {
    int32_t type;
    float value;
    uint64_t stored;
};

const OutputRow kOutputRows[] = {
    {ASIOSTInt16LSB, 2.0f, 0x7FFF},
    {ASIOSTInt16LSB, -2.0f, 0x8000},
    {ASIOSTInt16LSB, 0.5f, 0x3FFF},
    {ASIOSTInt16LSB, -0.25f, 0xE000},
    {ASIOSTInt16LSB, 1e-3f, 0x20},
    {ASIOSTInt16LSB, -1e-3f, 0xFFDF},
    {ASIOSTInt16LSB, kClamped, 0x7FFF},
    {ASIOSTInt16LSB, 1e-30f, 0x0},
    {ASIOSTInt24LSB, 2.0f, 0x7FFFFF},
    {ASIOSTInt24LSB, -2.0f, 0x800000},
    {ASIOSTInt24LSB, 0.5f, 0x3FFFFF},
    {ASIOSTInt24LSB, -0.25f, 0xE00000},
    {ASIOSTInt24LSB, 1e-3f, 0x20C4},
    {ASIOSTInt24LSB, -1e-3f, 0xFFDF3B},
    {ASIOSTInt24LSB, kClamped, 0x7FFFFE},
    {ASIOSTInt24LSB, 1e-30f, 0x0},
    {ASIOSTInt32LSB, 2.0f, 0x7FFFFF00},
    {ASIOSTInt32LSB, -2.0f, 0x80000000},
    {ASIOSTInt32LSB, 0.5f, 0x3FFFFF00},
    {ASIOSTInt32LSB, -0.25f, 0xE0000000},
    {ASIOSTInt32LSB, 1e-3f, 0x20C400},
    {ASIOSTInt32LSB, -1e-3f, 0xFFDF3B00},
    {ASIOSTInt32LSB, kClamped, 0x7FFFFE00},
    {ASIOSTInt32LSB, 1e-30f, 0x0},
    {ASIOSTInt32LSB16, 2.0f, 0x7FFF},
    {ASIOSTInt32LSB16, -2.0f, 0xFFFF8000},
    {ASIOSTInt32LSB16, 0.5f, 0x3FFF},
    {ASIOSTInt32LSB16, -0.25f, 0xFFFFE000},
    {ASIOSTInt32LSB16, 1e-3f, 0x20},
    {ASIOSTInt32LSB16, -1e-3f, 0xFFFFFFDF},
    {ASIOSTInt32LSB16, kClamped, 0x7FFF},
    {ASIOSTInt32LSB16, 1e-30f, 0x0},
    {ASIOSTInt32LSB18, 2.0f, 0x1FFFF},
    {ASIOSTInt32LSB18, -2.0f, 0xFFFE0000},
    {ASIOSTInt32LSB18, 0.5f, 0xFFFF},
    {ASIOSTInt32LSB18, -0.25f, 0xFFFF8000},
    {ASIOSTInt32LSB18, 1e-3f, 0x83},
    {ASIOSTInt32LSB18, -1e-3f, 0xFFFFFF7C},
    {ASIOSTInt32LSB18, kClamped, 0x1FFFF},
    {ASIOSTInt32LSB18, 1e-30f, 0x0},
    {ASIOSTInt32LSB20, 2.0f, 0x7FFFF},
    {ASIOSTInt32LSB20, -2.0f, 0xFFF80000},
    {ASIOSTInt32LSB20, 0.5f, 0x3FFFF},
    {ASIOSTInt32LSB20, -0.25f, 0xFFFE0000},
    {ASIOSTInt32LSB20, 1e-3f, 0x20C},
    {ASIOSTInt32LSB20, -1e-3f, 0xFFFFFDF3},
    {ASIOSTInt32LSB20, kClamped, 0x7FFFF},
    {ASIOSTInt32LSB20, 1e-30f, 0x0},
    {ASIOSTInt32LSB24, 2.0f, 0x7FFFFF},
    {ASIOSTInt32LSB24, -2.0f, 0xFF800000},
    {ASIOSTInt32LSB24, 0.5f, 0x3FFFFF},
    {ASIOSTInt32LSB24, -0.25f, 0xFFE00000},
    {ASIOSTInt32LSB24, 1e-3f, 0x20C4},
    {ASIOSTInt32LSB24, -1e-3f, 0xFFFFDF3B},
    {ASIOSTInt32LSB24, kClamped, 0x7FFFFE},
    {ASIOSTInt32LSB24, 1e-30f, 0x0},
    {ASIOSTFloat32LSB, 2.0f, 0x40000000},
    {ASIOSTFloat32LSB, -2.0f, 0xC0000000},
    {ASIOSTFloat32LSB, 0.5f, 0x3F000000},
    {ASIOSTFloat32LSB, -0.25f, 0xBE800000},
    {ASIOSTFloat32LSB, 1e-3f, 0x3A83126F},
    {ASIOSTFloat32LSB, -1e-3f, 0xBA83126F},
    {ASIOSTFloat32LSB, kClamped, 0x3F7FFFFE},
    {ASIOSTFloat32LSB, 1e-30f, 0xDA24260},
    {ASIOSTFloat64LSB, 2.0f, 0x3FEFFFFFE0000000},
    {ASIOSTFloat64LSB, -2.0f, 0xBFEFFFFFE0000000},
    {ASIOSTFloat64LSB, 0.5f, 0x3FE0000000000000},
    {ASIOSTFloat64LSB, -0.25f, 0xBFD0000000000000},
    {ASIOSTFloat64LSB, 1e-3f, 0x3F50626000000000},
    {ASIOSTFloat64LSB, -1e-3f, 0xBF50626000000000},
    {ASIOSTFloat64LSB, kClamped, 0x3FEFFFFFC0000000},
    {ASIOSTFloat64LSB, 1e-30f, 0x0},
};

constexpr uint32_t kExactBlock = 67;

const TypeRow& rowOfType(int32_t type) {
    for (const TypeRow& row : typeTable())
        if (row.type == type)
            return row;
    return typeTable().front();
}

void putSample(const TypeRow& row, uint64_t value, unsigned char* p) {
    for (size_t i = 0; i < row.width; ++i)
        p[row.bigEndian ? row.width - 1 - i : i] = static_cast<unsigned char>(value >> (8 * i));
}

TEST(AsioSamples, StoredExtremesReadAsTheExactFloatInEveryType) {
    for (const StoredRow& stored : kStoredRows) {
        for (int32_t type : {stored.type, stored.type - ASIOSTInt16LSB}) {
            const TypeRow& row = rowOfType(type);
            for (const StepTier& tier : kTiers) {
                TierScope scope(tier);
                if (!scope.runs())
                    continue;
                std::vector<unsigned char> block(kExactBlock * row.width);
                for (uint32_t i = 0; i < kExactBlock; ++i)
                    putSample(row, stored.stored, block.data() + i * row.width);
                std::vector<float> out(kExactBlock);
                ASSERT_TRUE(asioToFloat(type, block.data(), out.data(), kExactBlock));
                for (uint32_t i = 0; i < kExactBlock; ++i)
                    ASSERT_EQ(std::bit_cast<uint32_t>(out[i]), stored.floatBits)
                        << std::hex << "type " << std::dec << type << ", stored 0x" << std::hex
                        << stored.stored << ", " << tier.name << ", sample " << std::dec << i;
            }
        }
    }
    skipWidthsNotRun();
}

TEST(AsioSamples, EdgeValuesWriteTheExactSampleInEveryType) {
    for (const OutputRow& output : kOutputRows) {
        for (int32_t type : {output.type, output.type - ASIOSTInt16LSB}) {
            const TypeRow& row = rowOfType(type);
            std::vector<unsigned char> want(kExactBlock * row.width);
            for (uint32_t i = 0; i < kExactBlock; ++i)
                putSample(row, output.stored, want.data() + i * row.width);
            for (const StepTier& tier : kTiers) {
                TierScope scope(tier);
                if (!scope.runs())
                    continue;
                const std::vector<float> in(kExactBlock, output.value);
                std::vector<unsigned char> got(kExactBlock * row.width, 0x5A);
                ASSERT_TRUE(floatToAsio(type, in.data(), got.data(), kExactBlock));
                ASSERT_EQ(got, want)
                    << "type " << type << ", " << output.value << ", " << tier.name;
            }
        }
    }
    skipWidthsNotRun();
}

INSTANTIATE_TEST_SUITE_P(AllHandled, AsioSampleTypes, testing::ValuesIn(typeTable()),
                         [](const testing::TestParamInfo<TypeRow>& info) {
                             return "type" + std::to_string(info.param.type);
                         });

// Floats in order of value, as consecutive integers (so +0 and -0 are one).
int64_t floatOrder(float x) {
    const auto u = std::bit_cast<uint32_t>(x);
    return u >> 31 ? -int64_t(u & 0x7FFFFFFF) : int64_t(u);
}
float floatAt(int64_t order) {
    return order < 0 ? -std::bit_cast<float>(uint32_t(-order))
                     : std::bit_cast<float>(uint32_t(order));
}

int32_t rule16(float x) {
    unsigned char stored[2];
    ruleToAsio(rowOfType(ASIOSTInt16LSB), x, stored);
    return int16_t(stored[0] | stored[1] << 8);
}

// The first float of [-c, c] at which the per-sample rule reaches `step`.
int64_t firstReaching(int32_t step) {
    int64_t low = floatOrder(-kClamped), high = floatOrder(kClamped);
    while (low < high) {
        const int64_t mid = low + (high - low) / 2;
        if (rule16(floatAt(mid)) >= step)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

// The 16-bit writers may round differently from the rule's two steps as
// long as no sample changes. Between -c and c both are monotonic, so they
// agree everywhere there when they agree on both sides of every step the
// rule takes; beyond it (up to twice full scale) every float is tried.
TEST(AsioSamples, SixteenBitOutputTakesEveryStepWhereTheRuleDoes) {
    std::vector<float> values;
    for (int32_t step = -32767; step <= 32767; ++step) {
        const int64_t first = firstReaching(step);
        values.push_back(floatAt(first));
        values.push_back(floatAt(first - 1));
    }
    for (int64_t at = floatOrder(kClamped) + 1; at <= floatOrder(2.0f); ++at) {
        values.push_back(floatAt(at));
        values.push_back(-floatAt(at));
    }
    std::vector<int16_t> want(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        want[i] = int16_t(rule16(values[i]));
    for (const int32_t type : {ASIOSTInt16LSB, ASIOSTInt16MSB}) {
        for (const StepTier& tier : kTiers) {
            TierScope scope(tier);
            if (!scope.runs())
                continue;
            std::vector<unsigned char> got(values.size() * 2);
            ASSERT_TRUE(floatToAsio(type, values.data(), got.data(), uint32_t(values.size())));
            for (size_t i = 0; i < values.size(); ++i) {
                const int16_t sample = type == ASIOSTInt16LSB
                                           ? int16_t(got[2 * i] | got[2 * i + 1] << 8)
                                           : int16_t(got[2 * i] << 8 | got[2 * i + 1]);
                ASSERT_EQ(sample, want[i])
                    << tier.name << ", type " << type << ", " << values[i] << " (bits " << std::hex
                    << std::bit_cast<uint32_t>(values[i]) << ")";
            }
        }
    }
    skipWidthsNotRun();
}

// The wide steps reach the rule's products by other routes (16-bit: s x 2^16
// times a x 2^-16; 24-bit: s x 2^8 times 2^-31); every value a 16 or 24-bit
// sample can hold is read as the rule reads it, in long blocks and in blocks
// of 32 and 16 frames, which the widest steps take in their shorter loops.
struct IntegerType {
    int32_t type;
    int bytes;
    bool bigEndian;
};

float ruleOfInteger(const IntegerType& t, int32_t s) {
    if (t.bytes == 2) {
        volatile float product = float(s) * std::bit_cast<float>(0x3800007Fu); // rounded alone
        return product + std::bit_cast<float>(0x3780007Fu);
    }
    return float(s) * (1.0f / 8388608) + 1.0f / 16777216;
}

TEST(AsioSamples, EverySixteenAndTwentyFourBitSampleReadsAsTheRuleReadsIt) {
    const IntegerType types[] = {{ASIOSTInt16LSB, 2, false},
                                 {ASIOSTInt16MSB, 2, true},
                                 {ASIOSTInt24LSB, 3, false},
                                 {ASIOSTInt24MSB, 3, true}};
    constexpr uint32_t kChunk = 65536;
    for (const IntegerType& t : types) {
        for (const StepTier& tier : kTiers) {
            TierScope scope(tier);
            if (!scope.runs())
                continue;
            std::vector<unsigned char> stored(t.bytes * kChunk);
            std::vector<float> got(kChunk);
            for (uint32_t first = 0; first < (1u << (8 * t.bytes)); first += kChunk) {
                for (uint32_t block : {kChunk, 32u, 16u}) {
                    // Big-endian samples are reversed in place: stored anew each time.
                    for (uint32_t i = 0; i < kChunk; ++i)
                        for (int b = 0; b < t.bytes; ++b)
                            stored[t.bytes * i + (t.bigEndian ? t.bytes - 1 - b : b)] =
                                static_cast<unsigned char>((first + i) >> (8 * b));
                    for (uint32_t at = 0; at < kChunk; at += block)
                        ASSERT_TRUE(asioToFloat(t.type, stored.data() + t.bytes * at,
                                                got.data() + at, block));
                    for (uint32_t i = 0; i < kChunk; ++i) {
                        const int shift = 32 - 8 * t.bytes;
                        const int32_t s = int32_t((first + i) << shift) >> shift;
                        ASSERT_EQ(std::bit_cast<uint32_t>(got[i]),
                                  std::bit_cast<uint32_t>(ruleOfInteger(t, s)))
                            << tier.name << ", type " << t.type << ", sample " << s
                            << ", blocks of " << block;
                    }
                }
            }
        }
    }
    skipWidthsNotRun();
}

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
