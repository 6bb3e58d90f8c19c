#include "AudioFileDlgLogic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace playerDialog;

TEST(AudioFileDlgLogic, TempoFromFileLengthWindows) {
    struct Row {
        int32_t rate;
        uint32_t frames;
        const char* text;
    };
    const Row rows[] = {
        {44100, 44100, "120.00 BPM"},  // 1 s: two beats
        {44100, 132300, "160.00 BPM"}, // 3 s: g = 4
        {44100, 26460, "failed"},      // 0.6 s
        {44100, 2205000, "failed"},    // 50 s
        {44100, 58653, "failed"},      // 1.33 s, between the first two windows
        {48000, 32401, "177.77 BPM"},  // just inside 0.675 s
        {48000, 32400, "failed"},      // exactly 0.675 s: the bounds are strict
        {48000, 63599, "90.57 BPM"},   // just inside 1.325 s
        {48000, 2035199, "90.57 BPM"}, // the last window, g = 32
        {48000, 2035200, "failed"},    // 42.4 s
        {0, 44100, "failed"},          // no file rate
        {44100, 0, "failed"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(tempoText(tempoFromFileLength(row.rate, row.frames)), row.text)
            << row.rate << " Hz, " << row.frames << " frames";
    // The engine takes the tempo unrounded; the whole-number division counts.
    EXPECT_DOUBLE_EQ(*tempoFromFileLength(44100, 132301), 44100.0 / 33075.0 * 120.0);
    EXPECT_EQ(tempoText(119.994999), "119.99 BPM");
    EXPECT_EQ(tempoText(119.995), "120.00 BPM");
}

TEST(AudioFileDlgLogic, TimeTextRoundsToTheNearestSecond) {
    EXPECT_EQ(timeText(0, 48000.0), "0:00");
    EXPECT_EQ(timeText(9 * 48000, 48000.0), "0:09");
    EXPECT_EQ(timeText(static_cast<uint32_t>(59.6 * 48000), 48000.0), "1:00");
    EXPECT_EQ(timeText(70 * 44100, 44100.0), "1:10");
    EXPECT_EQ(timeText(610 * 44100, 44100.0), "10:10");
    EXPECT_EQ(timeText(1000, 0.0), "0:00");
}

TEST(AudioFileDlgLogic, LengthsInBarsFollowTheTempoAndMinutesTheRate) {
    EXPECT_EQ(lengthFrames(0, 48000.0, 120.0), 96000u); // one bar: two seconds
    EXPECT_EQ(lengthFrames(13, 48000.0, 120.0), 256u * 24000u);
    EXPECT_EQ(lengthFrames(7, 44100.0, 97.0), 32u * 27278u); // 27278.35 frames a beat
    EXPECT_EQ(lengthFrames(14, 44100.9, 120.0), 60u * 44100u);
    EXPECT_EQ(lengthFrames(18, 48000.0, 120.0), 960u * 48000u);
    EXPECT_EQ(lengthFrames(19, 48000.0, 120.0), 96000u) << "another index is one bar";
    EXPECT_EQ(lengthFrames(-1, 48000.0, 120.0), 96000u);
    // A stored or plug-in tempo far below the Tempo window's range.
    EXPECT_EQ(lengthFrames(13, 48000.0, 0.1), UINT32_MAX) << "256 x 28.8M frames";
    EXPECT_EQ(lengthFrames(0, 48000.0, 1e-300), UINT32_MAX);
    EXPECT_STREQ(lengthText(8), "12 Bar");
    EXPECT_STREQ(lengthText(17), "8 min");
    EXPECT_STREQ(optionText(3), "Start/Stop on Play/Stop");
}

TEST(AudioFileDlgLogic, RecorderRequestModesAndLengths) {
    struct Row {
        bool fromPlayer;
        int32_t option;
        bool startOnMidi;
        bool loop;
        int32_t mode;
        uint32_t maxFrames;
    };
    // File: 96000 frames at 48000 Hz; engine 44100 Hz at 120 BPM; "2 Bar".
    const Row rows[] = {
        {false, 0, false, false, 1, 176400},
        {false, 0, true, false, 1, 176400}, // the MIDI start is the player's
        {false, 1, false, false, 2, 176400},
        {true, 0, true, false, 2, 176400},
        {true, 2, false, false, 2, 176400},
        {true, 3, false, false, 2, 88200}, // the file's length at the engine rate
        {true, 3, false, true, 2, 960u * 44100u},
    };
    for (const Row& row : rows) {
        RecordingStart start;
        start.fromPlayer = row.fromPlayer;
        start.recordOption = row.option;
        start.startOnMidi = row.startOnMidi;
        start.loop = row.loop;
        start.fileFrames = 96000;
        start.fileRate = 48000;
        start.maxLengthIndex = 1;
        start.engineRate = 44100.0;
        start.tempo = 120.0;
        const RecorderRequest request = recorderRequest(start);
        EXPECT_EQ(request.mode, row.mode) << "option " << row.option;
        EXPECT_EQ(request.maxFrames, row.maxFrames) << "option " << row.option;
    }
}

TEST(AudioFileDlgLogic, FileEndIsMeasuredInEngineFrames) {
    EXPECT_EQ(fileLengthAtEngineRate(44100, 44100, 48000.0), 48000u);
    EXPECT_EQ(fileLengthAtEngineRate(48000, 48000, 44100.0), 44100u);
    EXPECT_EQ(fileLengthAtEngineRate(1001, 48000, 44100.0), 919u); // truncated
    EXPECT_EQ(fileLengthAtEngineRate(500, 0, 44100.0), 500u);
    EXPECT_EQ(fileLengthAtEngineRate(4000000000u, 8000, 192000.0), UINT32_MAX);
}

TEST(AudioFileDlgLogic, ControlStatesByOption) {
    struct Row {
        bool playing, recording;
        int32_t option;
        bool options, lengths, recordButton;
    };
    const Row rows[] = {
        {false, false, 0, true, true, true},   {true, true, 0, false, true, true},
        {false, false, 1, true, true, true},   {false, false, 2, true, true, false},
        {true, true, 2, false, true, true},    {true, true, 3, false, false, false},
        {false, false, 3, true, false, false}, {false, false, 7, true, true, false},
    };
    for (const Row& row : rows) {
        const ControlStates states = controlStates(row.playing, row.recording, row.option);
        EXPECT_EQ(states.resetPlayer, !row.playing);
        EXPECT_EQ(states.resetRecorder, !row.recording);
        EXPECT_EQ(states.optionsEnabled, row.options) << row.option;
        EXPECT_EQ(states.lengthsEnabled, row.lengths) << row.option;
        EXPECT_EQ(states.recordButtonEnabled, row.recordButton) << row.option;
    }
    EXPECT_EQ(optionCount(true), 2);
    EXPECT_EQ(listSelection(3, optionCount(true)), 0);
    EXPECT_EQ(listSelection(3, optionCount(false)), 3);
    EXPECT_EQ(listSelection(-2, kLengthCount), 0);
}

TEST(AudioFileDlgLogic, OpeningPositionStaysOnScreen) {
    struct Row {
        int32_t x, y, width, expectedX, expectedY;
    };
    const Row rows[] = {
        {300, 900, 450, 0, 50}, {300, 800, 500, 300, 800}, {301, 10, 500, 0, 10},
        {0, 0, 450, 5, 5},      {0, 7, 450, 0, 7},         {-40, -3, 450, -40, -3},
    };
    for (const Row& row : rows) {
        const Position position = openingPosition(row.x, row.y, row.width);
        EXPECT_EQ(position.x, row.expectedX) << row.x << "," << row.y;
        EXPECT_EQ(position.y, row.expectedY) << row.x << "," << row.y;
    }
}

TEST(AudioFileDlgLogic, FolderStepsAndWrapsAround) {
    EXPECT_EQ(folderOf("C:\\a\\b.wav"), "C:\\a\\");
    EXPECT_EQ(folderOf("C:\\a/b.wav"), "C:\\a/");
    EXPECT_EQ(folderOf("b.wav"), "");
    EXPECT_EQ(nameAfterLastBackslash("C:\\a/b.wav"), "a/b.wav");
    EXPECT_EQ(nameAfterLastBackslash("b.wav"), "b.wav");
    for (const char* name : {"a.wav", "b.AIF", "c.aiff", "d.Mp3", "x.y.wav"})
        EXPECT_TRUE(isPlayableName(name)) << name;
    for (const char* name : {"wav", "a.wave", "a.txt", "a.", "a.wav.bak", ".mp"})
        EXPECT_FALSE(isPlayableName(name)) << name;

    const std::vector<std::string> names{"a.wav", "b.wav", "c.wav"};
    EXPECT_EQ(previousCandidate(names, "b.wav"), "a.wav");
    EXPECT_EQ(previousCandidate(names, "a.wav"), "c.wav");
    EXPECT_EQ(previousCandidate(names, "gone.wav"), "c.wav");
    EXPECT_EQ(previousCandidate({}, "a.wav"), std::nullopt);
    EXPECT_EQ(nextCandidates(names, "a.wav"),
              (std::vector<std::string>{"b.wav", "c.wav", "a.wav"}));
    EXPECT_EQ(nextCandidates(names, "c.wav"), (std::vector<std::string>{"a.wav"}));
    EXPECT_EQ(nextCandidates(names, "gone.wav"), (std::vector<std::string>{"a.wav"}));
    EXPECT_EQ(nextCandidates({"a.wav"}, "a.wav"), (std::vector<std::string>{"a.wav"}));
    EXPECT_TRUE(nextCandidates({}, "a.wav").empty());
}

} // namespace

TEST(AudioFileDlgLogic, TheTakesTemporaryNameKeepsTheTypeAndFitsThePathLimit) {
    const std::string longFolder = "C:\\" + std::string(240, 'f') + "\\";
    const struct {
        std::string path;
        size_t longest;
        std::string expected;
    } rows[] = {
        {"C:\\takes\\song.wav", kLongestPath, "C:\\takes\\song.wav~v"},
        {"C:\\takes\\song.aif", 19, "C:\\takes\\song.aif~f"},
        // A name too long for the suffix: a short one in the same folder.
        {"C:\\takes\\song.aif", 18, "C:\\takes\\~f"},
        {longFolder + std::string(15, 'n') + ".wav", kLongestPath, longFolder + "~v"},
        // The chosen file is that short name itself, or no name fits.
        {"C:\\takes\\~v", 11, ""},
        {"C:\\takes\\a", 10, ""},
        {"", kLongestPath, ""},
    };
    for (const auto& row : rows) {
        const std::string temporary = temporaryTakePath(row.path, row.longest);
        EXPECT_EQ(temporary, row.expected) << row.path;
        EXPECT_LE(temporary.size(), row.longest) << row.path;
    }
}
