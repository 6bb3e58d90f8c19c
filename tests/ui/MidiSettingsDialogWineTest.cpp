// The Midi Settings dialog under Wine, opened from a real main window with
// our test plug-ins and the virtual MIDI devices of the test environment
// ("KsVirtual In 1/2", "KsVirtual Out 1/2"), driven by messages.

#include "CKsVSTHostDlg.h"
#include "CPropMidiDevicesDlg.h"
#include "MainWindowLogic.h"
#include "TestPlugins.h"
#include "WindowCapture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kVirtualMidiKey = "Software\\Kestrune\\Virtual MIDI";
constexpr const char* kPlugin = "KsTestEffect";
constexpr const char* kIn1 = "KsVirtual In 1";
constexpr const char* kIn2 = "KsVirtual In 2";
constexpr const char* kOut1 = "KsVirtual Out 1";
constexpr const char* kOut2 = "KsVirtual Out 2";

std::string virtualMidiFolder() {
    char buffer[MAX_PATH] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueA(HKEY_CURRENT_USER, kVirtualMidiKey, "Folder", RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS)
        return "";
    return buffer;
}

void refuseOutputOpen(DWORD mask) {
    RegSetKeyValueA(HKEY_CURRENT_USER, kVirtualMidiKey, "FailOutputOpen", REG_DWORD, &mask,
                    sizeof mask);
}

std::string pluginKey(const std::string& plugin) {
    return "Software\\Kestrune\\" + plugin;
}

// One stored MIDI device: its key below "Host", as the settings write it.
void storeMidiDevice(int position, const std::string& name, bool isInput, bool active) {
    const std::string key = pluginKey(kPlugin) + "\\Host\\Midi Device " + std::to_string(position);
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "name", REG_SZ, name.c_str(),
                    static_cast<DWORD>(name.size() + 1));
    const DWORD in = isInput ? 1 : 0;
    const DWORD on = active ? 1 : 0;
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "in", REG_DWORD, &in, sizeof in);
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "active", REG_DWORD, &on, sizeof on);
}

// A number of the stored device with that name and direction; -1 when
// there is no such device or value.
int storedValue(const std::string& name, bool isInput, const char* value) {
    for (int position = 0; position < 64; ++position) {
        const std::string key =
            pluginKey(kPlugin) + "\\Host\\Midi Device " + std::to_string(position);
        char stored[512] = {};
        DWORD size = sizeof stored;
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "name", RRF_RT_REG_SZ, nullptr, stored,
                         &size) != ERROR_SUCCESS)
            return -1;
        DWORD in = 0;
        DWORD number = 0;
        size = sizeof in;
        RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "in", RRF_RT_REG_DWORD, nullptr, &in, &size);
        if (name != stored || (in != 0) != isInput)
            continue;
        size = sizeof number;
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &number,
                         &size) != ERROR_SUCCESS)
            return -1;
        return static_cast<int>(number);
    }
    return -1;
}

std::string comboText(HWND box, int index) {
    const auto length = SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0)
        return "<none>";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// RT_GROUP_ICON: an icon's directory of images.
const char* const kIconDirectory = MAKEINTRESOURCEA(14);

WORD wordAt(const BYTE* bytes) {
    WORD value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

struct ShownMessage {
    std::string text;
    std::string caption;
};

void collectMessage(HWND, const char* text, const char* caption, void* user) {
    static_cast<std::vector<ShownMessage>*>(user)->push_back({text, caption});
}

class MidiSettingsDialogWine : public ::testing::Test {
protected:
    void SetUp() override {
        midiFolder = virtualMidiFolder();
        if (midiFolder.empty())
            GTEST_SKIP() << "the virtual MIDI devices are not installed";
        refuseOutputOpen(0);
        RegDeleteTreeA(HKEY_CURRENT_USER, pluginKey(kPlugin).c_str());
        for (int n = 1; n <= 2; ++n)
            DeleteFileA(outputFile(n).c_str());
        setUserMessageSink(collectMessage, &messages);
    }
    void TearDown() override {
        if (window && window->mainWindowOpen()) {
            PostMessageA(window->handle(), WM_CLOSE, 0, 0);
            for (int round = 0; round < 2000 && window->mainWindowOpen(); ++round)
                pump();
        }
        window.reset();
        refuseOutputOpen(0);
        setUserMessageSink(nullptr, nullptr);
    }

    void openMainWindow(const std::string& plugin = kPlugin) {
        control = std::make_unique<TestPluginControl>(plugin);
        window = std::make_unique<CKsVSTHostDlg>(testPluginPath(plugin));
        // A shutdown here ends with the stream stopped, never by ending the process.
        window->setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
        ASSERT_TRUE(window->createMainWindow());
        pump();
    }

    // Opens the dialog through the main window's menu command.
    void openDialog() {
        SendMessageA(window->handle(), WM_COMMAND, ID_FILE_MIDISETTINGS, 0);
        pump();
        dialog = dynamic_cast<CPropMidiDevicesDlg*>(window->midiSettingsDialog());
        ASSERT_NE(dialog, nullptr);
        box = dialog->handle();
    }

    void pump() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            window->processMessage(message);
    }

    HWND item(int id) const { return GetDlgItem(box, id); }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    bool dialogOpen() const { return window->midiSettingsDialog() != nullptr; }
    void command(int id, int notification) {
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(id, notification),
                     reinterpret_cast<LPARAM>(item(id)));
    }
    void click(int id) { SendMessageA(item(id), BM_CLICK, 0, 0); }
    bool isChecked(int id) const { return IsDlgButtonChecked(box, id) == BST_CHECKED; }
    void choose(int id, int index) {
        SendMessageA(item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        command(id, CBN_SELCHANGE);
    }
    int chosen(int id) const {
        return static_cast<int>(SendMessageA(item(id), CB_GETCURSEL, 0, 0));
    }
    LPARAM inputPoint(int index) const {
        RECT area{};
        SendMessageA(item(IDC_MIDI_INPUTS), LB_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&area));
        return MAKELPARAM(area.left + 30, (area.top + area.bottom) / 2);
    }
    // Presses and releases the left button over an input list item.
    void clickInput(int index) {
        const LPARAM point = inputPoint(index);
        SendMessageA(item(IDC_MIDI_INPUTS), WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageA(item(IDC_MIDI_INPUTS), WM_LBUTTONUP, 0, point);
    }
    void inputKey(UINT key) { SendMessageA(item(IDC_MIDI_INPUTS), WM_KEYDOWN, key, 0); }
    void spin(int delta) {
        NMUPDOWN change{};
        change.hdr.hwndFrom = item(IDC_MIDI_DELAY_SPIN);
        change.hdr.idFrom = IDC_MIDI_DELAY_SPIN;
        change.hdr.code = UDN_DELTAPOS;
        change.iDelta = delta;
        SendMessageA(box, WM_NOTIFY, IDC_MIDI_DELAY_SPIN, reinterpret_cast<LPARAM>(&change));
    }
    std::string delayText() const {
        char text[32] = {};
        GetDlgItemTextA(box, IDC_MIDI_DELAY, text, sizeof text);
        return text;
    }

    HostSettings& settings() { return *window->settings(); }
    MidiDeviceSettings* known(const std::string& name, bool isInput) {
        MidiDeviceSettings probe;
        probe.name = name;
        probe.isInput = isInput;
        return settings().findMidiDevice(probe);
    }
    // The MIDI driver's own record of a present device.
    MidiDeviceSettings* present(const std::string& name, bool isInput) {
        for (auto& device : window->hostEngine().midiDriver->devices)
            if (device->name == name && device->isInput == isInput)
                return device.get();
        return nullptr;
    }
    std::string outputFile(int n) const {
        return midiFolder + "\\out" + std::to_string(n) + ".mid";
    }
    // The plug-in sends a Note On; true when it reached output n.
    bool pluginNoteReaches(int n) {
        const size_t before = readBytes(outputFile(n)).size();
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof event;
        event.midiData[0] = static_cast<char>(0x90);
        event.midiData[1] = 60;
        event.midiData[2] = 100;
        struct {
            VstEvents header;
            VstEvent* more[1];
        } events{};
        events.header.numEvents = 1;
        events.header.events[0] = reinterpret_cast<VstEvent*>(&event);
        control->callHost(window->library().effect, audioMasterProcessEvents, 0, 0, &events);
        for (int round = 0; round < 200; ++round) {
            if (readBytes(outputFile(n)).size() >= before + 3)
                return true;
            Sleep(5);
        }
        return false;
    }
    // What the list shows at a pixel of an item's icon, 16 x 16 from one
    // pixel right of and below the item's corner.
    COLORREF iconPixel(int index, int x, int y) {
        RECT area{};
        HWND list = item(IDC_MIDI_INPUTS);
        SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&area));
        RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(list);
        const COLORREF colour = GetPixel(dc, area.left + 1 + x, area.top + 1 + y);
        ReleaseDC(list, dc);
        return colour;
    }

    std::string midiFolder;
    std::vector<ShownMessage> messages;
    std::unique_ptr<TestPluginControl> control;
    std::unique_ptr<CKsVSTHostDlg> window;
    CPropMidiDevicesDlg* dialog = nullptr;
    HWND box = nullptr;
};

TEST_F(MidiSettingsDialogWine, OpensWithListsFilledAndTheActiveOutputChosen) {
    storeMidiDevice(0, kOut2, false, true);
    openMainWindow();
    openDialog();
    char caption[64] = {};
    GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ(caption, "Midi Settings");
    EXPECT_FALSE(enabled(IDC_MIDI_APPLY));
    for (int id : {IDC_MIDI_ACTIVE, IDC_MIDI_SYNC, IDC_MIDI_SYNC_WHILE_PLAYING, IDC_MIDI_DELAY,
                   IDC_MIDI_DELAY_SPIN, IDC_MIDI_DELAY_LABEL, IDC_MIDI_FILTER_CC,
                   IDC_MIDI_FILTER_PROGRAMS, IDC_MIDI_CHANNEL, IDC_MIDI_CHANNEL_LABEL,
                   IDC_MIDI_RANGE_LOW, IDC_MIDI_RANGE_HIGH, IDC_MIDI_RANGE_LABEL})
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(enabled(IDC_MIDI_INPUTS));
    EXPECT_TRUE(enabled(IDC_MIDI_OUTPUT));

    CListBoxCH& inputs = dialog->inputList();
    ASSERT_EQ(inputs.itemCount(), 2);
    EXPECT_EQ(inputs.recordAt(0), present(kIn1, true));
    EXPECT_EQ(inputs.recordAt(1), present(kIn2, true));
    EXPECT_EQ(inputs.recordAt(2), nullptr);
    EXPECT_EQ(inputs.itemIcon(0),
              dialog->iconFor(MidiDeviceIcon::active)); // new inputs start active
    EXPECT_EQ(inputs.trackedSelection(), -1);

    const struct {
        int id;
        int count;
        int chosen;
        const char* first;
        const char* last;
    } lists[] = {{IDC_MIDI_CHANNEL, 17, 0, "all", "16"},
                 {IDC_MIDI_RANGE_LOW, 128, 0, "C-2", "G8"},
                 {IDC_MIDI_RANGE_HIGH, 128, 127, "C-2", "G8"}};
    for (const auto& list : lists) {
        EXPECT_EQ(SendMessageA(item(list.id), CB_GETCOUNT, 0, 0), list.count) << list.id;
        EXPECT_EQ(chosen(list.id), list.chosen) << list.id;
        EXPECT_EQ(comboText(item(list.id), 0), list.first) << list.id;
        EXPECT_EQ(comboText(item(list.id), list.count - 1), list.last) << list.id;
    }
    EXPECT_EQ(comboText(item(IDC_MIDI_RANGE_LOW), 61), "C#3");

    HWND output = item(IDC_MIDI_OUTPUT);
    EXPECT_EQ(comboText(output, 0), "No Output");
    EXPECT_EQ(comboText(output, 1), kOut1);
    EXPECT_EQ(comboText(output, 2), kOut2);
    EXPECT_EQ(comboText(output, chosen(IDC_MIDI_OUTPUT)), kOut2);
    EXPECT_EQ(SendMessageA(output, CB_GETITEMDATA, 0, 0), 0);
    EXPECT_EQ(SendMessageA(output, CB_GETITEMDATA, 2, 0),
              reinterpret_cast<LRESULT>(present(kOut2, false)));

    // Opening the same command again brings this one forward.
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_MIDISETTINGS, 0);
    EXPECT_EQ(window->midiSettingsDialog(), dialog);

    std::string folder = platform::executableDirectory() + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    clickInput(0);
    SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(box, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump();
    EXPECT_TRUE(captureWindowToBmp(box, folder + "\\midi-settings.bmp"));
}

TEST_F(MidiSettingsDialogWine, OkWithoutChangesKeepsTheActiveOutputWithoutRestartingMidi) {
    storeMidiDevice(0, kOut2, false, true);
    openMainWindow();
    MidiDeviceSettings* openOutput = window->hostEngine().midiOutDevice;
    ASSERT_EQ(openOutput, present(kOut2, false));
    ASSERT_TRUE(pluginNoteReaches(2));
    openDialog();
    // Someone else saves while the dialog is open: the output is still stored.
    settings().save();
    EXPECT_EQ(storedValue(kOut2, false, "active"), 1);

    refuseOutputOpen(1u << 1); // a restart could not open Out 2 again
    command(IDOK, BN_CLICKED);
    pump();
    EXPECT_FALSE(dialogOpen());
    EXPECT_FALSE(IsWindow(box));
    EXPECT_TRUE(known(kOut2, false)->active);
    EXPECT_TRUE(present(kOut2, false)->active);
    EXPECT_FALSE(known(kOut1, false)->active);
    EXPECT_EQ(storedValue(kOut2, false, "active"), 1);
    EXPECT_EQ(storedValue(kOut1, false, "active"), 0);
    EXPECT_EQ(window->hostEngine().midiOutDevice, openOutput);
    EXPECT_TRUE(pluginNoteReaches(2));
    EXPECT_TRUE(messages.empty());
}

// Closing without OK or Apply used to leave no output active, so the next
// save and the next start lost the MIDI output.
TEST_F(MidiSettingsDialogWine, CloseBoxAndEscapeLeaveTheOutputAsItWas) {
    for (UINT closing : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(IDCANCEL)}) {
        SetUp();
        storeMidiDevice(0, kOut1, false, true);
        openMainWindow();
        openDialog();
        choose(IDC_MIDI_OUTPUT, 2); // another output, not applied
        EXPECT_TRUE(enabled(IDC_MIDI_APPLY));
        if (closing == WM_CLOSE)
            SendMessageA(box, WM_CLOSE, 0, 0);
        else
            command(IDCANCEL, BN_CLICKED);
        pump();
        EXPECT_FALSE(dialogOpen()) << closing;
        EXPECT_TRUE(known(kOut1, false)->active) << closing;
        EXPECT_TRUE(present(kOut1, false)->active) << closing;
        EXPECT_FALSE(known(kOut2, false)->active) << closing;
        settings().save();
        EXPECT_EQ(storedValue(kOut1, false, "active"), 1) << closing;
        EXPECT_EQ(storedValue(kOut2, false, "active"), 0) << closing;
        EXPECT_TRUE(pluginNoteReaches(1)) << closing;
        TearDown();
    }
}

TEST_F(MidiSettingsDialogWine, ApplyMovesTheOutputAndNoOutputClosesIt) {
    storeMidiDevice(0, kOut1, false, true);
    openMainWindow();
    openDialog();
    choose(IDC_MIDI_OUTPUT, 2);
    command(IDC_MIDI_APPLY, BN_CLICKED);
    EXPECT_FALSE(enabled(IDC_MIDI_APPLY));
    EXPECT_EQ(window->hostEngine().midiOutDevice, present(kOut2, false));
    EXPECT_EQ(storedValue(kOut1, false, "active"), 0);
    EXPECT_EQ(storedValue(kOut2, false, "active"), 1);
    EXPECT_TRUE(pluginNoteReaches(2));

    choose(IDC_MIDI_OUTPUT, 0);
    command(IDC_MIDI_APPLY, BN_CLICKED);
    EXPECT_EQ(window->hostEngine().midiOutDevice, nullptr);
    EXPECT_FALSE(known(kOut2, false)->active);
    EXPECT_FALSE(present(kOut2, false)->active);
    EXPECT_EQ(storedValue(kOut2, false, "active"), 0);
    EXPECT_FALSE(pluginNoteReaches(2));

    // Cancel after Apply keeps what was applied.
    choose(IDC_MIDI_OUTPUT, 1);
    SendMessageA(box, WM_CLOSE, 0, 0);
    EXPECT_FALSE(known(kOut1, false)->active);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MidiSettingsDialogWine, OutputThatCannotOpenIsSaidAndTheDialogStays) {
    openMainWindow();
    openDialog();
    refuseOutputOpen(1);
    choose(IDC_MIDI_OUTPUT, 1);
    command(IDC_MIDI_APPLY, BN_CLICKED);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kMidiStartFailedText);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_TRUE(dialogOpen());
    EXPECT_FALSE(enabled(IDC_MIDI_APPLY));
}

TEST_F(MidiSettingsDialogWine, SyncMovesFromOneInputToAnotherWithIconsRedrawn) {
    openMainWindow();
    openDialog();
    CListBoxCH& inputs = dialog->inputList();
    clickInput(0);
    EXPECT_EQ(inputs.trackedSelection(), 0);
    EXPECT_TRUE(enabled(IDC_MIDI_SYNC));
    click(IDC_MIDI_SYNC);
    EXPECT_TRUE(known(kIn1, true)->sync);
    EXPECT_EQ(inputs.itemIcon(0), dialog->iconFor(MidiDeviceIcon::synced));
    // The clock's hand at twelve is white; below the centre the dot is green.
    EXPECT_EQ(iconPixel(0, 8, 4), RGB(255, 255, 255));
    EXPECT_EQ(GetGValue(iconPixel(0, 8, 11)) > 150 && GetRValue(iconPixel(0, 8, 11)) < 100, true);

    inputKey(VK_DOWN);
    EXPECT_EQ(inputs.trackedSelection(), 1);
    EXPECT_EQ(SendMessageA(item(IDC_MIDI_INPUTS), LB_GETCURSEL, 0, 0), 1);
    EXPECT_FALSE(isChecked(IDC_MIDI_SYNC)); // the second input's options
    click(IDC_MIDI_SYNC);
    EXPECT_FALSE(known(kIn1, true)->sync);
    EXPECT_TRUE(known(kIn2, true)->sync);
    EXPECT_EQ(inputs.itemIcon(0), dialog->iconFor(MidiDeviceIcon::active));
    EXPECT_EQ(inputs.itemIcon(1), dialog->iconFor(MidiDeviceIcon::synced));
    EXPECT_NE(iconPixel(0, 8, 4), RGB(255, 255, 255));
    EXPECT_EQ(iconPixel(1, 8, 4), RGB(255, 255, 255));

    click(IDC_MIDI_ACTIVE); // the second input off: red, whatever its sync
    EXPECT_FALSE(known(kIn2, true)->active);
    EXPECT_EQ(inputs.itemIcon(1), dialog->iconFor(MidiDeviceIcon::inactive));
    EXPECT_GT(GetRValue(iconPixel(1, 8, 11)), 150);
    EXPECT_TRUE(enabled(IDC_MIDI_APPLY));
}

// A press on the dialog dragged onto another item: the options shown and
// the record they edit stay the first input's.
TEST_F(MidiSettingsDialogWine, AReleaseWithoutAPressOnTheListKeepsTheChoice) {
    openMainWindow();
    openDialog();
    clickInput(0);
    ASSERT_EQ(GetCapture(), nullptr);
    SendMessageA(item(IDC_MIDI_INPUTS), WM_LBUTTONUP, 0, inputPoint(1));
    EXPECT_EQ(dialog->inputList().trackedSelection(), 0);
    click(IDC_MIDI_FILTER_CC);
    EXPECT_TRUE(known(kIn1, true)->filterCCMessages);
    EXPECT_FALSE(known(kIn2, true)->filterCCMessages);
}

TEST_F(MidiSettingsDialogWine, ArrowKeysTrackTheChoiceAndUpFromTheFirstLeavesNone) {
    openMainWindow();
    openDialog();
    CListBoxCH& inputs = dialog->inputList();
    const struct {
        UINT key;
        int tracked;
        bool controls;
    } steps[] = {{VK_DOWN, 0, true}, {VK_DOWN, 1, true}, {VK_DOWN, 1, true},
                 {VK_UP, 0, true},   {VK_UP, -1, false}, {VK_UP, -1, false}};
    for (const auto& step : steps) {
        inputKey(step.key);
        EXPECT_EQ(inputs.trackedSelection(), step.tracked) << step.key;
        EXPECT_EQ(SendMessageA(item(IDC_MIDI_INPUTS), LB_GETCURSEL, 0, 0), step.tracked)
            << step.key;
        EXPECT_EQ(enabled(IDC_MIDI_CHANNEL), step.controls) << step.key;
    }
    // The list box's own keys: the choice follows whatever it selects.
    for (UINT key : {VK_NEXT, VK_PRIOR, VK_END, VK_HOME}) {
        inputKey(key);
        EXPECT_EQ(inputs.trackedSelection(),
                  SendMessageA(item(IDC_MIDI_INPUTS), LB_GETCURSEL, 0, 0))
            << key;
    }
}

// Each control reaches its handler and its handler the chosen input's record.
TEST_F(MidiSettingsDialogWine, EveryControlReachesItsHandler) {
    openMainWindow();
    openDialog();
    clickInput(1);
    MidiDeviceSettings& s = *known(kIn2, true);
    const struct {
        int id;
        std::function<bool(const MidiDeviceSettings&)> set;
    } boxes[] = {
        {IDC_MIDI_ACTIVE, [](const MidiDeviceSettings& d) { return !d.active; }},
        {IDC_MIDI_SYNC, [](const MidiDeviceSettings& d) { return d.sync; }},
        {IDC_MIDI_SYNC_WHILE_PLAYING,
         [](const MidiDeviceSettings& d) { return d.syncWhilePlaying; }},
        {IDC_MIDI_FILTER_CC, [](const MidiDeviceSettings& d) { return d.filterCCMessages; }},
        {IDC_MIDI_FILTER_PROGRAMS,
         [](const MidiDeviceSettings& d) { return d.filterProgramChanges; }}};
    for (const auto& check : boxes) {
        EXPECT_FALSE(check.set(s)) << check.id;
        click(check.id);
        EXPECT_TRUE(check.set(s)) << check.id;
    }
    choose(IDC_MIDI_CHANNEL, 10);
    choose(IDC_MIDI_RANGE_LOW, 36);
    choose(IDC_MIDI_RANGE_HIGH, 12); // below the lowest: the lists are not compared
    EXPECT_EQ(s.channel, 10);
    EXPECT_EQ(s.keyboardRangeLeft, 36);
    EXPECT_EQ(s.keyboardRangeRight, 12);
    spin(-1);
    EXPECT_EQ(delayText(), "1");
    spin(1);
    spin(1);
    EXPECT_EQ(delayText(), "-1");
    EXPECT_EQ(s.delay, -1);
    EXPECT_FALSE(known(kIn1, true)->filterCCMessages); // the other input untouched

    // The first input shows its own options, the second's come back.
    clickInput(0);
    EXPECT_FALSE(isChecked(IDC_MIDI_FILTER_CC));
    EXPECT_EQ(chosen(IDC_MIDI_CHANNEL), 0);
    EXPECT_EQ(delayText(), "0");
    clickInput(1);
    EXPECT_TRUE(isChecked(IDC_MIDI_FILTER_CC));
    EXPECT_EQ(chosen(IDC_MIDI_RANGE_LOW), 36);
    EXPECT_EQ(chosen(IDC_MIDI_RANGE_HIGH), 12);
    EXPECT_EQ(delayText(), "-1");

    command(IDC_MIDI_APPLY, BN_CLICKED);
    EXPECT_FALSE(enabled(IDC_MIDI_APPLY));
    const struct {
        const char* value;
        int stored;
    } values[] = {{"active", 0},
                  {"sync", 1},
                  {"syncWhilePlaying", 1},
                  {"filterCCMessages", 1},
                  {"filterProgramChanges", 1},
                  {"delay", -1},
                  {"channel", 10},
                  {"keyboardRangeLeft", 36},
                  {"keyboardRangeRight", 12}};
    for (const auto& value : values)
        EXPECT_EQ(storedValue(kIn2, true, value.value), value.stored) << value.value;

    choose(IDC_MIDI_OUTPUT, 1);
    EXPECT_TRUE(enabled(IDC_MIDI_APPLY));
    EXPECT_FALSE(known(kOut1, false)->active); // chosen, not yet applied
    command(IDOK, BN_CLICKED);
    EXPECT_FALSE(dialogOpen());
    EXPECT_TRUE(known(kOut1, false)->active);
    EXPECT_EQ(window->hostEngine().midiOutDevice, present(kOut1, false));
}

TEST_F(MidiSettingsDialogWine, TheSpinsArrowsRaiseAndLowerTheDelay) {
    openMainWindow();
    openDialog();
    clickInput(0);
    HWND arrows = item(IDC_MIDI_DELAY_SPIN);
    RECT area{};
    GetClientRect(arrows, &area);
    const LPARAM up = MAKELPARAM(area.right / 2, area.bottom / 4);
    const LPARAM down = MAKELPARAM(area.right / 2, area.bottom * 3 / 4);
    SendMessageA(arrows, WM_LBUTTONDOWN, MK_LBUTTON, up);
    SendMessageA(arrows, WM_LBUTTONUP, 0, up);
    EXPECT_EQ(delayText(), "1");
    EXPECT_EQ(known(kIn1, true)->delay, 1);
    for (int press = 0; press < 2; ++press) {
        SendMessageA(arrows, WM_LBUTTONDOWN, MK_LBUTTON, down);
        SendMessageA(arrows, WM_LBUTTONUP, 0, down);
    }
    EXPECT_EQ(delayText(), "-1");
    EXPECT_EQ(known(kIn1, true)->delay, -1);
}

TEST_F(MidiSettingsDialogWine, PluginWithoutMidiOutputHasTheOutputListDisabled) {
    openMainWindow("KsTestSynth");
    openDialog();
    EXPECT_TRUE(enabled(IDC_MIDI_INPUTS));
    EXPECT_FALSE(enabled(IDC_MIDI_OUTPUT));
    EXPECT_EQ(SendMessageA(item(IDC_MIDI_OUTPUT), CB_GETCOUNT, 0, 0), 4); // filled all the same
}

// The icon directories as built into the program, not an image the loader
// has already fitted to the size and depth asked for.
TEST_F(MidiSettingsDialogWine, StatusIconsAreSixteenPixelsWithThirtyTwoBits) {
    for (int id : {IDI_MIDI_INPUT_INACTIVE, IDI_MIDI_INPUT_ACTIVE, IDI_MIDI_INPUT_SYNCED}) {
        HMODULE program = GetModuleHandleA(nullptr);
        HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), kIconDirectory);
        ASSERT_NE(found, nullptr) << id;
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(program, found)));
        const DWORD size = SizeofResource(program, found);
        ASSERT_NE(bytes, nullptr) << id;
        ASSERT_GE(size, 6u) << id;
        const WORD count = wordAt(bytes + 4);
        ASSERT_GE(count, 1) << id;
        ASSERT_GE(size, 6u + 14u * count) << id;
        for (WORD n = 0; n < count; ++n) {
            const BYTE* entry = bytes + 6 + 14 * n; // width, height, ..., bit count at 6
            EXPECT_EQ(entry[0], 16) << id;
            EXPECT_EQ(entry[1], 16) << id;
            EXPECT_EQ(wordAt(entry + 6), 32) << id;
        }
    }
}

TEST_F(MidiSettingsDialogWine, ItemsAreEighteenPixelsHighOrAThirdOfTheListWhenDpiAware) {
    for (bool aware : {false, true}) {
        if (aware)
            SetProcessDPIAware(); // this test's process only
        openMainWindow();
        openDialog();
        RECT outer{};
        GetWindowRect(item(IDC_MIDI_INPUTS), &outer);
        const int expected = aware ? (outer.bottom - outer.top) / 3 : CListBoxCH::kItemHeight;
        for (WPARAM index : {0, 1})
            EXPECT_EQ(SendMessageA(item(IDC_MIDI_INPUTS), LB_GETITEMHEIGHT, index, 0), expected)
                << aware;
        TearDown();
    }
}

// A driver without devices, as on a system without MIDI.
class NoMidiDevices : public KsMidiBase {
public:
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
              void*) override {
        return false;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
};

// The dialog on its own, without a main window: it deletes itself when
// its window goes.
TEST(MidiSettingsDialogAlone, WithoutInputsOrWithoutSettingsTheOptionsStayDisabled) {
    KsVSTHostInterface engine;
    NoMidiDevices driver;
    KsVSTHostLib hostLib;
    HostSettings settings("KsMidiDialogAlone", false);
    const struct {
        HostSettings* settings;
        LRESULT channels;
    } rows[] = {{&settings, 17}, {nullptr, 0}};
    for (const auto& row : rows) {
        Dialog* reference = nullptr;
        auto* dialog =
            new CPropMidiDevicesDlg(&engine, &driver, &hostLib, row.settings, &reference);
        ASSERT_TRUE(dialog->createModeless(nullptr));
        reference = dialog;
        HWND box = dialog->handle();
        EXPECT_EQ(SendDlgItemMessageA(box, IDC_MIDI_INPUTS, LB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(SendDlgItemMessageA(box, IDC_MIDI_CHANNEL, CB_GETCOUNT, 0, 0), row.channels);
        SendMessageA(GetDlgItem(box, IDC_MIDI_INPUTS), WM_KEYDOWN, VK_DOWN, 0);
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_MIDI_INPUTS, LBN_SELCHANGE), 0);
        if (row.settings != nullptr) {
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, IDC_MIDI_ACTIVE)));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, IDC_MIDI_APPLY)));
            // No plug-in: neither list takes part.
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, IDC_MIDI_INPUTS)));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, IDC_MIDI_OUTPUT)));
        }
        SendMessageA(box, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(box));
        EXPECT_EQ(reference, nullptr);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, pluginKey("KsMidiDialogAlone").c_str());
}

} // namespace
