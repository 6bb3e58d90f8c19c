#include "DeviceSamples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes plainFormat(uint16_t tag, uint16_t channels, uint16_t bits) {
    Bytes b(18, 0);
    b[0] = static_cast<unsigned char>(tag);
    b[1] = static_cast<unsigned char>(tag >> 8);
    b[2] = static_cast<unsigned char>(channels);
    b[4] = 0x80; // 48000
    b[5] = 0xBB;
    b[14] = static_cast<unsigned char>(bits);
    return b;
}

Bytes extensibleFormat(uint16_t subTag, uint16_t channels, uint16_t bits) {
    Bytes b = plainFormat(0xFFFE, channels, bits);
    b.resize(40, 0);
    b[16] = 22;
    b[24] = static_cast<unsigned char>(subTag);
    // The rest of KSDATAFORMAT_SUBTYPE_*: 00000000-0010-0080-00aa00389b71.
    const unsigned char guidTail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::memcpy(b.data() + 26, guidTail, sizeof(guidTail));
    return b;
}

Bytes truncated(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(DeviceFormat, TypeComesFromTagSubFormatAndBits) {
    const struct {
        Bytes bytes;
        DeviceSampleType type;
    } cases[] = {
        {extensibleFormat(3, 2, 32), DeviceSampleType::float32}, // what Wine's endpoints report
        {extensibleFormat(1, 2, 32), DeviceSampleType::int32},
        {extensibleFormat(1, 2, 24), DeviceSampleType::int24},
        {extensibleFormat(1, 6, 16), DeviceSampleType::int16},
        {plainFormat(3, 2, 32), DeviceSampleType::float32},
        {plainFormat(1, 2, 16), DeviceSampleType::int16},
        {plainFormat(1, 1, 8), DeviceSampleType::uint8},
        {plainFormat(3, 2, 64), DeviceSampleType::unsupported},
        {plainFormat(1, 2, 12), DeviceSampleType::unsupported},
        {plainFormat(2, 2, 16), DeviceSampleType::unsupported}, // ADPCM
        {truncated(extensibleFormat(3, 2, 32), 18),
         DeviceSampleType::unsupported}, // extensible tag without its sub-format
    };
    for (const auto& c : cases) {
        DeviceFormat format;
        ASSERT_TRUE(readDeviceFormat(c.bytes.data(), c.bytes.size(), format));
        EXPECT_EQ(format.sampleRate, 48000u);
        EXPECT_EQ(deviceSampleType(format), c.type)
            << "tag " << format.formatTag << " sub " << format.subFormatTag << " bits "
            << format.bitsPerSample;
    }
    DeviceFormat format;
    EXPECT_FALSE(readDeviceFormat(Bytes(15, 0).data(), 15, format));
}

template <typename T> Bytes bytesOf(std::initializer_list<T> values) {
    Bytes out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

TEST(DeviceSamples, CaptureScalesEachTypeAtItsLimits) {
    Bytes int24;
    for (int32_t v : {-8388608, -8388607, 0, 8388606, 8388607}) {
        int24.push_back(static_cast<unsigned char>(v));
        int24.push_back(static_cast<unsigned char>(v >> 8));
        int24.push_back(static_cast<unsigned char>(v >> 16));
    }
    const struct {
        DeviceSampleType type;
        Bytes packet; // mono: five samples
        std::vector<float> expected;
    } cases[] = {
        {DeviceSampleType::int16,
         bytesOf<int16_t>({-32768, -32767, 0, 32766, 32767}),
         {-1.0f, -32767 / 32768.0f, 0.0f, 32766 / 32768.0f, 32767 / 32768.0f}},
        {DeviceSampleType::int24,
         int24,
         {-1.0f, float(-8388607 / 8388608.0), 0.0f, float(8388606 / 8388608.0),
          float(8388607 / 8388608.0)}},
        {DeviceSampleType::int32,
         bytesOf<int32_t>(
             {std::numeric_limits<int32_t>::min(), -2147483647, 0, 2147483646, 2147483647}),
         {-1.0f, -1.0f, 0.0f, 1.0f, 1.0f}},
        {DeviceSampleType::uint8,
         Bytes{0, 1, 128, 254, 255},
         {-1.0f, -127 / 128.0f, 0.0f, 126 / 128.0f, 127 / 128.0f}},
        {DeviceSampleType::float32,
         bytesOf<float>({-1.0f, -0.5f, 0.0f, 0.25f, 1.5f}),
         {-1.0f, -0.5f, 0.0f, 0.25f, 1.5f}},
    };
    for (const auto& c : cases) {
        std::vector<float> left(5), right(5);
        EXPECT_EQ(
            convertCapture(c.type, c.packet.data(), 5, {1, 0, 1}, left.data(), right.data(), 5),
            5u);
        EXPECT_EQ(left, c.expected) << int(c.type);
        EXPECT_EQ(right, c.expected) << "mono gives both from channel 0";
    }
}

TEST(DeviceSamples, CaptureTakesTheChosenChannelsAndStaysInTheArrays) {
    // Four channels, frames of {10, 20, 30, 40} + frame * 100.
    std::vector<int16_t> samples;
    for (int frame = 0; frame < 8; ++frame) {
        for (int c = 1; c <= 4; ++c)
            samples.push_back(static_cast<int16_t>(c * 10 + frame * 100));
    }
    Bytes packet(samples.size() * 2);
    std::memcpy(packet.data(), samples.data(), packet.size());
    std::vector<float> left(8, -9.0f), right(8, -9.0f);
    EXPECT_EQ(convertCapture(DeviceSampleType::int16, packet.data(), 8, {4, 3, 1}, left.data(),
                             right.data(), 5),
              5u)
        << "never more frames than the arrays hold";
    EXPECT_EQ(left[2] * 32768.0f, 240.0f);
    EXPECT_EQ(right[2] * 32768.0f, 220.0f);
    EXPECT_EQ(left[5], -9.0f);
    convertCapture(DeviceSampleType::int16, packet.data(), 8, {4, 7, 0}, left.data(), right.data(),
                   8);
    EXPECT_EQ(left[0], 0.0f) << "a channel the device lacks is silence";
    EXPECT_EQ(right[0] * 32768.0f, 10.0f);
}

TEST(DeviceSamples, RenderClampsTruncatesAndMapsChannels) {
    const std::vector<float> left = {1.0f, 1.5f, -1.5f, 0.5f, std::nanf(""), -0.99999f};
    const std::vector<float> right(6, 0.25f);
    Bytes out(6 * 3 * 2);
    ASSERT_TRUE(convertRender(DeviceSampleType::int16, left.data(), right.data(), 6, {3, 2, 0},
                              out.data()));
    std::vector<int16_t> values(18);
    std::memcpy(values.data(), out.data(), out.size());
    const int16_t expectedLeft[] = {32767, 32767, -32767, 16383, 32767, -32766};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(values[size_t(3 * i + 2)], expectedLeft[i]) << "frame " << i;
        EXPECT_EQ(values[size_t(3 * i)], 8191) << "right on channel 0";
        EXPECT_EQ(values[size_t(3 * i + 1)], 0) << "silence on the unused channel";
    }
}

TEST(DeviceSamples, RenderLimitsOfEachType) {
    const std::vector<float> in = {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f};
    Bytes out(5 * 2 * 4);
    ASSERT_TRUE(
        convertRender(DeviceSampleType::int32, in.data(), in.data(), 5, {2, 0, 1}, out.data()));
    std::vector<int32_t> int32(10);
    std::memcpy(int32.data(), out.data(), 40);
    EXPECT_EQ(int32,
              (std::vector<int32_t>{std::numeric_limits<int32_t>::min(),
                                    std::numeric_limits<int32_t>::min(), -1073741824, -1073741824,
                                    0, 0, 1073741824, 1073741824, 2147483647, 2147483647}));
    ASSERT_TRUE(
        convertRender(DeviceSampleType::float32, in.data(), in.data(), 5, {2, 0, 1}, out.data()));
    std::vector<float> floats(10);
    std::memcpy(floats.data(), out.data(), 40);
    EXPECT_EQ(floats[8], 1.0f);
    EXPECT_EQ(floats[3], -0.5f);
    ASSERT_TRUE(
        convertRender(DeviceSampleType::int24, in.data(), in.data(), 5, {1, 0, 1}, out.data()));
    EXPECT_EQ((Bytes{out[0], out[1], out[2], out[12], out[13], out[14]}),
              (Bytes{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}));
    ASSERT_TRUE(
        convertRender(DeviceSampleType::uint8, in.data(), in.data(), 5, {1, 0, 1}, out.data()));
    EXPECT_EQ((Bytes{out[0], out[2], out[4]}), (Bytes{1, 128, 255}));
    EXPECT_FALSE(convertRender(DeviceSampleType::unsupported, in.data(), in.data(), 5, {2, 0, 1},
                               out.data()));
}

} // namespace

namespace {

// The sample rules, one value at a time, as the vector paths must follow them.
float clampRule(float x) {
    return std::isnan(x) ? 1.0f : std::min(1.0f, std::max(-1.0f, x));
}
int64_t renderRule(DeviceSampleType type, float x) {
    switch (type) {
    case DeviceSampleType::int16:
        return static_cast<int16_t>(clampRule(x) * 32767.0f);
    case DeviceSampleType::int32: {
        const float scaled = clampRule(x) * 2147483648.0f;
        return scaled >= 2147483648.0f ? 2147483647 : static_cast<int32_t>(scaled);
    }
    default: {
        int32_t bits;
        const float v = clampRule(x);
        std::memcpy(&bits, &v, 4);
        return bits;
    }
    }
}

std::vector<float> awkwardValues(size_t count) {
    const float specials[] = {0.0f,
                              -0.0f,
                              1.0f,
                              -1.0f,
                              0.99999994f,
                              -0.99999994f,
                              1.0000001f,
                              -1.0000001f,
                              2.5f,
                              -7.0f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              1e-40f,
                              0.5f,
                              -0.25f};
    std::vector<float> values(count);
    uint32_t seed = 12345;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        values[i] = (seed >> 28) < 4 ? specials[(seed >> 8) % std::size(specials)]
                                     : static_cast<float>(int32_t(seed)) / 2147483648.0f;
    }
    return values;
}

} // namespace

// Block lengths that leave tails for every step width (8, 4 and single
// frames), with the AVX2 steps (where the processor has them) and without.
TEST(DeviceSamples, StereoPathsFollowTheSampleRulesForAnyLength) {
    for (bool avx2 : {true, false}) {
        enableAvx2Steps(avx2);
        SCOPED_TRACE(avx2StepsEnabled() ? "AVX2 steps" : "baseline steps");
        for (auto type :
             {DeviceSampleType::int16, DeviceSampleType::int32, DeviceSampleType::float32}) {
            const size_t bytes = bytesPerDeviceSample(type);
            for (uint32_t frames : {1u, 3u, 4u, 7u, 8u, 13u, 15u, 16u, 31u, 257u, 1023u}) {
                SCOPED_TRACE(testing::Message()
                             << "type " << int(type) << ", " << frames << " frames");
                const std::vector<float> left = awkwardValues(frames);
                std::vector<float> right = awkwardValues(frames + 5);
                right.erase(right.begin(), right.begin() + 5);
                Bytes device(frames * 2 * bytes + 16, 0xEE);
                ASSERT_TRUE(convertRender(type, left.data(), right.data(), frames, {2, 0, 1},
                                          device.data()));
                for (uint32_t i = 0; i < frames; ++i) {
                    for (int c = 0; c < 2; ++c) {
                        int64_t written = 0;
                        if (bytes == 2) {
                            int16_t v;
                            std::memcpy(&v, device.data() + (2 * i + c) * 2, 2);
                            written = v;
                        } else {
                            int32_t v;
                            std::memcpy(&v, device.data() + (2 * i + c) * 4, 4);
                            written = v;
                        }
                        ASSERT_EQ(written, renderRule(type, (c == 0 ? left : right)[i]))
                            << "frame " << i << " channel " << c;
                    }
                }
                EXPECT_EQ(device[frames * 2 * bytes], 0xEE) << "wrote past the block";

                // Captured back, each sample is the device value scaled to full scale.
                std::vector<float> capturedLeft(frames + 1, 9.0f), capturedRight(frames + 1, 9.0f);
                ASSERT_EQ(convertCapture(type, device.data(), frames, {2, 0, 1},
                                         capturedLeft.data(), capturedRight.data(), frames),
                          frames);
                for (uint32_t i = 0; i < frames; ++i) {
                    for (int c = 0; c < 2; ++c) {
                        const float got = (c == 0 ? capturedLeft : capturedRight)[i];
                        float expected = 0.0f;
                        if (type == DeviceSampleType::int16)
                            expected =
                                float(renderRule(type, (c == 0 ? left : right)[i])) / 32768.0f;
                        else if (type == DeviceSampleType::int32)
                            expected = float(renderRule(type, (c == 0 ? left : right)[i])) *
                                       (1.0f / 2147483648.0f);
                        else
                            expected = clampRule((c == 0 ? left : right)[i]);
                        ASSERT_EQ(got, expected) << "frame " << i << " channel " << c;
                    }
                }
                EXPECT_EQ(capturedLeft[frames], 9.0f);
            }
        }
    }
    enableAvx2Steps(true);
}
