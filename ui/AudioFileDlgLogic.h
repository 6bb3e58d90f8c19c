#pragma once

// The Audio Player / Recorder window's decisions, free of Windows: tempo
// from a file's length, the time texts, recording lengths, which controls
// are enabled, the window's opening position and stepping through a folder.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace playerDialog {

// The file taken to last 2, 4, 8 ... 64 beats; none when its length fits no
// window.
std::optional<double> tempoFromFileLength(int32_t fileRate, uint32_t fileFrames);
// "%.2f BPM" rounded half up to two decimals, or "failed" without a tempo.
std::string tempoText(std::optional<double> bpm);

// "m:ss" for frames at the engine rate, to the nearest second.
std::string timeText(uint32_t frames, double engineRate);

constexpr int kLengthCount = 19;
constexpr int kOptionCount = 4;
constexpr int kOptionStartOnPlay = 2;
constexpr int kOptionFollowPlayer = 3;
const char* lengthText(int index);
const char* optionText(int index);
// Instruments have no player, so the options that follow it are left out.
int optionCount(bool isInstrument);
// The list entry to select for a stored index: itself when listed, else 0.
int listSelection(int32_t stored, int count);

// Frames of a recording length at the engine rate and tempo.
uint32_t lengthFrames(int index, double engineRate, double tempo);

struct RecordingStart {
    bool fromPlayer = false;
    int32_t recordOption = 0;
    bool startOnMidi = false;
    bool loop = false;
    uint32_t fileFrames = 0;
    int32_t fileRate = 0;
    int32_t maxLengthIndex = 0;
    double engineRate = 0.0;
    double tempo = 0.0;
};
struct RecorderRequest {
    int32_t mode = 0; // 1 records at once, 2 waits for the first MIDI event
    uint32_t maxFrames = 0;
};
RecorderRequest recorderRequest(const RecordingStart& start);

// A file of `fileFrames` at `fileRate` lasts this many frames at the engine
// rate; the player's end is judged by it.
uint32_t fileLengthAtEngineRate(uint32_t fileFrames, int32_t fileRate, double engineRate);

struct ControlStates {
    bool resetPlayer = false;   // "Play" and "0:00"
    bool resetRecorder = false; // "Start Recording" and "0:00 / max:"
    bool optionsEnabled = false;
    bool lengthsEnabled = false;
    bool recordButtonEnabled = false;
};
ControlStates controlStates(bool playing, bool recording, int32_t recordOption);

struct Position {
    int32_t x = 0;
    int32_t y = 0;
};
// Where the window opens for a stored position, so it stays reachable.
Position openingPosition(int32_t storedX, int32_t storedY, int32_t windowWidth);

// Stepping through a folder. `folder` keeps its last separator.
std::string folderOf(const std::string& path);
// The text after the last backslash; the whole path without one.
std::string nameAfterLastBackslash(const std::string& path);
bool isPlayableName(const std::string& name);
// Candidates are the playable names in the order the folder listed them.
// The one name "<" loads, none without candidates.
std::optional<std::string> previousCandidate(const std::vector<std::string>& candidates,
                                             const std::string& currentName);
// The names ">" tries in turn until one loads.
std::vector<std::string> nextCandidates(const std::vector<std::string>& candidates,
                                        const std::string& currentName);

// The name a take is written under before it replaces `path`: beside it,
// ending in the same character (which picks the file type), within
// `longestPath` characters. Empty when no such name differs from `path`;
// the take is then written to `path` itself.
constexpr size_t kLongestPath = 259; // the system's path limit less the terminator
std::string temporaryTakePath(const std::string& path, size_t longestPath = kLongestPath);

} // namespace playerDialog
