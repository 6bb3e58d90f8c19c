// Files written by sox read as sox itself decodes them: bit for bit for
// integer samples. For float samples sox's decoding goes through 32-bit
// integers, so values agree to 2^-31 of full scale plus the float's own
// rounding (at most 2^-24 relative).

#include "AudioFileTestSupport.h"
#include "KsAudioFileAIFF.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace {

struct OracleCase {
    const char* file;
    int channels;
    int rate;
    uint32_t format;
    bool exact;
};

std::vector<int32_t> soxReference(const std::string& path) {
    std::ifstream in(path + ".ref", std::ios::binary);
    const std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
    std::vector<int32_t> values(bytes.size() / 4);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<int32_t>(uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 |
                                         uint32_t(bytes[4 * i + 2]) << 16 |
                                         uint32_t(bytes[4 * i + 3]) << 24);
    }
    return values;
}

class SoxOracleTest : public testing::TestWithParam<OracleCase> {};

TEST_P(SoxOracleTest, SamplesMatchSoxsDecoding) {
    const OracleCase& c = GetParam();
    const std::string path = soxFilesFolder() + c.file;
    const std::vector<int32_t> reference = soxReference(path);
    ASSERT_FALSE(reference.empty()) << "no reference for " << path;
    const ReadResult result = readWhole(path);
    ASSERT_GT(result.frames, 0u) << path;
    ASSERT_TRUE(result.read);
    EXPECT_EQ(result.reader->channels, c.channels);
    EXPECT_EQ(result.reader->sampleRate, c.rate);
    EXPECT_EQ(result.reader->format, c.format);
    ASSERT_EQ(result.frames * static_cast<size_t>(c.channels), reference.size());
    int mismatches = 0;
    for (size_t i = 0; i < result.frames && mismatches < 5; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const int32_t stored = reference[i * c.channels + (c.channels == 2 ? ch : 0)];
            const float expected = static_cast<float>(stored * (1.0 / 2147483648.0));
            const float got = ch == 0 ? result.left[i] : result.right[i];
            const bool same =
                c.exact ? got == expected
                        : std::fabs(got - expected) <= 4.7e-10f + std::fabs(expected) * 6.0e-8f;
            if (!same) {
                ADD_FAILURE() << c.file << " frame " << i << " channel " << ch << ": got " << got
                              << ", sox " << expected;
                ++mismatches;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SoxOracleTest,
    testing::Values(OracleCase{"wav-u8-mono.wav", 1, 44100, Mono8, true},
                    OracleCase{"wav-u8-stereo.wav", 2, 44100, Stereo8, true},
                    OracleCase{"wav-s16-mono.wav", 1, 44100, Mono16, true},
                    OracleCase{"wav-s16-stereo.wav", 2, 44100, Stereo16, true},
                    OracleCase{"wav-s16-stereo-48k.wav", 2, 48000, Stereo16, true},
                    OracleCase{"wav-s24-mono.wav", 1, 44100, Mono24, true},
                    OracleCase{"wav-s24-stereo.wav", 2, 44100, Stereo24, true},
                    OracleCase{"wav-s24-stereo-ext.wav", 2, 44100, Stereo24, true},
                    OracleCase{"wav-s32-mono.wav", 1, 44100, Mono32, true},
                    OracleCase{"wav-s32-stereo-ext.wav", 2, 44100, Stereo32, true},
                    OracleCase{"wav-f32-mono.wav", 1, 44100, MonoFloat32, false},
                    OracleCase{"wav-f32-stereo-ext.wav", 2, 44100, StereoFloat32, false},
                    OracleCase{"wav-f64-mono.wav", 1, 44100, MonoFloat64, false},
                    OracleCase{"wav-f64-stereo.wav", 2, 44100, StereoFloat64, false},
                    OracleCase{"aiff-s8-mono.aiff", 1, 44100, Mono8, true},
                    OracleCase{"aiff-s16-stereo.aiff", 2, 44100, Stereo16, true},
                    OracleCase{"aiff-s24-stereo.aiff", 2, 44100, Stereo24, true},
                    OracleCase{"aiff-s32-mono.aiff", 1, 44100, Mono32, true},
                    OracleCase{"aifc-none-s16-stereo.aif", 2, 44100, Stereo16, true},
                    OracleCase{"aifc-fl32-stereo.aif", 2, 44100, StereoFloat32, false},
                    OracleCase{"aifc-fl32-mono.aif", 1, 44100, MonoFloat32, false},
                    OracleCase{"aifc-fl64-stereo.aif", 2, 44100, StereoFloat64, false},
                    OracleCase{"aifc-fl64-mono.aif", 1, 44100, MonoFloat64, false}),
    [](const testing::TestParamInfo<OracleCase>& info) { return testNameOf(info.param.file); });

// sox writes no "sowt" AIFF-C: this test makes one from sox's big-endian
// file by swapping every sample and the compression type.
TEST(SoxOracle, SowtAiffcReadsLikeItsBigEndianTwin) {
    const std::string twin = soxFilesFolder() + "aifc-none-s16-stereo.aif";
    std::ifstream in(twin, std::ios::binary);
    Bytes bytes(std::istreambuf_iterator<char>(in), {});
    KsAudioFileAIFF probe;
    const uint32_t frames = probe.openForReading(twin);
    ASSERT_GT(frames, 0u);
    const size_t dataStart = static_cast<size_t>(probe.dataOffset);
    for (size_t i = dataStart; i + 1 < dataStart + frames * 4; i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    const unsigned char none[] = {'N', 'O', 'N', 'E'};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(none), std::end(none));
    ASSERT_NE(at, bytes.end());
    std::copy_n("sowt", 4, at);
    TempFile sowt("sowt.aif");
    sowt.write(bytes);
    const ReadResult expected = readWhole(twin);
    const ReadResult got = readWhole(sowt.path());
    ASSERT_EQ(got.frames, expected.frames);
    EXPECT_EQ(got.reader->bigEndian, 0);
    EXPECT_EQ(got.left, expected.left);
    EXPECT_EQ(got.right, expected.right);
}

} // namespace
