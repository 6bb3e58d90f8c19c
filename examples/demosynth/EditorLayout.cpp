#include "EditorLayout.h"

namespace demo {

namespace {

constexpr int kMargin = 8;
constexpr int kLineHeight = 18;
constexpr int kGrowBoxSize = 24;
constexpr int kWhiteKeyWidth = 14;
constexpr int kBlackKeyWidth = 9;
constexpr int kCompactKeyHeight = 100;
constexpr int kWideKeyHeight = 140;
constexpr int kCompactFirstNote = 36; // C2 to B5
constexpr int kWideFirstNote = 24;    // C1 to B7
constexpr int kCompactOctaves = 4;
constexpr int kWideOctaves = 7;

// White keys below each pitch class within its octave.
constexpr int kWhitesBelow[12] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};

} // namespace

int EditorLayout::firstNote() const {
    return current == Size::compact ? kCompactFirstNote : kWideFirstNote;
}

int EditorLayout::lastNote() const {
    return firstNote() + 12 * (current == Size::compact ? kCompactOctaves : kWideOctaves) - 1;
}

int EditorLayout::keyHeight() const {
    return current == Size::compact ? kCompactKeyHeight : kWideKeyHeight;
}

int EditorLayout::whiteKeysBefore(int note) const {
    const int octaves = note / 12 - firstNote() / 12;
    return octaves * 7 + kWhitesBelow[note % 12];
}

int EditorLayout::width() const {
    return 2 * kMargin + whiteKeysBefore(lastNote() + 1) * kWhiteKeyWidth;
}

int EditorLayout::height() const {
    return keyboard().bottom + kMargin;
}

Box EditorLayout::title() const {
    return {kMargin, kMargin, growBox().left - kMargin, kMargin + kLineHeight};
}

Box EditorLayout::parameterLine() const {
    const Box above = title();
    return {kMargin, above.bottom, width() - kMargin, above.bottom + kLineHeight};
}

Box EditorLayout::keyboard() const {
    const int top = parameterLine().bottom + kMargin;
    return {kMargin, top, width() - kMargin, top + keyHeight()};
}

Box EditorLayout::growBox() const {
    const int right = width() - kMargin;
    return {right - kGrowBoxSize, kMargin, right, kMargin + kGrowBoxSize};
}

bool EditorLayout::isBlackKey(int note) {
    const int pitchClass = ((note % 12) + 12) % 12;
    return pitchClass == 1 || pitchClass == 3 || pitchClass == 6 || pitchClass == 8 ||
           pitchClass == 10;
}

Box EditorLayout::key(int note) const {
    if (note < firstNote() || note > lastNote())
        return {};
    const Box strip = keyboard();
    const int edge = strip.left + whiteKeysBefore(note) * kWhiteKeyWidth;
    if (isBlackKey(note)) {
        const int bottom = strip.top + keyHeight() * 3 / 5;
        return {edge - kBlackKeyWidth / 2, strip.top, edge - kBlackKeyWidth / 2 + kBlackKeyWidth,
                bottom};
    }
    return {edge, strip.top, edge + kWhiteKeyWidth, strip.bottom};
}

} // namespace demo
