#include "TempoDialogLogic.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tempoDialog;

constexpr int64_t kFrequency = 10'000'000; // ticks per second, as Windows reports

// The tempo after each click of a series whose clicks are `gapsMs` apart,
// starting from an arbitrary counter; -1 where a click only starts a series.
std::vector<double> tapTempos(const std::vector<int64_t>& gapsMs, int64_t start = 123456789) {
    TapSeries series(kFrequency);
    std::vector<double> tempos{series.click(start).value_or(-1.0)};
    int64_t counter = start;
    for (int64_t gap : gapsMs) {
        counter += gap * (kFrequency / 1000);
        tempos.push_back(series.click(counter).value_or(-1.0));
    }
    return tempos;
}

TEST(TempoDialogTap, MeanOfTheWholeSeriesInWholeMilliseconds) {
    struct Row {
        std::vector<int64_t> gapsMs;
        std::vector<double> tempos;
    } rows[] = {
        {{500, 500, 500}, {-1, 120.0, 120.0, 120.0}},
        {{300, 300}, {-1, 200.0, 200.0}},
        {{100, 100}, {-1, 250.0, 250.0}},                // clamped
        {{333, 333, 334}, {-1, 180.18, 180.18, 180.18}}, // 1000 / 3 = 333 ms
        {{1333, 1333}, {-1, 45.01, 45.01}},              // the slowest interval extends
        {{500, 1334, 500}, {-1, 120.0, -1, 120.0}},      // 1334 ms restarts
        {{400, 600}, {-1, 150.0, 120.0}},                // not the last interval alone
        {{0, 0}, {-1, 250.0, 250.0}},                    // less than 1 ms apart
        {{1400}, {-1, -1}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(tapTempos(row.gapsMs), row.tempos) << testing::PrintToString(row.gapsMs);
}

TEST(TempoDialogTap, FirstClickStartsASeriesWhateverTheCounter) {
    // A counter that, taken from zero, would give a short interval.
    EXPECT_EQ(tapTempos({500}, 0), (std::vector<double>{-1, 120.0}));
    EXPECT_EQ(tapTempos({500}, kFrequency / 1000), (std::vector<double>{-1, 120.0}));
    TapSeries series(kFrequency);
    series.click(5 * kFrequency);
    EXPECT_FALSE(series.click(4 * kFrequency)); // backwards: a new series
    EXPECT_EQ(series.count(), 0);
    EXPECT_EQ(series.click(4 * kFrequency + kFrequency / 2), 120.0);
    TapSeries noFrequency(0);
    noFrequency.click(1);
    EXPECT_FALSE(noFrequency.click(2));
}

TEST(TempoDialogTap, SeriesCountersFollowTheClicks) {
    TapSeries series(kFrequency);
    series.click(kFrequency);
    series.click(kFrequency + kFrequency / 2);
    series.click(2 * kFrequency + kFrequency / 10);
    EXPECT_EQ(series.totalMs(), 1100u);
    EXPECT_EQ(series.count(), 2);
    EXPECT_EQ(series.click(9 * kFrequency), std::nullopt);
    EXPECT_EQ(series.totalMs(), 0u);
    EXPECT_EQ(series.count(), 0);
}

TEST(TempoDialogRanges, TypedTempoLimitsAreTheSinglePrecisionOnes) {
    struct Row {
        double bpm;
        bool accepted;
    } rows[] = {
        {44.9, false}, // below its single-precision neighbour 44.900001525878906
        {44.900001525878906, false},
        {44.9000016, true},
        {45.0, true},
        {250.0, true},
        {250.1, true},
        {250.10000610351562, false},
        {300.0, false},
        {-120.0, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(acceptsTypedTempo(row.bpm), row.accepted) << row.bpm;
}

TEST(TempoDialogRanges, SpinStepsByHundredthsWithinTheRange) {
    struct Row {
        double bpm;
        int delta;
        double expected;
    } rows[] = {
        {120.0, -1, 120.01}, {120.0, 1, 119.99},   {120.0, -10, 120.1}, {250.0, -1, 250.0},
        {45.0, 1, 45.0},     {249.995, -1, 250.0}, {99.99, -1, 100.0},  {120.004, 0, 120.0},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(spinTempo(row.bpm, row.delta), row.expected)
            << row.bpm << " " << row.delta;
}

TEST(TempoDialogRanges, Rounding) {
    EXPECT_EQ(roundToHundredths(120.555), 120.56);
    EXPECT_EQ(roundToHundredths(120.554), 120.55);
    EXPECT_EQ(roundToTenths(119.85), 119.9);
    EXPECT_EQ(roundToTenths(119.84), 119.8);
    EXPECT_EQ(clampTempo(20.0), 45.0);
    EXPECT_EQ(clampTempo(1000.0), 250.0);
}

TEST(TempoDialogDrag, PressPositionChoosesTheStep) {
    struct Row {
        double bpm;
        int x;
        DragMode mode;
    } rows[] = {
        {100.0, 20, DragMode::wholeSteps}, {100.0, 21, DragMode::tenthSteps},
        {99.9, 14, DragMode::wholeSteps},  {99.9, 15, DragMode::tenthSteps},
        {120.0, 0, DragMode::wholeSteps},  {45.0, -3, DragMode::wholeSteps},
    };
    for (const Row& row : rows)
        EXPECT_EQ(dragModeForPress(row.bpm, row.x), row.mode) << row.bpm << " " << row.x;
}

TEST(TempoDialogDrag, EachMoveChangesByOneStepAtMost) {
    struct Row {
        double bpm;
        DragMode mode;
        int lastY;
        int y;
        double expected;
    } rows[] = {
        {120.0, DragMode::wholeSteps, 50, 49, 121.0}, // upwards speeds up
        {120.0, DragMode::wholeSteps, 50, 0, 121.0},  // however far
        {120.0, DragMode::tenthSteps, 50, 51, 119.9}, {120.0, DragMode::tenthSteps, 50, 50, 120.0},
        {120.04, DragMode::tenthSteps, 5, 5, 120.0},  {249.5, DragMode::wholeSteps, 5, 4, 250.0},
        {45.05, DragMode::tenthSteps, 5, 6, 45.0},    {119.9, DragMode::tenthSteps, 5, 4, 120.0},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(dragTempo(row.bpm, row.mode, row.lastY, row.y), row.expected)
            << row.bpm << " " << row.lastY << "->" << row.y;
}

TEST(TempoDialogLearnedText, ControllersAndNoteNames) {
    struct Row {
        uint8_t status;
        uint8_t data1;
        const char* text;
    } rows[] = {
        {0xB0, 64, "CC 64"}, {0xB0, 0, "CC 0"}, {0x90, 62, "D3"},   {0x90, 60, "C3"},
        {0x90, 14, "D-1"},   {0x90, 26, "D0"},  {0x90, 13, "C#-1"}, {0x90, 0, "C-2"},
        {0x80, 127, "G8"},   {0xE0, 70, "A#3"}, {0xC0, 5, "F-2"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(learnedMessageText(row.status, row.data1), row.text)
            << int(row.status) << " " << int(row.data1);
}

} // namespace
