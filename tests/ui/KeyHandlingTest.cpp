#include "KeyHandling.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct KeyCase {
    uint32_t windowsKey;
    VstIntPtr vstKey;
};

TEST(KeyTable, RangeEdgesAndKeysOutsideTheTable) {
    const KeyCase cases[] = {
        {0x08, 1},  {0x09, 2},  {0x0C, 3},  {0x0D, 4},  {0x13, 5},  {0x1B, 6},  {0x20, 7},
        {0x23, 9},  {0x24, 10}, {0x21, 15}, {0x22, 16}, {0x2F, 23}, {0x60, 24}, {0x69, 33},
        {0x6A, 34}, {0x6B, 35}, {0x6C, 36}, {0x6F, 39}, {0x70, 40}, {0x7B, 51}, {0x90, 52},
        {0x91, 53}, {0x10, 54}, {0x11, 55}, {0x12, 56}, {0x0A, 0},  {0x41, 0},  {0x30, 0},
        {0x7C, 0},  {0x5F, 0},  {0x92, 0},  {0x14, 0},
    };
    for (const KeyCase& c : cases)
        EXPECT_EQ(vstVirtualKey(c.windowsKey), c.vstKey) << "key 0x" << std::hex << c.windowsKey;
}

TEST(KeyTable, LettersBecomeLowerCaseOtherKeysStay) {
    EXPECT_EQ(keyCharacter('A'), 'a');
    EXPECT_EQ(keyCharacter('Z'), 'z');
    EXPECT_EQ(keyCharacter('@'), '@');
    EXPECT_EQ(keyCharacter('['), '[');
    EXPECT_EQ(keyCharacter('5'), '5');
    EXPECT_EQ(keyCharacter(0x70), 0x70);
}

// Records what the key handling asked of the window and the plug-in.
struct FakeTarget : KeyTarget {
    bool plugin = true;
    bool focus = false;
    VstIntPtr pluginAnswer = 0;
    bool computerKeyAnswer = false;
    bool transport = false;

    std::vector<int> commands;
    std::vector<std::pair<uint8_t, bool>> computerKeys;
    struct Offer {
        bool down;
        VstInt32 character;
        VstIntPtr vstKey;
        float modifiers;
    };
    std::vector<Offer> offers;
    std::vector<bool> transportCalls;

    void runCommand(int id) override { commands.push_back(id); }
    bool sendComputerKey(uint8_t key, bool down) override {
        computerKeys.emplace_back(key, down);
        return computerKeyAnswer;
    }
    bool hasPlugin() const override { return plugin; }
    bool editorHasKeyFocus() override { return focus; }
    VstIntPtr offerKeyToPlugin(bool down, VstInt32 c, VstIntPtr k, float m) override {
        offers.push_back({down, c, k, m});
        return pluginAnswer;
    }
    bool transportRequested() const override { return transport; }
    void setTransport(bool playing) override { transportCalls.push_back(playing); }
};

KeyMessage down(uint32_t key, bool ctrl = false) {
    return {KeyMessageKind::down, key, false, ctrl, false};
}
KeyMessage up(uint32_t key, bool ctrl = false) {
    return {KeyMessageKind::up, key, false, ctrl, false};
}

TEST(KeyHandling, CtrlShortcutsActOnReleaseOnly) {
    const std::pair<uint32_t, int> shortcuts[] = {{'A', ID_FILE_AUDIOSETTINGS},
                                                  {'M', ID_FILE_MIDISETTINGS},
                                                  {'P', ID_FILE_AUDIOPLAYER},
                                                  {'R', ID_FILE_AUDIOENGINE},
                                                  {'T', ID_FILE_TEMPO}};
    for (auto [key, command] : shortcuts) {
        FakeTarget target;
        EXPECT_TRUE(handleKeyMessage(down(key, true), target));
        EXPECT_TRUE(target.commands.empty()) << char(key);
        EXPECT_TRUE(handleKeyMessage(up(key, true), target));
        EXPECT_EQ(target.commands, std::vector<int>{command}) << char(key);
        EXPECT_TRUE(target.offers.empty() && target.computerKeys.empty()) << char(key);
    }
}

TEST(KeyHandling, CtrlXPanicsOnPressAndIsSwallowedOnlyWhenSent) {
    FakeTarget target;
    target.computerKeyAnswer = true;
    EXPECT_TRUE(handleKeyMessage(down('X', true), target));
    EXPECT_TRUE(handleKeyMessage(up('X', true), target));
    ASSERT_EQ(target.computerKeys.size(), 1u);
    EXPECT_EQ(target.computerKeys[0], std::make_pair(uint8_t('P'), true));

    FakeTarget refusing;
    EXPECT_FALSE(handleKeyMessage(down('X', true), refusing));
    EXPECT_TRUE(refusing.offers.empty());
}

TEST(KeyHandling, SpaceReleaseTogglesTransportUnlessTheEditorHasFocus) {
    for (bool requested : {false, true}) {
        FakeTarget target;
        target.transport = requested;
        EXPECT_TRUE(handleKeyMessage(up(' '), target));
        EXPECT_EQ(target.transportCalls, std::vector<bool>{!requested});
        EXPECT_TRUE(target.offers.empty());
    }
    FakeTarget focused;
    focused.focus = true;
    EXPECT_TRUE(handleKeyMessage(up(' '), focused));
    EXPECT_TRUE(focused.transportCalls.empty());
}

TEST(KeyHandling, EscapeAndReturnNeverReachTheDialog) {
    FakeTarget target;
    EXPECT_TRUE(handleKeyMessage(down(0x1B), target));
    EXPECT_TRUE(target.offers.empty());
    EXPECT_TRUE(handleKeyMessage(down(0x0D), target));
    EXPECT_EQ(target.offers.size(), 1u); // offered to the plug-in first
    EXPECT_FALSE(handleKeyMessage(up(0x0D), target));

    FakeTarget focused;
    focused.focus = true;
    EXPECT_FALSE(handleKeyMessage(down(0x0D), focused)); // the editor gets it
    EXPECT_TRUE(focused.computerKeys.empty());
}

TEST(KeyHandling, KeysGoToThePluginWithCharacterVstKeyAndModifiers) {
    FakeTarget target;
    KeyMessage shiftAltF1{KeyMessageKind::down, 0x70, true, false, true};
    handleKeyMessage(shiftAltF1, target);
    KeyMessage ctrlShiftQ{KeyMessageKind::up, 'Q', true, true, false};
    handleKeyMessage(ctrlShiftQ, target);
    ASSERT_EQ(target.offers.size(), 2u);
    EXPECT_TRUE(target.offers[0].down);
    EXPECT_EQ(target.offers[0].character, 0x70);
    EXPECT_EQ(target.offers[0].vstKey, 40);
    EXPECT_EQ(target.offers[0].modifiers, 3.0f);
    EXPECT_FALSE(target.offers[1].down);
    EXPECT_EQ(target.offers[1].character, 'q');
    EXPECT_EQ(target.offers[1].vstKey, 0);
    EXPECT_EQ(target.offers[1].modifiers, 9.0f);
}

TEST(KeyHandling, PluginAnswerFocusAndComputerKeyboardDecideTheRest) {
    struct Row {
        bool plugin;
        VstIntPtr answer;
        bool focus;
        bool computerKeyAnswer;
        bool swallowed;
        size_t computerKeysSent;
    };
    const Row rows[] = {
        {true, 1, false, true, true, 0},   // the plug-in consumed it
        {true, 0, true, true, false, 0},   // the editor has focus: dispatched
        {true, 0, false, true, true, 1},   // a note from the computer keyboard
        {true, 0, false, false, false, 1}, // not a note key
        {false, 1, true, true, true, 1},   // no plug-in: only the keyboard
    };
    for (const Row& row : rows) {
        FakeTarget target;
        target.plugin = row.plugin;
        target.pluginAnswer = row.answer;
        target.focus = row.focus;
        target.computerKeyAnswer = row.computerKeyAnswer;
        EXPECT_EQ(handleKeyMessage(down('Z'), target), row.swallowed);
        EXPECT_EQ(target.computerKeys.size(), row.computerKeysSent);
        EXPECT_EQ(target.offers.size(), row.plugin ? 1u : 0u);
        if (!target.computerKeys.empty()) {
            EXPECT_EQ(target.computerKeys[0], std::make_pair(uint8_t('Z'), true));
        }
    }
}

TEST(KeyHandling, PlainPIsOfferedAndReachesTheComputerKeyboard) {
    FakeTarget target;
    target.computerKeyAnswer = true;
    EXPECT_TRUE(handleKeyMessage(down('P'), target));
    EXPECT_TRUE(target.commands.empty());
    EXPECT_EQ(target.computerKeys.size(), 1u);
}

TEST(KeyHandling, OtherMessagesAreLeftAlone) {
    FakeTarget target;
    EXPECT_FALSE(handleKeyMessage({KeyMessageKind::other, 'A', false, true, false}, target));
    EXPECT_TRUE(target.commands.empty() && target.offers.empty() && target.computerKeys.empty());
}

} // namespace
