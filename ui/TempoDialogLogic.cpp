#include "TempoDialogLogic.h"

#include "MidiSettingsLogic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tempoDialog {

namespace {

constexpr double kLowestTypedTempo = static_cast<double>(44.9f);
constexpr double kHighestTypedTempo = static_cast<double>(250.1f);
constexpr double kSpinStep = static_cast<double>(-0.01f);
constexpr int64_t kSeriesPauseMs = 1334;

} // namespace

double roundToHundredths(double bpm) {
    return std::floor(bpm * 100.0 + 0.5) / 100.0;
}

double roundToTenths(double bpm) {
    return std::floor(bpm * 10.0 + 0.5) / 10.0;
}

double clampTempo(double bpm) {
    return std::clamp(bpm, kSlowestTempo, kFastestTempo);
}

bool acceptsTypedTempo(double bpm) {
    return bpm > kLowestTypedTempo && bpm < kHighestTypedTempo;
}

double spinTempo(double bpm, int delta) {
    return roundToHundredths(clampTempo(bpm + delta * kSpinStep));
}

DragMode dragModeForPress(double bpm, int x) {
    const bool wholeSteps = bpm >= 100.0 ? x <= 20 : x < 15;
    return wholeSteps ? DragMode::wholeSteps : DragMode::tenthSteps;
}

// Screen y grows downwards: a mouse lower than before slows the tempo.
double dragTempo(double bpm, DragMode mode, int lastY, int y) {
    const double step = mode == DragMode::wholeSteps ? 1.0 : 0.1;
    if (y > lastY)
        bpm -= step;
    else if (y < lastY)
        bpm += step;
    return roundToTenths(clampTempo(bpm));
}

std::string learnedMessageText(uint8_t status, uint8_t data1) {
    if (status == 0xB0)
        return "CC " + std::to_string(data1);
    return noteName(data1);
}

std::string noteName(int note) {
    return midiNoteName(std::clamp(note, 0, 127));
}

// The first click has no interval; an interval that cannot be measured (a
// counter running backwards, no frequency) starts a new series as a long
// pause does. Clicks less than a millisecond apart give a mean of 0, the
// fastest tempo.
std::optional<double> TapSeries::click(int64_t counter) {
    const std::optional<int64_t> previous = lastTapTime;
    lastTapTime = counter;
    int64_t intervalMs = kSeriesPauseMs;
    if (previous && frequency > 0 && counter >= *previous &&
        counter - *previous <= std::numeric_limits<int64_t>::max() / 1000)
        intervalMs = (counter - *previous) * 1000 / frequency;
    if (intervalMs >= kSeriesPauseMs) {
        tapTotalMs = 0;
        tapCount = 0;
        return std::nullopt;
    }
    tapTotalMs += static_cast<uint32_t>(intervalMs);
    tapCount += 1;
    const uint32_t meanMs = tapTotalMs / static_cast<uint32_t>(tapCount);
    const double bpm = meanMs == 0 ? kFastestTempo : 60000.0 / meanMs;
    return roundToHundredths(clampTempo(bpm));
}

} // namespace tempoDialog
