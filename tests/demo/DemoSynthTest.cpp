#include "DemoSynth.h"
#include "DemoEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using demo::DemoSynth;
using demo::kVoiceCount;

namespace {

constexpr double kRate = 48000.0;

// The synth with a stereo output and a record of everything it echoed.
struct Rig {
    Rig() {
        synth.setSampleRate(kRate);
        synth.setEchoSender(
            [](VstEvents* events, void* user) {
                auto* rig = static_cast<Rig*>(user);
                rig->echoCalls++;
                for (VstInt32 i = 0; i < events->numEvents; ++i)
                    rig->echoed.push_back(*reinterpret_cast<VstMidiEvent*>(events->events[i]));
            },
            this);
    }

    void setWaveform(demo::Waveform waveform) {
        synth.parameters().set(demo::kWaveform, (static_cast<float>(waveform) + 0.5f) / 4.0f);
    }

    // One block; the output is appended to `left` and `right`.
    void play(std::vector<VstMidiEvent> events, int frames = 512) {
        EventBlock block(std::move(events));
        synth.receiveEvents(block.get());
        std::vector<float> l(static_cast<size_t>(frames)), r(static_cast<size_t>(frames));
        float* outputs[2] = {l.data(), r.data()};
        synth.process(outputs, 2, frames);
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
    }

    void playFor(double seconds) {
        for (int done = 0; done < seconds * kRate; done += 512)
            play({});
    }

    int heldCount() const {
        int count = 0;
        for (int note = 0; note < 128; ++note)
            count += synth.heldNotes().has(note) ? 1 : 0;
        return count;
    }

    DemoSynth synth;
    std::vector<float> left, right;
    std::vector<VstMidiEvent> echoed;
    int echoCalls = 0;
};

float largestStep(const std::vector<float>& samples) {
    float largest = 0.0f;
    for (size_t i = 1; i < samples.size(); ++i)
        largest = std::max(largest, std::fabs(samples[i] - samples[i - 1]));
    return largest;
}

TEST(DemoVoices, EachNoteTakesAFreeVoiceUntilThePoolIsFull) {
    Rig rig;
    for (int i = 0; i < kVoiceCount; ++i)
        rig.play({noteOn(60 + i)});
    EXPECT_EQ(rig.synth.soundingVoiceCount(), kVoiceCount);
    EXPECT_EQ(rig.heldCount(), kVoiceCount);
}

TEST(DemoVoices, AFullPoolStealsTheOldestHeldNote) {
    Rig rig;
    for (int i = 0; i < kVoiceCount; ++i)
        rig.play({noteOn(60 + i)});
    rig.play({noteOn(90)});
    EXPECT_FALSE(rig.synth.heldNotes().has(60));
    EXPECT_TRUE(rig.synth.heldNotes().has(61));
    EXPECT_TRUE(rig.synth.heldNotes().has(90));
    EXPECT_EQ(rig.synth.soundingVoiceCount(), kVoiceCount);
}

TEST(DemoVoices, AFullPoolStealsAReleasedVoiceBeforeAHeldOne) {
    Rig rig;
    for (int i = 0; i < kVoiceCount; ++i)
        rig.play({noteOn(60 + i)});
    rig.play({noteOff(63)});
    rig.play({noteOn(90)});
    EXPECT_TRUE(rig.synth.heldNotes().has(60));
    EXPECT_TRUE(rig.synth.heldNotes().has(90));
    EXPECT_EQ(rig.heldCount(), kVoiceCount);
}

TEST(DemoVoices, ARepeatedNoteKeepsItsVoice) {
    Rig rig;
    rig.play({noteOn(60)});
    rig.play({noteOff(60)});
    rig.play({noteOn(60)});
    EXPECT_EQ(rig.synth.soundingVoiceCount(), 1);
}

struct ReleaseCase {
    const char* name;
    VstMidiEvent release;
    bool released;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) {
    *os << c.name;
}

class DemoNoteOff : public testing::TestWithParam<ReleaseCase> {};

TEST_P(DemoNoteOff, ReleasesOnlyItsNoteAndFadesToExactSilence) {
    Rig rig;
    rig.synth.parameters().set(demo::kRelease, 0.0f); // 5 ms
    rig.play({noteOn(60, 0, 100, 2)});
    rig.play({GetParam().release});
    EXPECT_EQ(rig.synth.heldNotes().has(60), !GetParam().released);
    rig.playFor(0.05);
    const auto tail = std::vector<float>(rig.left.end() - 256, rig.left.end());
    const bool silent = std::all_of(tail.begin(), tail.end(), [](float s) { return s == 0.0f; });
    EXPECT_EQ(silent, GetParam().released);
    EXPECT_EQ(rig.synth.soundingVoiceCount(), GetParam().released ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DemoNoteOff,
    testing::Values(ReleaseCase{"NoteOff", noteOff(60, 0, 2), true},
                    ReleaseCase{"NoteOnVelocityZero", noteOn(60, 0, 0, 2), true},
                    ReleaseCase{"AllNotesOff", midiEvent(0xB2, 123, 0), true},
                    ReleaseCase{"AllSoundOff", midiEvent(0xB5, 120, 0), true},
                    ReleaseCase{"OtherChannel", noteOff(60, 0, 3), false},
                    ReleaseCase{"OtherNote", noteOff(61, 0, 2), false},
                    ReleaseCase{"Controller", midiEvent(0xB2, 7, 0), false}),
    [](const testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

TEST(DemoSound, ANoteStartsAtItsFrame) {
    Rig rig;
    rig.play({noteOn(69, 300)});
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(rig.left[static_cast<size_t>(i)], 0.0f) << "frame " << i;
    EXPECT_NE(rig.left[310], 0.0f);
}

// The triangle starts at its peak: without a ramp a note would start or end
// with a jump of the voice's whole level.
struct ClickCase {
    const char* name;
    std::vector<std::vector<VstMidiEvent>> blocks;
    float volumeAfterFirstBlock;
};

void PrintTo(const ClickCase& c, std::ostream* os) {
    *os << c.name;
}

class DemoClicks : public testing::TestWithParam<ClickCase> {};

TEST_P(DemoClicks, NoJumpBetweenSamplesAndNoSubnormals) {
    Rig rig;
    rig.setWaveform(demo::Waveform::triangle);
    rig.synth.parameters().set(demo::kAttack, 0.0f);
    rig.synth.parameters().set(demo::kRelease, 0.0f);
    rig.synth.parameters().set(demo::kVolume, 1.0f);
    for (size_t i = 0; i < GetParam().blocks.size(); ++i) {
        rig.play(GetParam().blocks[i]);
        if (i == 0)
            rig.synth.parameters().set(demo::kVolume, GetParam().volumeAfterFirstBlock);
    }
    rig.playFor(0.05);
    for (const auto* channel : {&rig.left, &rig.right}) {
        EXPECT_LT(largestStep(*channel), 0.25f * demo::kVoicePeak);
        for (float sample : *channel)
            ASSERT_NE(std::fpclassify(sample), FP_SUBNORMAL);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transitions, DemoClicks,
    testing::Values(ClickCase{"NoteStartAndEnd", {{noteOn(36, 100)}, {}, {noteOff(36, 50)}}, 1.0f},
                    ClickCase{"StolenVoice",
                              {{noteOn(36), noteOn(38), noteOn(40), noteOn(41), noteOn(43),
                                noteOn(45), noteOn(47), noteOn(48)},
                               {},
                               {noteOn(50, 200)}},
                              1.0f},
                    ClickCase{"VolumeToZero", {{noteOn(36)}, {}, {}}, 0.0f},
                    ClickCase{"AllSoundOff", {{noteOn(36)}, {midiEvent(0xB0, 120, 0, 7)}}, 1.0f}),
    [](const testing::TestParamInfo<ClickCase>& info) { return std::string(info.param.name); });

TEST(DemoSound, EveryWaveformStaysWithinItsPeakOnHighNotes) {
    for (int w = 0; w < 4; ++w) {
        Rig rig;
        rig.synth.parameters().set(demo::kVolume, 1.0f);
        rig.setWaveform(static_cast<demo::Waveform>(w));
        rig.play({noteOn(127, 0, 127)});
        rig.playFor(0.1);
        for (float sample : rig.left)
            ASSERT_LE(std::fabs(sample), 1.2f * demo::kVoicePeak) << "waveform " << w;
        EXPECT_GT(*std::max_element(rig.left.begin(), rig.left.end()), 0.1f);
    }
}

TEST(DemoSound, AResetRequestSilencesTheNextBlock) {
    Rig rig;
    rig.play({noteOn(60)});
    rig.synth.requestReset();
    rig.play({});
    EXPECT_EQ(rig.synth.soundingVoiceCount(), 0);
    EXPECT_EQ(rig.left.back(), 0.0f);
}

TEST(DemoSound, MissingOutputsAreSkipped) {
    DemoSynth synth;
    EventBlock block({noteOn(60)});
    synth.receiveEvents(block.get());
    std::vector<float> right(64, 5.0f);
    float* outputs[2] = {nullptr, right.data()};
    synth.process(outputs, 2, 64);
    synth.process(nullptr, 2, 64);
    synth.process(outputs, 2, 0);
    EXPECT_NE(right[63], 5.0f);
    EXPECT_EQ(synth.heldNotes().has(60), true);
}

TEST(DemoEvents, BadEventListsAreIgnored) {
    Rig rig;
    rig.synth.receiveEvents(nullptr);
    VstMidiSysexEvent sysex{};
    sysex.type = kVstSysExType;
    struct {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[2];
    } odd{2, 0, {nullptr, reinterpret_cast<VstEvent*>(&sysex)}};
    rig.synth.receiveEvents(reinterpret_cast<VstEvents*>(&odd));
    odd.numEvents = -5;
    rig.synth.receiveEvents(reinterpret_cast<VstEvents*>(&odd));
    rig.play({});
    EXPECT_EQ(rig.synth.soundingVoiceCount(), 0);
    EXPECT_EQ(rig.echoCalls, 0);
}

TEST(DemoEvents, AFloodKeepsTheFirstBlockfulAndPlaysLaterBlocks) {
    Rig rig;
    std::vector<VstMidiEvent> flood;
    for (int i = 0; i < demo::kMaxEventsPerBlock + 50; ++i)
        flood.push_back(i % 2 == 0 ? noteOn(60) : noteOff(60));
    rig.play(flood);
    EXPECT_EQ(rig.echoed.size(), static_cast<size_t>(demo::kMaxEventsPerBlock));
    rig.play({noteOn(72)});
    EXPECT_TRUE(rig.synth.heldNotes().has(72));
}

TEST(DemoEcho, NotesAreEchoedInOrderAtTheFrameTheyPlayed) {
    Rig rig;
    rig.play({noteOn(60, 10), midiEvent(0xB0, 7, 100, 20), noteOff(60, 900), noteOn(64, 5),
              midiEvent(0xB1, 123, 0, 30)},
             512);
    ASSERT_EQ(rig.echoCalls, 1);
    ASSERT_EQ(rig.echoed.size(), 4u);
    const int expected[4][2] = {{0x90, 60}, {0x80, 60}, {0x90, 64}, {0xB1, 123}};
    for (size_t i = 0; i < 4; ++i) {
        const VstMidiEvent& event = rig.echoed[i];
        EXPECT_EQ(static_cast<unsigned char>(event.midiData[0]), expected[i][0]) << i;
        EXPECT_EQ(event.midiData[1], expected[i][1]) << i;
        EXPECT_EQ(event.type, kVstMidiType);
        EXPECT_EQ(event.byteSize, static_cast<VstInt32>(sizeof(VstMidiEvent)));
    }
    EXPECT_EQ(rig.echoed[0].deltaFrames, 10);
    EXPECT_EQ(rig.echoed[1].deltaFrames, 512); // past the block: applied at its end
    EXPECT_EQ(rig.echoed[2].deltaFrames, 512); // out of order: never before the one before
    rig.play({});
    EXPECT_EQ(rig.echoCalls, 1);
}

} // namespace
