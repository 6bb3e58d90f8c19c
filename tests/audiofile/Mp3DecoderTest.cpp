// MP3 files made by lame, decoded through the platform's codec, against
// lame's own decoding of the same file. The two decoders differ in delay
// and rounding, so the comparison is of what a listener hears: length, level
// (RMS within 3 %) and pitch (zero crossings within 2 %) of the steady part.

#include "AudioFileTestSupport.h"
#include "KsAudioFileDecoder.h"

#include <cmath>

namespace {

struct Measure {
    double rms = 0.0;
    double crossingsPerSecond = 0.0;
};

// Over the middle half, away from the encoder's and decoder's edges.
Measure measure(const std::vector<float>& samples, int rate) {
    Measure m;
    const size_t from = samples.size() / 4;
    const size_t to = samples.size() * 3 / 4;
    size_t crossings = 0;
    for (size_t i = from; i < to; ++i) {
        m.rms += double(samples[i]) * samples[i];
        if (i > from && (samples[i - 1] < 0.0f) != (samples[i] < 0.0f))
            ++crossings;
    }
    m.rms = std::sqrt(m.rms / double(to - from));
    m.crossingsPerSecond = crossings * double(rate) / double(to - from);
    return m;
}

struct DecoderCase {
    const char* file;
    int rate;
    bool mono;
};

class Mp3DecoderTest : public testing::TestWithParam<DecoderCase> {};

TEST_P(Mp3DecoderTest, SoundsLikeLamesDecoding) {
    const DecoderCase& c = GetParam();
    const std::string path = soxFilesFolder() + c.file;
    const ReadResult ours = readWhole(path);
    const ReadResult lame = readWhole(path + ".wav");
    ASSERT_GT(lame.frames, 0u);
    ASSERT_GT(ours.frames, 0u) << c.file;
    ASSERT_TRUE(ours.read);
    auto* decoder = dynamic_cast<KsAudioFileDecoder*>(ours.reader.get());
    ASSERT_NE(decoder, nullptr);
    EXPECT_TRUE(decoder->mp3CodecFound);
    EXPECT_EQ(ours.reader->sampleRate, c.rate);
    EXPECT_EQ(ours.reader->channels, 2);
    EXPECT_GE(ours.frames, lame.frames);
    EXPECT_LE(ours.frames, lame.frames + 4 * 1152u) << "only the codec's delay and padding more";
    for (int ch = 0; ch < 2; ++ch) {
        const Measure got = measure(ch == 0 ? ours.left : ours.right, c.rate);
        const Measure expected = measure(ch == 0 ? lame.left : lame.right, c.rate);
        EXPECT_NEAR(got.rms, expected.rms, expected.rms * 0.03) << c.file << " channel " << ch;
        EXPECT_NEAR(got.crossingsPerSecond, expected.crossingsPerSecond,
                    expected.crossingsPerSecond * 0.02)
            << c.file << " channel " << ch;
    }
    if (c.mono) {
        EXPECT_EQ(ours.left, ours.right);
    }
}

INSTANTIATE_TEST_SUITE_P(LameFiles, Mp3DecoderTest,
                         testing::Values(DecoderCase{"mp3-44k-stereo.mp3", 44100, false},
                                         DecoderCase{"mp3-48k-stereo.mp3", 48000, false},
                                         DecoderCase{"mp3-22k-mono.mp3", 22050, true},
                                         DecoderCase{"mp3-44k-mono.mp3", 44100, true},
                                         DecoderCase{"mp3-44k-id3v2.mp3", 44100, false},
                                         DecoderCase{"mp3-44k-id3v1.mp3", 44100, false},
                                         DecoderCase{"mp3-44k-both-tags.mp3", 44100, false},
                                         DecoderCase{"mp3-44k-vbr.mp3", 44100, false},
                                         DecoderCase{"mp3-44k-abr.mp3", 44100, false},
                                         DecoderCase{"mp3-22k-vbr-mono.mp3", 22050, true}),
                         [](const testing::TestParamInfo<DecoderCase>& info) {
                             return testNameOf(info.param.file);
                         });

TEST(Mp3Decoder, RefusesWhatIsNoMp3) {
    for (const char* file : {"mp3-junk-first.mp3", "missing.mp3", "wav-s16-stereo.wav.ref"}) {
        std::unique_ptr<KsAudioFileBase> reader;
        EXPECT_EQ(createReaderForPath(reader, soxFilesFolder() + file), 0u) << file;
        ASSERT_NE(reader, nullptr);
        float sample = 0.0f;
        EXPECT_FALSE(reader->readSamples({&sample, &sample})) << file;
    }
    KsAudioFileDecoder decoder;
    EXPECT_FALSE(decoder.openForWriting(testing::TempDir() + "x.mp3", 1, 44100));
    EXPECT_FALSE(decoder.writeHeader(1, 44100));
    float sample = 0.0f;
    EXPECT_FALSE(decoder.readSamples({&sample, &sample})) << "no path yet";
}

} // namespace
