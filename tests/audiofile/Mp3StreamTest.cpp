// The MPEG Layer III header stage: tags, frame headers, rates and bitrates.

#include "Mp3Stream.h"
#include "AudioFileTestSupport.h"

#include <fstream>
#include <iterator>

namespace {

Bytes frame(unsigned char b1, unsigned char b2, unsigned char b3) {
    Bytes bytes = {0xFF, b1, b2, b3};
    bytes.resize(400, 0);
    return bytes;
}

Bytes withId3v2(const Bytes& audio, uint32_t tagBytes, uint32_t claimed) {
    Bytes out = {'I', 'D', '3', 3, 0, 0};
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<unsigned char>((claimed >> shift) & 0x7F));
    out.insert(out.end(), tagBytes, 'x');
    out.insert(out.end(), audio.begin(), audio.end());
    return out;
}

Bytes withId3v1(Bytes audio) {
    Bytes tag(128, ' ');
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    audio.insert(audio.end(), tag.begin(), tag.end());
    return audio;
}

TEST(Mp3Stream, FrameHeaders) {
    const struct {
        const char* what;
        Bytes bytes;
        bool ok;
        int version, rate, kbps, channels, padding;
    } cases[] = {
        {"MPEG-1 44.1 kHz 128k joint stereo", frame(0xFB, 0x90, 0x44), true, 1, 44100, 128, 2, 0},
        {"MPEG-1 48 kHz 320k mono, padded", frame(0xFB, 0xE6, 0xC4), true, 1, 48000, 320, 1, 1},
        {"MPEG-1 32 kHz", frame(0xFB, 0x98, 0x00), true, 1, 32000, 128, 2, 0},
        {"MPEG-2 22.05 kHz 32k mono", frame(0xF3, 0x40, 0xC4), true, 2, 22050, 32, 1, 0},
        {"MPEG-2 24 kHz 160k", frame(0xF3, 0xE4, 0x00), true, 2, 24000, 160, 2, 0},
        {"free bitrate gives 0", frame(0xFB, 0x00, 0x00), true, 1, 44100, 0, 2, 0},
        {"MPEG-2.5", frame(0xE3, 0x40, 0x00), false, 0, 0, 0, 0, 0},
        {"reserved version", frame(0xEB, 0x40, 0x00), false, 0, 0, 0, 0, 0},
        {"layer II", frame(0xFD, 0x90, 0x00), false, 0, 0, 0, 0, 0},
        {"layer I", frame(0xFF, 0x90, 0x00), false, 0, 0, 0, 0, 0},
        {"reserved rate", frame(0xFB, 0x9C, 0x00), false, 0, 0, 0, 0, 0},
        {"no sync", Bytes{'J', 'U', 'N', 'K', 0xFF, 0xFB, 0x90, 0x44}, false, 0, 0, 0, 0, 0},
        {"three bytes", Bytes{0xFF, 0xFB, 0x90}, false, 0, 0, 0, 0, 0},
        {"empty", Bytes{}, false, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Mp3Stream stream;
        EXPECT_EQ(locateMp3Stream(c.bytes.data(), c.bytes.size(), stream), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(stream.version, c.version) << c.what;
        EXPECT_EQ(stream.sampleRate, c.rate) << c.what;
        EXPECT_EQ(stream.bitrateKbps, c.kbps) << c.what;
        EXPECT_EQ(stream.channels, c.channels) << c.what;
        EXPECT_EQ(stream.padding, c.padding) << c.what;
    }
}

TEST(Mp3Stream, Tags) {
    const Bytes audio = frame(0xFB, 0x90, 0x44);
    Mp3Stream stream;
    const Bytes v2 = withId3v2(audio, 100, 100);
    ASSERT_TRUE(locateMp3Stream(v2.data(), v2.size(), stream));
    EXPECT_EQ(stream.offset, 110u);
    EXPECT_EQ(stream.size, audio.size());

    const Bytes v1 = withId3v1(audio);
    ASSERT_TRUE(locateMp3Stream(v1.data(), v1.size(), stream));
    EXPECT_EQ(stream.offset, 0u);
    EXPECT_EQ(stream.size, audio.size());

    const Bytes both = withId3v1(withId3v2(audio, 20, 20));
    ASSERT_TRUE(locateMp3Stream(both.data(), both.size(), stream));
    EXPECT_EQ(stream.size, audio.size() + 128) << "only one kind of tag is looked for";

    const Bytes pastTheEnd = withId3v2(audio, 10, 1000);
    EXPECT_FALSE(locateMp3Stream(pastTheEnd.data(), pastTheEnd.size(), stream));
    const Bytes huge = withId3v2(audio, 0, 0x0FFFFFFF);
    EXPECT_FALSE(locateMp3Stream(huge.data(), huge.size(), stream));
    const Bytes tagOnly = withId3v2({}, 5, 5);
    EXPECT_FALSE(locateMp3Stream(tagOnly.data(), tagOnly.size(), stream));
    const Bytes shortTag = {'I', 'D', '3', 3, 0};
    EXPECT_FALSE(locateMp3Stream(shortTag.data(), shortTag.size(), stream));
}

TEST(Mp3Stream, BlockSize) {
    Mp3Stream stream;
    stream.bitrateKbps = 128;
    stream.sampleRate = 44100;
    EXPECT_EQ(mp3BlockSize(stream), 417u);
    stream.padding = 1;
    EXPECT_EQ(mp3BlockSize(stream), 418u);
    stream.sampleRate = 0;
    EXPECT_EQ(mp3BlockSize(stream), 0u);
}

// Every frame present counts, whatever the first one claims; junk between
// frames is searched through.
TEST(Mp3Stream, SampleFramesOfEveryFramePresent) {
    const auto frames = [](std::initializer_list<Bytes> parts) {
        Bytes bytes;
        for (const Bytes& part : parts)
            bytes.insert(bytes.end(), part.begin(), part.end());
        Mp3Stream stream;
        EXPECT_TRUE(locateMp3Stream(bytes.data(), bytes.size(), stream));
        return mp3SampleFrames(bytes.data(), stream);
    };
    const auto sized = [](Bytes header, size_t bytes) {
        header.resize(bytes, 0);
        return header;
    };
    const Bytes at320 = sized({0xFF, 0xFB, 0xE0, 0x44}, 1044);     // MPEG-1 44.1 kHz 320k
    const Bytes at32 = sized({0xFF, 0xFB, 0x10, 0x44}, 104);       // MPEG-1 44.1 kHz 32k
    const Bytes at32padded = sized({0xFF, 0xFB, 0x12, 0x44}, 105); // the same, padded
    const Bytes mpeg2 = sized({0xFF, 0xF3, 0x40, 0xC4}, 104);      // MPEG-2 22.05 kHz 32k
    EXPECT_EQ(frames({at320, at32, at32, at32padded, at32}), 5u * 1152);
    EXPECT_EQ(frames({at32, Bytes(37, 0x55), at32}), 2u * 1152);
    EXPECT_EQ(frames({mpeg2, mpeg2, mpeg2}), 3u * 576);
    EXPECT_EQ(frames({at32, Bytes{0xFF, 0xFB, 0xE0, 0x44, 0, 0}}), 2u * 1152) << "cut short";
}

TEST(Mp3Stream, LameFiles) {
    const struct {
        const char* file;
        bool ok;
        int rate;
        int channels;
    } cases[] = {
        {"mp3-44k-stereo.mp3", true, 44100, 2},    {"mp3-48k-stereo.mp3", true, 48000, 2},
        {"mp3-22k-mono.mp3", true, 22050, 1},      {"mp3-44k-mono.mp3", true, 44100, 1},
        {"mp3-44k-id3v2.mp3", true, 44100, 2},     {"mp3-44k-id3v1.mp3", true, 44100, 2},
        {"mp3-44k-both-tags.mp3", true, 44100, 2}, {"mp3-junk-first.mp3", false, 0, 0},
        {"mp3-44k-vbr.mp3", true, 44100, 2},       {"mp3-44k-abr.mp3", true, 44100, 2},
        {"mp3-22k-vbr-mono.mp3", true, 22050, 1},
    };
    for (const auto& c : cases) {
        std::ifstream in(soxFilesFolder() + c.file, std::ios::binary);
        const Bytes bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_FALSE(bytes.empty()) << c.file;
        Mp3Stream stream;
        EXPECT_EQ(locateMp3Stream(bytes.data(), bytes.size(), stream), c.ok) << c.file;
        if (!c.ok)
            continue;
        EXPECT_EQ(stream.sampleRate, c.rate) << c.file;
        EXPECT_EQ(stream.channels, c.channels) << c.file;
        // lame's own decoding drops the encoder's delay and padding.
        const ReadResult lame = readWhole(soxFilesFolder() + c.file + ".wav");
        const uint64_t frames = mp3SampleFrames(bytes.data(), stream);
        EXPECT_GE(frames, lame.frames) << c.file;
        EXPECT_LE(frames, lame.frames + 3 * 1152u) << c.file;
    }
}

} // namespace
