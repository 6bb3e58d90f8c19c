#include "AudioFileDlgLogic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace playerDialog {

std::optional<double> tempoFromFileLength(int32_t fileRate, uint32_t fileFrames) {
    if (fileRate <= 0 || fileFrames == 0)
        return std::nullopt;
    const double rate = fileRate;
    const double frames = fileFrames;
    for (uint32_t beatPairs = 1; beatPairs <= 32; beatPairs *= 2) {
        if (beatPairs * 0.675 * rate < frames && frames < beatPairs * 1.325 * rate)
            return rate / static_cast<double>(fileFrames / beatPairs) * 120.0;
    }
    return std::nullopt;
}

std::string tempoText(std::optional<double> bpm) {
    if (!bpm)
        return "failed";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f BPM", std::floor(*bpm * 100.0 + 0.5) / 100.0);
    return text;
}

std::string timeText(uint32_t frames, double engineRate) {
    const auto seconds =
        engineRate > 0.0 ? static_cast<uint32_t>(frames / engineRate + 0.5) : uint32_t{0};
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
    return text;
}

namespace {

struct Length {
    const char* text;
    uint32_t beats;   // bar lengths, four beats a bar
    uint32_t seconds; // minute lengths
};

constexpr Length kLengths[kLengthCount] = {
    {"1 Bar", 4, 0},    {"2 Bar", 8, 0},    {"3 Bar", 12, 0},   {"4 Bar", 16, 0},
    {"5 Bar", 20, 0},   {"6 Bar", 24, 0},   {"7 Bar", 28, 0},   {"8 Bar", 32, 0},
    {"12 Bar", 48, 0},  {"16 Bar", 64, 0},  {"24 Bar", 96, 0},  {"32 Bar", 128, 0},
    {"48 Bar", 192, 0}, {"64 Bar", 256, 0}, {"1 min", 0, 60},   {"2 min", 0, 120},
    {"4 min", 0, 240},  {"8 min", 0, 480},  {"16 min", 0, 960},
};

constexpr const char* kOptions[kOptionCount] = {
    "Manually",
    "Start Recording on Midi Event",
    "Start Recording on Play",
    "Start/Stop on Play/Stop",
};

constexpr uint32_t kLoopedRecordSeconds = 960;

} // namespace

const char* lengthText(int index) {
    return index >= 0 && index < kLengthCount ? kLengths[index].text : "";
}

const char* optionText(int index) {
    return index >= 0 && index < kOptionCount ? kOptions[index] : "";
}

int optionCount(bool isInstrument) {
    return isInstrument ? 2 : kOptionCount;
}

int listSelection(int32_t stored, int count) {
    return stored >= 0 && stored < count ? stored : 0;
}

// A tempo from the registry or from the plug-in can be far below the Tempo
// window's range: a length past 32 bits is the most a take can ask for, not
// a wrapped count (or, for a beat past 32 bits, no defined value at all).
uint32_t saturatedFrames(double frames) {
    return frames >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(frames);
}

uint32_t lengthFrames(int index, double engineRate, double tempo) {
    const auto rate = static_cast<uint32_t>(engineRate);
    const Length& length = kLengths[index >= 0 && index < kLengthCount ? index : 0];
    if (length.seconds != 0)
        return length.seconds * rate;
    const double framesPerBeat = std::floor(engineRate / (tempo * 0.016666666666666666));
    return saturatedFrames(length.beats * framesPerBeat);
}

// Under "Start/Stop on Play/Stop" the take lasts as long as the file sounds
// at the engine rate, or 960 seconds of a looped file.
RecorderRequest recorderRequest(const RecordingStart& start) {
    RecorderRequest request;
    const bool armedByPlayer =
        start.fromPlayer && (start.startOnMidi || start.recordOption == kOptionStartOnPlay ||
                             start.recordOption == kOptionFollowPlayer);
    request.mode = start.recordOption == 1 || armedByPlayer ? 2 : 1;
    if (start.recordOption != kOptionFollowPlayer)
        request.maxFrames = lengthFrames(start.maxLengthIndex, start.engineRate, start.tempo);
    else if (start.loop)
        request.maxFrames = kLoopedRecordSeconds * static_cast<uint32_t>(start.engineRate);
    else if (start.fromPlayer)
        request.maxFrames =
            fileLengthAtEngineRate(start.fileFrames, start.fileRate, start.engineRate);
    else
        request.maxFrames = start.fileFrames;
    return request;
}

uint32_t fileLengthAtEngineRate(uint32_t fileFrames, int32_t fileRate, double engineRate) {
    if (fileRate <= 0)
        return fileFrames;
    return saturatedFrames(std::floor(double(fileFrames) * engineRate / double(fileRate)));
}

ControlStates controlStates(bool playing, bool recording, int32_t recordOption) {
    ControlStates states;
    states.resetPlayer = !playing;
    states.resetRecorder = !recording;
    states.optionsEnabled = !recording;
    states.lengthsEnabled = recordOption != kOptionFollowPlayer;
    states.recordButtonEnabled =
        recordOption == 0 || recordOption == 1 || (recordOption == kOptionStartOnPlay && recording);
    return states;
}

Position openingPosition(int32_t storedX, int32_t storedY, int32_t windowWidth) {
    if (storedX == 0 && storedY == 0)
        return {5, 5};
    Position position{storedX, storedY};
    if (position.y > 800)
        position.y = 50;
    if (position.x > windowWidth - 200)
        position.x = 0;
    return position;
}

std::string folderOf(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string nameAfterLastBackslash(const std::string& path) {
    const size_t separator = path.rfind('\\');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string temporaryTakePath(const std::string& path, size_t longestPath) {
    if (path.empty())
        return {};
    const std::string suffix = std::string("~") + path.back();
    if (path.size() + suffix.size() <= longestPath)
        return path + suffix;
    // Too long for the name plus a suffix: a short name in the same folder.
    const std::string beside = folderOf(path) + suffix;
    return beside.size() <= longestPath && beside != path ? beside : std::string();
}

bool isPlayableName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return extension == "wav" || extension == "aif" || extension == "aiff" || extension == "mp3";
}

std::optional<std::string> previousCandidate(const std::vector<std::string>& candidates,
                                             const std::string& currentName) {
    if (candidates.empty())
        return std::nullopt;
    auto current = std::find(candidates.begin(), candidates.end(), currentName);
    if (current == candidates.begin() || current == candidates.end())
        return candidates.back();
    return *(current - 1);
}

std::vector<std::string> nextCandidates(const std::vector<std::string>& candidates,
                                        const std::string& currentName) {
    if (candidates.empty())
        return {};
    auto current = std::find(candidates.begin(), candidates.end(), currentName);
    std::vector<std::string> order;
    if (current != candidates.end())
        order.assign(current + 1, candidates.end());
    order.push_back(candidates.front());
    return order;
}

} // namespace playerDialog
