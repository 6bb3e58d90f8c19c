#include "AudioFileTestSupport.h"
#include "KsAudioFileAIFF.h"
#include "KsAudioFileWAV.h"
#include "SampleConversion.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

TEST(Writer, SixteenBitValuesClipAndTruncate) {
    const struct {
        float in;
        int16_t out;
    } cases[] = {{1.0f, 32767},
                 {1.5f, 32767},
                 {-1.5f, -32767},
                 {-1.0f, -32767},
                 {0.5f, 16383},
                 {-0.5f, -16383},
                 {0.0f, 0},
                 {1e-9f, 0},
                 {std::numeric_limits<float>::infinity(), 32767},
                 {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(floatToInt16(c.in), c.out) << c.in;
}

TEST(Writer, EmptyWavIsAFortyFourByteHeader) {
    TempFile file("empty.wav");
    std::unique_ptr<KsAudioFileBase> writer;
    ASSERT_TRUE(createWriterForPath(writer, file.path(), 0, 44100));
    float none = 0.0f;
    ASSERT_TRUE(writer->writeSamples16({&none, &none}, 0, true));
    writer.reset();
    Bytes expected;
    append(expected, "RIFF");
    appendLe(expected, 36, 4);
    append(expected, "WAVEfmt ");
    appendLe(expected, 16, 4);
    appendLe(expected, 1, 2);
    appendLe(expected, 2, 2);
    appendLe(expected, 44100, 4);
    appendLe(expected, 176400, 4);
    appendLe(expected, 4, 2);
    appendLe(expected, 16, 2);
    append(expected, "data");
    appendLe(expected, 0, 4);
    EXPECT_EQ(file.read(), expected);
}

TEST(Writer, EmptyAiffIsAFiftyFourByteHeader) {
    TempFile file("empty.aiff");
    std::unique_ptr<KsAudioFileBase> writer;
    ASSERT_TRUE(createWriterForPath(writer, file.path(), 0, 48000));
    writer.reset();
    Bytes expected;
    append(expected, "FORM");
    appendBe(expected, 46, 4);
    append(expected, "AIFFCOMM");
    appendBe(expected, 18, 4);
    appendBe(expected, 2, 2);
    appendBe(expected, 0, 4);
    appendBe(expected, 16, 2);
    expected.insert(expected.end(), {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0});
    append(expected, "SSND");
    appendBe(expected, 8, 4);
    appendBe(expected, 0, 4);
    appendBe(expected, 0, 4);
    EXPECT_EQ(file.read(), expected);
}

TEST(Writer, WrittenFilesReadBackThroughOurReaders) {
    std::vector<float> left(1000), right(1000);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(std::sin(i * 0.05));
        right[i] = -left[i] * 0.5f;
    }
    for (const char* name : {"round.wav", "round.aif"}) {
        TempFile file(name);
        std::unique_ptr<KsAudioFileBase> writer;
        ASSERT_TRUE(createWriterForPath(writer, file.path(), 1000, 44100));
        ASSERT_TRUE(writer->writeSamples16({left.data(), right.data()}, 1000, true));
        const ReadResult r = readWhole(file.path());
        ASSERT_EQ(r.frames, 1000u) << name;
        ASSERT_TRUE(r.read);
        EXPECT_EQ(r.reader->sampleRate, 44100);
        for (size_t i = 0; i < 1000; ++i) {
            ASSERT_EQ(r.left[i], floatToInt16(left[i]) / 32768.0f) << name << " frame " << i;
            ASSERT_EQ(r.right[i], floatToInt16(right[i]) / 32768.0f) << name << " frame " << i;
        }
    }
}

#if !defined(_WIN32)
// sox reads what we write and finds the same 16-bit samples.
TEST(Writer, SoxReadsOurFilesSampleForSample) {
    std::vector<float> left(777), right(777);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(std::sin(i * 0.031) * 1.2); // clips at the peaks
        right[i] = static_cast<float>(std::cos(i * 0.017) * 0.3);
    }
    for (const char* name : {"sox.wav", "sox.aiff"}) {
        TempFile file(name);
        TempFile raw(std::string(name) + ".raw");
        std::unique_ptr<KsAudioFileBase> writer;
        ASSERT_TRUE(createWriterForPath(writer, file.path(), 777, 48000));
        ASSERT_TRUE(writer->writeSamples16({left.data(), right.data()}, 777, true));
        const std::string command =
            "sox '" + file.path() + "' -t raw -e signed-integer -b 16 -L '" + raw.path() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Bytes bytes = raw.read();
        ASSERT_EQ(bytes.size(), 777u * 4);
        for (size_t i = 0; i < 777; ++i) {
            const auto l = static_cast<int16_t>(bytes[4 * i] | bytes[4 * i + 1] << 8);
            const auto r = static_cast<int16_t>(bytes[4 * i + 2] | bytes[4 * i + 3] << 8);
            ASSERT_EQ(l, floatToInt16(left[i])) << name << " frame " << i;
            ASSERT_EQ(r, floatToInt16(right[i])) << name << " frame " << i;
        }
    }
}
#endif

TEST(Writer, UnwritablePathsFail) {
    std::unique_ptr<KsAudioFileBase> writer;
    EXPECT_FALSE(
        createWriterForPath(writer, testing::TempDir() + "no-such-folder/x.wav", 10, 44100));
    float none = 0.0f;
    if (writer) {
        EXPECT_FALSE(writer->writeSamples16({&none, &none}, 1, true));
    }
}

#if !defined(_WIN32)
// /dev/full takes every write into the stream's buffer and fails at the
// flush, as a full disk does.
TEST(Writer, AFullDiskFailsTheSave) {
    const std::string path = testing::TempDir() + "ks-full-disk.wav";
    std::remove(path.c_str());
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    std::vector<float> samples(1000, 0.25f);
    for (uint32_t frames : {0u, 10u, 1000u}) {
        std::unique_ptr<KsAudioFileBase> writer;
        ASSERT_TRUE(createWriterForPath(writer, path, frames, 44100)) << "buffered header";
        EXPECT_FALSE(writer->writeSamples16({samples.data(), samples.data()}, frames, true))
            << frames << " frames";
        EXPECT_EQ(writer->file, nullptr);
    }
    std::remove(path.c_str());
}
#endif

TEST(FileChoice, LastCharacterDecides) {
    const struct {
        const char* path;
        int32_t kind; // -1: no reader object
    } readers[] = {{"a.WAV", fileKindWAV},
                   {"a.wav", fileKindWAV},
                   {"a.aif", fileKindAIFF},
                   {"a.AIFF", fileKindAIFF},
                   {"a.wave", -1},
                   {"a.mp3", -1},
                   {"", -1}};
    for (const auto& c : readers) {
        std::unique_ptr<KsAudioFileBase> slot;
        EXPECT_EQ(createReaderForPath(slot, testing::TempDir() + c.path), 0u) << "missing file";
        if (c.kind < 0) {
#if !defined(_WIN32)
            EXPECT_EQ(slot, nullptr) << c.path << ": no decoder in this build";
#endif
        } else {
            ASSERT_NE(slot, nullptr) << c.path;
            EXPECT_EQ(slot->fileKind, c.kind) << c.path;
        }
    }
    std::unique_ptr<KsAudioFileBase> writer;
    for (const char* path : {"x.WAV", "x.AIFF", "x.mp3", "x.wave", ""}) {
        EXPECT_FALSE(createWriterForPath(writer, testing::TempDir() + path, 1, 44100)) << path;
        EXPECT_EQ(writer, nullptr) << path;
    }
}

} // namespace
