#pragma once

// The Tempo window's decisions that need no window: the tempo's range and
// rounding for each way of changing it, the tap series, the drag steps and
// the text for a learned tap trigger.

#include <cstdint>
#include <optional>
#include <string>

namespace tempoDialog {

constexpr double kSlowestTempo = 45.0;
constexpr double kFastestTempo = 250.0;
constexpr const char* kNothingLearnedText = "not Set";
constexpr const char* kLearnText = "Learn Tap";
constexpr const char* kStopLearningText = "Stop";

// floor(x * 100 + 0.5) / 100 and floor(x * 10 + 0.5) / 10.
double roundToHundredths(double bpm);
double roundToTenths(double bpm);
double clampTempo(double bpm);

// A typed (or closing) tempo the engine and the settings take: above 44.9 and
// below 250.1, both as single-precision numbers.
bool acceptsTypedTempo(double bpm);
// The spin control's change: `delta` arrow steps of -0.01 each (the upper
// arrow reports -1), clamped and rounded to 0.01.
double spinTempo(double bpm, int delta);

// Dragging over the tempo box: the step a press at client x chooses, and the
// tempo after one mouse move.
enum class DragMode { none = 0, wholeSteps = 1, tenthSteps = 2 };
DragMode dragModeForPress(double bpm, int x);
double dragTempo(double bpm, DragMode mode, int lastY, int y);

// "CC 64" for a control change (status 0xB0), else the note name of data1.
std::string learnedMessageText(uint8_t status, uint8_t data1);
// "C3" for 60, "C#-1" for 13, "C-2" for 0: octave data1 / 12 - 2.
std::string noteName(int note);

// Clicks on "Tap", timed by a counter of `frequency` ticks per second. The
// tempo is 60000 over the mean of every interval since the series began in
// whole milliseconds; a pause of 1334 ms or more starts a new series.
class TapSeries {
public:
    explicit TapSeries(int64_t frequency) : frequency(frequency) {}
    // The tempo this click sets, none when it only starts a series.
    std::optional<double> click(int64_t counter);

    uint32_t totalMs() const { return tapTotalMs; }
    int32_t count() const { return tapCount; }

private:
    int64_t frequency;
    std::optional<int64_t> lastTapTime;
    uint32_t tapTotalMs = 0;
    int32_t tapCount = 0;
};

} // namespace tempoDialog
