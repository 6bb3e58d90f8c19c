#include "DemoEditor.h"
#include "EditorLayout.h"

#include <gtest/gtest.h>

using demo::Box;
using demo::EditorLayout;

namespace {

bool inside(const Box& inner, const Box& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

bool overlap(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class DemoLayout : public testing::TestWithParam<EditorLayout::Size> {};

TEST_P(DemoLayout, KeysTileTheStripAndTheGrowBoxStaysClearOfThem) {
    EditorLayout layout;
    layout.setSize(GetParam());
    const Box editor{0, 0, layout.width(), layout.height()};
    EXPECT_TRUE(inside(layout.keyboard(), editor));
    EXPECT_TRUE(inside(layout.growBox(), editor));
    EXPECT_FALSE(overlap(layout.growBox(), layout.keyboard()));
    EXPECT_FALSE(overlap(layout.growBox(), layout.title()));
    int nextWhiteLeft = layout.keyboard().left;
    for (int note = layout.firstNote(); note <= layout.lastNote(); ++note) {
        const Box key = layout.key(note);
        ASSERT_FALSE(key.empty()) << note;
        EXPECT_TRUE(inside(key, layout.keyboard())) << note;
        if (EditorLayout::isBlackKey(note)) {
            EXPECT_TRUE(key.contains(nextWhiteLeft, key.top)) << note; // over the edge below
            continue;
        }
        EXPECT_EQ(key.left, nextWhiteLeft) << note;
        nextWhiteLeft = key.right;
    }
    EXPECT_EQ(nextWhiteLeft, layout.keyboard().right);
    EXPECT_TRUE(layout.key(layout.firstNote() - 1).empty());
    EXPECT_TRUE(layout.key(layout.lastNote() + 1).empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DemoLayout,
                         testing::Values(EditorLayout::Size::compact, EditorLayout::Size::wide));

TEST(DemoLayout, TheWideEditorIsLargerAndShowsMoreNotes) {
    EditorLayout compact;
    EditorLayout wide;
    wide.toggle();
    EXPECT_GT(wide.width(), compact.width());
    EXPECT_GT(wide.height(), compact.height());
    EXPECT_LT(wide.firstNote(), compact.firstNote());
    EXPECT_GT(wide.lastNote(), compact.lastNote());
}

struct SizeLog {
    int calls = 0;
    static void record(int, int, void* user) { static_cast<SizeLog*>(user)->calls++; }
};

TEST(DemoEditorSize, FollowsTheToggleAndAsksTheHostOnlyWhenOpen) {
    demo::DemoSynth synth;
    SizeLog log;
    demo::DemoEditor editor(synth, SizeLog::record, &log);
    const ERect before = *editor.rect();
    EXPECT_EQ(before.right, editor.layout().width());
    EXPECT_EQ(before.bottom, editor.layout().height());
    editor.toggleSize();
    EXPECT_GT(editor.rect()->right, before.right);
    EXPECT_GT(editor.rect()->bottom, before.bottom);
    EXPECT_EQ(log.calls, 0); // closed: no window to follow
    int notAWindow = 0;
    EXPECT_FALSE(editor.open(&notAWindow));
    EXPECT_FALSE(editor.open(nullptr));
    EXPECT_FALSE(editor.isOpen());
}

TEST(DemoEditorText, DescribesEveryParameterWithItsUnit) {
    demo::DemoSynth synth;
    synth.parameters().set(demo::kVolume, 1.0f);
    demo::DemoEditor editor(synth, nullptr, nullptr);
    char line[256];
    editor.describeParameters(line, sizeof(line));
    EXPECT_STREQ(line,
                 "Volume 0.0 dB  Attack 5 ms  Release 52 ms  Waveform Saw  Detune 10.0 cents");
    char shortLine[10];
    editor.describeParameters(shortLine, sizeof(shortLine));
    EXPECT_STREQ(shortLine, "Volume 0.");
}

} // namespace
