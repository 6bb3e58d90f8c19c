#include "MidiSettingsLogic.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(MidiSettingsLogic, NoteNamesFromC2ToG8) {
    const struct {
        int note;
        const char* name;
    } rows[] = {{0, "C-2"},   {1, "C#-2"}, {11, "B-2"}, {12, "C-1"}, {23, "B-1"},
                {24, "C0"},   {59, "B2"},  {60, "C3"},  {61, "C#3"}, {70, "A#3"},
                {126, "F#8"}, {127, "G8"}, {-1, ""},    {128, ""}};
    for (const auto& row : rows)
        EXPECT_EQ(midiNoteName(row.note), row.name) << row.note;
    const std::vector<std::string> names = midiNoteNames();
    ASSERT_EQ(names.size(), 128u);
    EXPECT_EQ(names.front(), "C-2");
    EXPECT_EQ(names.back(), "G8");
}

TEST(MidiSettingsLogic, ChannelListIsAllThenOneToSixteen) {
    const std::vector<std::string> names = midiChannelNames();
    ASSERT_EQ(names.size(), 17u);
    EXPECT_EQ(names[0], "all");
    EXPECT_EQ(names[1], "1");
    EXPECT_EQ(names[16], "16");
}

TEST(MidiSettingsLogic, IconFollowsActiveAndSync) {
    const struct {
        bool active, sync;
        MidiDeviceIcon icon;
    } rows[] = {{false, false, MidiDeviceIcon::inactive},
                {false, true, MidiDeviceIcon::inactive},
                {true, false, MidiDeviceIcon::active},
                {true, true, MidiDeviceIcon::synced}};
    for (const auto& row : rows) {
        MidiDeviceSettings settings;
        settings.active = row.active;
        settings.sync = row.sync;
        EXPECT_EQ(midiDeviceIcon(settings), row.icon) << row.active << row.sync;
    }
}

// A driver list and the settings records of the devices the settings know.
struct Devices {
    std::vector<std::unique_ptr<MidiDeviceSettings>> driver;
    std::vector<std::unique_ptr<MidiDeviceSettings>> known;

    MidiDeviceSettings& present(const std::string& name, bool isInput) {
        driver.push_back(std::make_unique<MidiDeviceSettings>());
        driver.back()->name = name;
        driver.back()->isInput = isInput;
        return *driver.back();
    }
    MidiDeviceSettings& remember(const std::string& name, bool isInput, bool active = false) {
        known.push_back(std::make_unique<MidiDeviceSettings>());
        known.back()->name = name;
        known.back()->isInput = isInput;
        known.back()->active = active;
        return *known.back();
    }
    MidiSettingsLookup lookup() {
        return [this](const MidiDeviceSettings& device) -> MidiDeviceSettings* {
            for (auto& record : known)
                if (record->sameDeviceAs(device))
                    return record.get();
            return nullptr;
        };
    }
};

TEST(MidiSettingsLogic, ListsOnlyKnownDevicesInDriverOrderAndSelectsTheFirstActiveOutput) {
    Devices d;
    MidiDeviceSettings& in1 = d.present("In 1", true);
    d.present("Unknown In", true);
    MidiDeviceSettings& out1 = d.present("Out 1", false);
    MidiDeviceSettings& out2 = d.present("Out 2", false);
    MidiDeviceSettings& out3 = d.present("Out 3", false);
    MidiDeviceSettings& in2 = d.present("In 2", true);
    d.remember("In 2", true);
    d.remember("In 1", true);
    d.remember("Out 3", false, true);
    d.remember("Out 2", false, true);
    d.remember("Out 1", false);
    d.remember("Gone", true); // not present: never listed
    const MidiDeviceChoices choices = listMidiDevices(d.driver, d.lookup());
    EXPECT_EQ(choices.inputs, (std::vector<MidiDeviceSettings*>{&in1, &in2}));
    EXPECT_EQ(choices.outputs, (std::vector<MidiDeviceSettings*>{&out1, &out2, &out3}));
    EXPECT_EQ(choices.outputItem, 2); // "Out 2", the first active one after "No Output"

    d.known[2]->active = false;
    d.known[3]->active = false;
    EXPECT_EQ(listMidiDevices(d.driver, d.lookup()).outputItem, 0);
    // An input of the same name is not an output.
    d.remember("Out 1", true, true);
    EXPECT_EQ(listMidiDevices(d.driver, d.lookup()).outputItem, 0);
}

TEST(MidiSettingsLogic, CommittedOutputIsTheOnlyActiveOneInBothRecords) {
    Devices d;
    MidiDeviceSettings& a = d.present("A", false);
    MidiDeviceSettings& b = d.present("B", false);
    MidiDeviceSettings& sa = d.remember("A", false, true);
    MidiDeviceSettings& sb = d.remember("B", false);
    a.active = true;
    const std::vector<MidiDeviceSettings*> outputs{&a, &b};
    struct Row {
        const MidiDeviceSettings* chosen;
        bool aActive, bActive;
    } rows[] = {{&b, false, true}, {&a, true, false}, {nullptr, false, false}};
    for (const Row& row : rows) {
        commitMidiOutput(outputs, row.chosen, d.lookup());
        EXPECT_EQ(a.active, row.aActive);
        EXPECT_EQ(sa.active, row.aActive);
        EXPECT_EQ(b.active, row.bActive);
        EXPECT_EQ(sb.active, row.bActive);
    }
}

TEST(MidiSettingsLogic, TwoOutputsSharingARecordKeepItActiveWhenEitherIsChosen) {
    Devices d;
    MidiDeviceSettings& first = d.present("Twin", false);
    MidiDeviceSettings& second = d.present("Twin", false);
    MidiDeviceSettings& shared = d.remember("Twin", false);
    commitMidiOutput({&first, &second}, &first, d.lookup());
    EXPECT_TRUE(shared.active);
    EXPECT_TRUE(first.active);
    EXPECT_FALSE(second.active);
}

TEST(MidiSettingsLogic, SyncStaysOnOneInputAndIconsFollow) {
    Devices d;
    MidiDeviceSettings& in1 = d.present("In 1", true);
    MidiDeviceSettings& in2 = d.present("In 2", true);
    MidiDeviceSettings& in3 = d.present("In 3", true);
    MidiDeviceSettings& s1 = d.remember("In 1", true, true);
    MidiDeviceSettings& s2 = d.remember("In 2", true, true);
    MidiDeviceSettings& s3 = d.remember("In 3", true, false);
    const std::vector<MidiDeviceSettings*> inputs{&in1, &in2, &in3};
    s1.sync = true;
    s3.sync = true;
    clearOtherSyncs(inputs, 1, d.lookup());
    s2.sync = true;
    EXPECT_FALSE(s1.sync);
    EXPECT_FALSE(s3.sync);
    EXPECT_EQ(inputIcons(inputs, d.lookup()),
              (std::vector<MidiDeviceIcon>{MidiDeviceIcon::active, MidiDeviceIcon::synced,
                                           MidiDeviceIcon::inactive}));
    clearOtherSyncs(inputs, 7, d.lookup()); // no such item: nothing changes
    EXPECT_TRUE(s2.sync);
}

TEST(MidiSettingsLogic, SyncOnAnInputSharingItsRecordStaysOn) {
    Devices d;
    MidiDeviceSettings& first = d.present("Twin", true);
    MidiDeviceSettings& second = d.present("Twin", true);
    MidiDeviceSettings& shared = d.remember("Twin", true, true);
    shared.sync = true;
    clearOtherSyncs({&first, &second}, 0, d.lookup());
    EXPECT_TRUE(shared.sync);
}

TEST(MidiSettingsLogic, DelayArrowsHaveNoLimitButNeverWrap) {
    const struct {
        int32_t delay;
        int delta;
        int32_t after;
    } rows[] = {{0, -1, 1},
                {0, 1, -1},
                {-1, 1, -2},
                {99, -1, 100},
                {INT_MAX, -1, INT_MAX},
                {INT_MIN, 1, INT_MIN},
                {INT_MAX - 1, -1, INT_MAX}};
    for (const auto& row : rows)
        EXPECT_EQ(delayAfterSpin(row.delay, row.delta), row.after) << row.delay << " " << row.delta;
    EXPECT_EQ(dpiAwareItemHeight(58), 19);
}

TEST(MidiSettingsLogic, ArrowKeysMoveTheTrackedChoice) {
    const struct {
        int from;
        ListKey key;
        int count;
        int to;
    } rows[] = {{-1, ListKey::down, 3, 0},  {0, ListKey::down, 3, 1}, {2, ListKey::down, 3, 2},
                {-1, ListKey::down, 0, -1}, {2, ListKey::up, 3, 1},   {0, ListKey::up, 3, -1},
                {-1, ListKey::up, 3, -1}};
    for (const auto& row : rows) {
        ListSelectionTracker tracker;
        tracker.moveTo(row.from);
        EXPECT_EQ(tracker.afterKey(row.key, row.count), row.to) << row.from;
    }
}

TEST(MidiSettingsLogic, MovingTheChoiceRedrawsTheItemThatLostItAndTheOneThatGainedIt) {
    ListSelectionTracker tracker;
    EXPECT_EQ(tracker.moveTo(1), (std::vector<int>{1}));
    EXPECT_EQ(tracker.moveTo(1), (std::vector<int>{}));
    EXPECT_EQ(tracker.moveTo(0), (std::vector<int>{1, 0}));
    EXPECT_EQ(tracker.moveTo(-1), (std::vector<int>{0}));
    EXPECT_EQ(tracker.selected(), -1);
}

} // namespace
