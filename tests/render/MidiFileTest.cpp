#include "MidiFile.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
    Bytes file = {'M',
                  'T',
                  'h',
                  'd',
                  0,
                  0,
                  0,
                  6,
                  0,
                  static_cast<unsigned char>(format),
                  0,
                  static_cast<unsigned char>(tracks.size()),
                  static_cast<unsigned char>(division >> 8),
                  static_cast<unsigned char>(division)};
    for (const Bytes& track : tracks) {
        const auto size = static_cast<uint32_t>(track.size());
        file.insert(file.end(),
                    {'M', 'T', 'r', 'k', static_cast<unsigned char>(size >> 24),
                     static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 8),
                     static_cast<unsigned char>(size)});
        file.insert(file.end(), track.begin(), track.end());
    }
    return file;
}

TEST(MidiFile, FormatZeroWithRunningStatusAndSkippedEvents) {
    const Bytes file = smf(0, 96, {{0x00, 0x90, 60,   100,              // note on at 0
                                    0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7, // SysEx skipped
                                    0x60, 62,   100,                    // running status, one beat
                                    0x00, 0xFF, 0x01, 0x02, 'h',  'i',  // text skipped
                                    0x30, 0xC1, 5,          // program change, one data byte
                                    0x00, 0xE2, 0x00, 0x40, // pitch bend
                                    0x00, 0xD3, 0x22,       // channel pressure
                                    0x60, 0xFF, 0x2F, 0x00}});
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parseMidiFile(file, 0.0, contents, error)) << error;
    ASSERT_EQ(contents.events.size(), 5u);
    EXPECT_EQ(contents.events[1].bytes[0], 0x90);
    EXPECT_EQ(contents.events[1].bytes[1], 62);
    EXPECT_DOUBLE_EQ(contents.events[1].seconds, 0.5); // 120 BPM without a tempo event
    EXPECT_EQ(contents.events[2].bytes[0], 0xC1);
    EXPECT_DOUBLE_EQ(contents.events[2].seconds, 0.75);
    EXPECT_EQ(contents.events[3].bytes[2], 0x40);
    EXPECT_EQ(contents.events[4].bytes[1], 0x22);
    EXPECT_DOUBLE_EQ(contents.lengthSeconds, 1.25);
}

TEST(MidiFile, SmpteDivisionCountsFramesPerSecond) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
    const Bytes file = smf(0, 0xE728, {{0x87, 0x68, 0x90, 60, 1, 0x00, 0xFF, 0x2F, 0x00}});
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parseMidiFile(file, 0.0, contents, error)) << error;
    ASSERT_EQ(contents.events.size(), 1u);
    EXPECT_DOUBLE_EQ(contents.events[0].seconds, 1.0);
}

TEST(MidiFile, MalformedFilesAreRefusedWithAReason) {
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 6}},
        {"short header", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}},
        {"format 2", smf(2, 96, {{0x00, 0xFF, 0x2F, 0x00}})},
        {"no tracks", smf(1, 96, {})},
        {"division 0", smf(0, 0, {{0x00, 0xFF, 0x2F, 0x00}})},
        {"track claims more than the file",
         [] {
             Bytes b = smf(0, 96, {{0x00, 0xFF, 0x2F, 0x00}});
             b[21] = 0x40;
             return b;
         }()},
        {"running status without a status", smf(0, 96, {{0x00, 60, 100}})},
        {"truncated note", smf(0, 96, {{0x00, 0x90, 60}})},
        {"data byte above 127", smf(0, 96, {{0x00, 0x90, 60, 0x80}})},
        {"five-byte length", smf(0, 96, {{0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 1, 1}})},
        {"meta longer than the track", smf(0, 96, {{0x00, 0xFF, 0x01, 0x20, 'x'}})},
        {"tempo of zero", smf(0, 96, {{0x00, 0xFF, 0x51, 0x03, 0, 0, 0}})},
        {"system message in a track", smf(0, 96, {{0x00, 0xF8}})},
    };
    for (const auto& c : cases) {
        MidiFileContents contents;
        std::string error;
        EXPECT_FALSE(parseMidiFile(c.bytes, 0.0, contents, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

} // namespace
