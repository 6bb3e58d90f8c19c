// WAV and AIFF headers built byte by byte: what is read, what is refused.

#include "AudioFileTestSupport.h"
#include "KsAudioFileAIFF.h"
#include "KsAudioFileWAV.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

struct Fmt {
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t blockAlign = 4;
    uint16_t bits = 16;
};

Bytes fmtChunk(const Fmt& f, size_t extraBytes = 0) {
    Bytes out;
    append(out, "fmt ");
    appendLe(out, static_cast<uint32_t>(16 + extraBytes), 4);
    appendLe(out, f.tag, 2);
    appendLe(out, f.channels, 2);
    appendLe(out, f.rate, 4);
    appendLe(out, f.rate * f.blockAlign, 4);
    appendLe(out, f.blockAlign, 2);
    appendLe(out, f.bits, 2);
    out.insert(out.end(), extraBytes, 0);
    if (extraBytes & 1)
        out.push_back(0);
    return out;
}

Bytes dataChunk(const Bytes& samples, uint32_t claimedSize = 0xFFFFFFFF) {
    Bytes out;
    append(out, "data");
    appendLe(out, claimedSize == 0xFFFFFFFF ? static_cast<uint32_t>(samples.size()) : claimedSize,
             4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

Bytes riff(std::initializer_list<Bytes> chunks) {
    Bytes out;
    append(out, "RIFF");
    appendLe(out, 0, 4); // never looked at
    append(out, "WAVE");
    for (const Bytes& chunk : chunks)
        out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

ReadResult readBytes(const Bytes& bytes, const char* name = "x.wav") {
    TempFile file(name);
    file.write(bytes);
    return readWhole(file.path());
}

TEST(WavReader, EightBitBytesUseTheFullScale) {
    const ReadResult r =
        readBytes(riff({fmtChunk({1, 1, 8000, 1, 8}), dataChunk({128, 255, 0, 1})}));
    ASSERT_EQ(r.frames, 4u);
    ASSERT_TRUE(r.read);
    EXPECT_EQ(r.reader->format, Mono8);
    EXPECT_EQ(r.left, (std::vector<float>{0.0f, 0.9921875f, -1.0f, -0.9921875f}));
    EXPECT_EQ(r.right, r.left) << "mono gives both arrays";
}

TEST(WavReader, SkipsLongFmtChunksAndPaddedOddChunks) {
    Bytes odd;
    append(odd, "LIST");
    appendLe(odd, 3, 4);
    odd.insert(odd.end(), {'a', 'b', 'c', 0}); // one pad byte
    const ReadResult r = readBytes(
        riff({fmtChunk({1, 2, 22050, 4, 16}, 3), odd, dataChunk({0x00, 0x40, 0x00, 0xC0})}));
    ASSERT_EQ(r.frames, 1u);
    EXPECT_EQ(r.reader->sampleRate, 22050);
    EXPECT_EQ(r.left[0], 0.5f);
    EXPECT_EQ(r.right[0], -0.5f);
}

TEST(WavReader, TwentyFourBitIgnoresAnIncompleteLastFrame) {
    Bytes samples = {0x00, 0x00, 0x40, 0xFF, 0xFF, 0xFF, 0x01, 0x02}; // one frame and 2 bytes
    const ReadResult r = readBytes(riff({fmtChunk({1, 2, 44100, 6, 24}), dataChunk(samples)}));
    ASSERT_EQ(r.frames, 1u);
    ASSERT_TRUE(r.read);
    EXPECT_EQ(r.left[0], 0.5f);
    EXPECT_EQ(r.right[0], static_cast<float>(-1.0 / 8388608.0));
}

TEST(WavReader, MonoThirtyTwoBitIntegersScaleBy2ToMinus31) {
    Bytes samples;
    appendLe(samples, 0x40000000, 4);
    appendLe(samples, 0x80000000, 4);
    const ReadResult r = readBytes(riff({fmtChunk({1, 1, 44100, 4, 32}), dataChunk(samples)}));
    ASSERT_EQ(r.frames, 2u);
    EXPECT_EQ(r.left, (std::vector<float>{0.5f, -1.0f}));
    EXPECT_EQ(r.right, r.left);
}

TEST(WavReader, ExtensibleTagTakesTheSubFormat) {
    Fmt f{0xFFFE, 2, 48000, 8, 32};
    Bytes fmt = fmtChunk(f, 24);
    fmt[8 + 16] = 22; // extra size
    fmt[8 + 24] = 3;  // sub-format: IEEE float
    Bytes samples;
    appendLe(samples, 0x3F000000, 4); // 0.5f
    appendLe(samples, 0xBF800000, 4); // -1.0f
    const ReadResult r = readBytes(riff({fmt, dataChunk(samples)}));
    ASSERT_EQ(r.frames, 1u);
    EXPECT_EQ(r.reader->format, StereoFloat32);
    EXPECT_EQ(r.left[0], 0.5f);
    EXPECT_EQ(r.right[0], -1.0f);
}

Bytes extensibleFmt(uint16_t subFormatTag) {
    Bytes fmt = fmtChunk({0xFFFE, 2, 48000, 4, 16}, 24);
    fmt[8 + 16] = 22;
    fmt[8 + 24] = static_cast<unsigned char>(subFormatTag);
    return fmt;
}

TEST(WavReader, RefusesWhatItCannotReadSafely) {
    const Bytes samples(16, 0);
    Bytes huge;
    append(huge, "data");
    appendLe(huge, 0xFFFFFFF0, 4);
    const struct {
        const char* why;
        Bytes bytes;
    } cases[] = {
        {"three channels", riff({fmtChunk({1, 3, 44100, 6, 16}), dataChunk(samples)})},
        {"data before fmt", riff({dataChunk(samples), fmtChunk({})})},
        {"no fmt at all", riff({dataChunk(samples)})},
        {"no data chunk", riff({fmtChunk({})})},
        {"block alignment 5", riff({fmtChunk({1, 1, 44100, 5, 40}), dataChunk(samples)})},
        {"8-byte frames of tag 2", riff({fmtChunk({2, 2, 44100, 8, 32}), dataChunk(samples)})},
        {"16-byte frames of tag 2", riff({fmtChunk({2, 2, 44100, 16, 64}), dataChunk(samples)})},
        {"more data claimed than the file holds", riff({fmtChunk({}), dataChunk(samples, 17)})},
        {"data size near 4 GiB", riff({fmtChunk({}), huge})},
        {"rate 0", riff({fmtChunk({1, 2, 0, 4, 16}), dataChunk(samples)})},
        {"rate above 2^31 - 1", riff({fmtChunk({1, 2, 0x80000000, 4, 16}), dataChunk(samples)})},
        {"mu-law", riff({fmtChunk({7, 1, 8000, 1, 8}), dataChunk(samples)})},
        {"A-law", riff({fmtChunk({6, 2, 8000, 2, 8}), dataChunk(samples)})},
        {"ADPCM", riff({fmtChunk({2, 1, 44100, 4, 4}), dataChunk(samples)})},
        {"float of 16 bits", riff({fmtChunk({3, 2, 44100, 4, 16}), dataChunk(samples)})},
        {"extensible mu-law", riff({extensibleFmt(7), dataChunk(samples)})},
        {"zero channels", riff({fmtChunk({1, 0, 44100, 4, 16}), dataChunk(samples)})},
        {"truncated fmt", riff({Bytes{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0}})},
        {"short riff header", Bytes{'R', 'I', 'F', 'F'}},
        {"empty file", Bytes{}},
    };
    for (const auto& c : cases) {
        const ReadResult r = readBytes(c.bytes);
        EXPECT_EQ(r.frames, 0u) << c.why;
        ASSERT_NE(r.reader, nullptr);
        EXPECT_EQ(r.reader->file, nullptr) << c.why << ": the refused file is closed";
    }
}

TEST(WavReader, MonoFloat64IsReadAsSuch) {
    Bytes samples;
    appendLe(samples, 0x00000000, 4);
    appendLe(samples, 0x3FE00000, 4); // 0.5 as a double
    const ReadResult r = readBytes(riff({fmtChunk({3, 1, 44100, 8, 64}), dataChunk(samples)}));
    ASSERT_EQ(r.frames, 1u);
    EXPECT_EQ(r.reader->format, MonoFloat64);
    EXPECT_EQ(r.left[0], 0.5f);
}

struct Comm {
    uint16_t channels = 2;
    uint32_t frames = 1;
    uint16_t bits = 16;
    Bytes rate = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    std::string compression; // AIFF-C only
};

Comm makeComm(uint16_t channels = 2, uint32_t frames = 1, uint16_t bits = 16,
              Bytes rate = {0x40, 0x0E, 0xAC, 0x44}, std::string compression = "") {
    return Comm{channels, frames, bits, std::move(rate), std::move(compression)};
}

Bytes aiff(const Comm& c, const Bytes& samples, bool aiffC = false, bool commAfterSsnd = false) {
    Bytes comm;
    append(comm, "COMM");
    appendBe(comm, aiffC ? 22 : 18, 4);
    appendBe(comm, c.channels, 2);
    appendBe(comm, c.frames, 4);
    appendBe(comm, c.bits, 2);
    Bytes rate = c.rate;
    rate.resize(10, 0);
    comm.insert(comm.end(), rate.begin(), rate.end());
    if (aiffC)
        append(comm, c.compression);
    Bytes ssnd;
    append(ssnd, "SSND");
    appendBe(ssnd, static_cast<uint32_t>(samples.size() + 8), 4);
    appendBe(ssnd, 0, 4);
    appendBe(ssnd, 0, 4);
    ssnd.insert(ssnd.end(), samples.begin(), samples.end());
    Bytes out;
    append(out, "FORM");
    appendBe(out, 0, 4);
    append(out, aiffC ? "AIFC" : "AIFF");
    const Bytes& first = commAfterSsnd ? ssnd : comm;
    const Bytes& second = commAfterSsnd ? comm : ssnd;
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

TEST(AiffReader, AifcEndingOpensTheAiffReader) {
    const Bytes samples = {0x40, 0x00, 0xC0, 0x00}; // 0.5, -0.5
    for (const char* name : {"x.aifc", "x.AIFC"}) {
        const ReadResult r = readBytes(
            aiff(makeComm(2, 1, 16, {0x40, 0x0E, 0xAC, 0x44}, "NONE"), samples, true), name);
        ASSERT_EQ(r.frames, 1u) << name;
        EXPECT_EQ(r.reader->fileKind, fileKindAIFF);
        EXPECT_EQ(r.left[0], 0.5f);
        EXPECT_EQ(r.right[0], -0.5f);
    }
}

TEST(AiffReader, FormatsAndRefusals) {
    const Bytes eight(16, 0);
    const struct {
        const char* why;
        Bytes bytes;
        uint32_t format; // 0: refused
    } cases[] = {
        {"16-bit stereo", aiff(makeComm(), eight), Stereo16},
        {"fl32 mono", aiff(makeComm(1, 2, 32, {0x40, 0x0E, 0xAC, 0x44}, "fl32"), eight, true),
         MonoFloat32},
        {"fl64 stereo", aiff(makeComm(2, 1, 64, {0x40, 0x0E, 0xAC, 0x44}, "fl64"), eight, true),
         StereoFloat64},
        {"64-bit integers", aiff(makeComm(2, 1, 64), eight), Stereo64},
        {"ulaw", aiff(makeComm(2, 1, 16, {0x40, 0x0E, 0xAC, 0x44}, "ulaw"), eight, true), 0},
        {"ima4", aiff(makeComm(2, 1, 16, {0x40, 0x0E, 0xAC, 0x44}, "ima4"), eight, true), 0},
        {"FL32 in capitals",
         aiff(makeComm(2, 1, 32, {0x40, 0x0E, 0xAC, 0x44}, "FL32"), eight, true), 0},
        {"12 bits", aiff(makeComm(2, 1, 12), eight), 0},
        {"three channels", aiff(makeComm(3, 1, 16), eight), 0},
        {"COMM after SSND", aiff(makeComm(), eight, false, true), 0},
        {"more frames than the file holds", aiff(makeComm(2, 100, 16), eight), 0},
        {"frame count overflowing 32 bits", aiff(makeComm(2, 0x7FFFFFFF, 64), eight), 0},
        {"rate below 2", aiff(makeComm(2, 1, 16, {0x3F, 0xFF, 0x80}), eight), 0},
    };
    for (const auto& c : cases) {
        const ReadResult r = readBytes(c.bytes, "x.aif");
        ASSERT_NE(r.reader, nullptr);
        if (c.format == 0) {
            EXPECT_EQ(r.frames, 0u) << c.why;
            EXPECT_EQ(r.reader->file, nullptr) << c.why;
        } else {
            EXPECT_GT(r.frames, 0u) << c.why;
            EXPECT_EQ(r.reader->format, c.format) << c.why;
            EXPECT_TRUE(r.read) << c.why;
        }
    }
}

TEST(AiffReader, SixtyFourBitIntegersAreLeftUnconverted) {
    const ReadResult r = readBytes(aiff(makeComm(2, 1, 64), Bytes(16, 0x11)), "x.aiff");
    ASSERT_EQ(r.frames, 1u);
    EXPECT_TRUE(r.read);
    EXPECT_EQ(r.left[0], -9.0f) << "the array keeps what it held";
}

TEST(AiffReader, TruncatedCommIsRefused) {
    Bytes bytes;
    append(bytes, "FORM");
    appendBe(bytes, 0, 4);
    append(bytes, "AIFF");
    append(bytes, "COMM");
    appendBe(bytes, 18, 4);
    appendBe(bytes, 2, 2);
    appendBe(bytes, 1, 4); // the file ends here
    const ReadResult r = readBytes(bytes, "x.aiff");
    EXPECT_EQ(r.frames, 0u);
}

TEST(AiffReader, PlainAiffNeverReadsACompressionType) {
    Bytes bytes = aiff(makeComm(), Bytes(4, 0));
    // Make the plain COMM chunk 22 bytes long with junk where AIFF-C keeps
    // its compression type.
    bytes[12 + 7] = 22;
    bytes.insert(bytes.begin() + 12 + 8 + 18, {'j', 'u', 'n', 'k'});
    const ReadResult r = readBytes(bytes, "x.aiff");
    EXPECT_EQ(r.frames, 1u);
}

template <typename Value> Bytes storedValues(const std::vector<Value>& values, bool bigEndian) {
    Bytes out;
    for (const Value value : values) {
        unsigned char bytes[sizeof(Value)];
        std::memcpy(bytes, &value, sizeof(Value)); // the test machines are little-endian
        if (bigEndian)
            std::reverse(bytes, bytes + sizeof(Value));
        out.insert(out.end(), bytes, bytes + sizeof(Value));
    }
    return out;
}

TEST(FloatSamples, NonFiniteValuesReadAsSilenceAndFiniteOnesStayUnclipped) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<float> floats = {float(nan), float(inf), float(-inf), 1.5f, -3.0f, 0.25f};
    const std::vector<double> doubles = {nan, inf, -inf, 1e300, -1e300, 2.5};
    const std::vector<float> fromFloats = {0.0f, 0.0f, 0.0f, 1.5f, -3.0f, 0.25f};
    const std::vector<float> fromDoubles = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 2.5f};
    const Bytes rate = {0x40, 0x0E, 0xAC, 0x44};
    const struct {
        const char* why;
        Bytes bytes;
        const char* name;
        bool stereo;
        const std::vector<float>& expected;
    } cases[] = {
        {"float32 WAV",
         riff({fmtChunk({3, 2, 44100, 8, 32}), dataChunk(storedValues(floats, false))}), "x.wav",
         true, fromFloats},
        {"float64 WAV",
         riff({fmtChunk({3, 2, 44100, 16, 64}), dataChunk(storedValues(doubles, false))}), "x.wav",
         true, fromDoubles},
        {"fl32 AIFF-C", aiff(makeComm(1, 6, 32, rate, "fl32"), storedValues(floats, true), true),
         "x.aif", false, fromFloats},
        {"fl64 AIFF-C", aiff(makeComm(2, 3, 64, rate, "fl64"), storedValues(doubles, true), true),
         "x.aif", true, fromDoubles},
    };
    for (const auto& c : cases) {
        const ReadResult r = readBytes(c.bytes, c.name);
        ASSERT_TRUE(r.read) << c.why;
        std::vector<float> left = c.expected, right = c.expected;
        if (c.stereo) {
            left = {c.expected[0], c.expected[2], c.expected[4]};
            right = {c.expected[1], c.expected[3], c.expected[5]};
        }
        EXPECT_EQ(r.left, left) << c.why;
        EXPECT_EQ(r.right, right) << c.why;
    }
}

TEST(AiffRate, DecodesWholeNumbersAndRefusesTheRest) {
    const struct {
        Bytes bytes;
        int32_t rate;
    } cases[] = {
        {{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 44100},
        {{0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}, 48000},
        {{0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 22050},
        {{0x40, 0x0D, 0xAC, 0x45, 0, 0, 0, 0, 0, 0}, 22050}, // 22050.5
        {{0x40, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0}, 2},
        {{0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},    // 1.0
        {{0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 0}, // negative
        {{0x40, 0x1D, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},    // 2^30
        {{0x40, 0x1C, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 1073741823},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeExtendedRate(c.bytes.data()), c.rate);
    unsigned char encoded[10];
    encodeExtendedRate(44100, encoded);
    EXPECT_EQ(Bytes(encoded, encoded + 10), (Bytes{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
    encodeExtendedRate(48000, encoded);
    EXPECT_EQ(Bytes(encoded, encoded + 10), (Bytes{0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}));
    encodeExtendedRate(1, encoded);
    EXPECT_EQ(Bytes(encoded, encoded + 10), (Bytes{0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    for (uint32_t rate : {2u, 3u, 8000u, 96000u, 192000u, 1073741823u}) {
        encodeExtendedRate(rate, encoded);
        EXPECT_EQ(decodeExtendedRate(encoded), static_cast<int32_t>(rate));
    }
}

} // namespace
