// The Audio Settings dialog under Wine, driven by messages, on the real
// WASAPI driver, the test ASIO drivers, a real engine and a test plug-in.

#include "AudioSettingsLogic.h"
#include "CKsVSTHostDlg.h"
#include "CPropAudioDevicesDlg.h"
#include "EngineTestSupport.h"
#include "KsASIO.h"
#include "KsWASAPI.h"
#include "TestAsioEnvironment.h"
#include "WindowCapture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kA = TestAsioEnvironment::kDriverA;
constexpr int kB = TestAsioEnvironment::kDriverB;

struct ShownMessage {
    std::string text;
    std::string caption;
};

void collectMessage(HWND, const char* text, const char* caption, void* user) {
    static_cast<std::vector<ShownMessage>*>(user)->push_back({text, caption});
}

// Runs the main window's loop over what is pending, as its program would.
void pumpPending(CKsVSTHostDlg& main) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        main.processMessage(message);
}

bool closeMainWindow(CKsVSTHostDlg& main) {
    PostMessageA(main.handle(), WM_CLOSE, 0, 0);
    for (int round = 0; round < 3000 && main.mainWindowOpen(); ++round) {
        pumpPending(main);
        Sleep(5);
    }
    return !main.mainWindowOpen();
}

int countAudioSettingsWindows() {
    int found = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM counter) -> BOOL {
            char caption[64] = {};
            GetWindowTextA(window, caption, sizeof caption);
            if (std::string(caption) == "Audio Settings")
                ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        LPARAM(&found));
    return found;
}

const std::vector<int> kInputControls{IDC_AUDIO_INPUTDEVICE, IDC_AUDIO_LEFTINPUT,
                                      IDC_AUDIO_RIGHTINPUT, IDC_AUDIO_INPUTSAMPLESSPIN,
                                      IDC_AUDIO_INPUTMSSPIN};
const std::vector<int> kOutputLatencyControls{IDC_AUDIO_OUTPUTSAMPLES, IDC_AUDIO_OUTPUTMS,
                                              IDC_AUDIO_OUTPUTSAMPLESSPIN, IDC_AUDIO_OUTPUTMSSPIN};

class AudioSettingsWine : public EngineTest {
protected:
    explicit AudioSettingsWine(const char* plugin = "KsTestEffect") : EngineTest(plugin) {
        // The real pair: WASAPI over Wine's endpoints, ASIO over the test drivers.
        drivers = std::make_unique<AudioDriverPair>(std::make_unique<KsWASAPI>(),
                                                    std::make_unique<KsASIO>());
        engine.attach(&lib, drivers.get(), &midi, settings.get());
        setUserMessageSink(collectMessage, &shown);
    }
    ~AudioSettingsWine() override {
        if (reference != nullptr)
            DestroyWindow(reference->handle());
        engine.stopAudio();
        setUserMessageSink(nullptr, nullptr);
    }

    void SetUp() override {
        ASSERT_TRUE(environment.ready());
        ASSERT_FALSE(drivers->wasapi->devices.empty());
    }

public:
    void openDialog(bool atStartup = false) {
        dialog = CPropAudioDevicesDlg::open(*drivers, lib, *settings, engine, atStartup, nullptr,
                                            reference);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(reference, dialog);
    }

    KsASIO& asio() { return static_cast<KsASIO&>(*drivers->asio); }
    AudioDeviceSettings* find(KsAudioBase& driver, int32_t type, bool isInput,
                              const std::string& name = "") {
        for (auto& device : driver.devices)
            if (device->type == type && device->isInput == isInput &&
                (name.empty() || device->name == name))
                return device.get();
        return nullptr;
    }
    // The ASIO drivers' names in list order (the order of their keys).
    std::vector<std::string> asioNames() {
        std::vector<std::string> names;
        for (auto& device : asio().devices)
            if (!device->isInput)
                names.push_back(device->name);
        return names;
    }
    int indexOf(int listId, const AudioDeviceSettings* device) {
        for (int k = 0; k < int(items(listId).size()); ++k)
            if (itemData(listId, k) == reinterpret_cast<LPARAM>(device))
                return k;
        return -1;
    }
    AudioDeviceSettings* asioEntry(int which, bool isInput) {
        return find(asio(), audioDeviceAsio, isInput, TestAsioEnvironment::name(which));
    }

    HWND window() const { return reference != nullptr ? reference->handle() : nullptr; }
    HWND item(int id) const { return GetDlgItem(window(), id); }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    std::string text(int id) const {
        char buffer[256] = {};
        GetWindowTextA(item(id), buffer, sizeof buffer);
        return buffer;
    }
    std::vector<std::string> items(int id) const {
        std::vector<std::string> result;
        const auto count = SendMessageA(item(id), CB_GETCOUNT, 0, 0);
        for (LRESULT k = 0; k < count; ++k) {
            char buffer[256] = {};
            SendMessageA(item(id), CB_GETLBTEXT, WPARAM(k), LPARAM(buffer));
            result.emplace_back(buffer);
        }
        return result;
    }
    int selection(int id) const { return int(SendMessageA(item(id), CB_GETCURSEL, 0, 0)); }
    LPARAM itemData(int id, int index) const {
        return SendMessageA(item(id), CB_GETITEMDATA, WPARAM(index), 0);
    }
    void command(int id, int notification) {
        SendMessageA(window(), WM_COMMAND, MAKEWPARAM(id, notification), LPARAM(item(id)));
    }
    void select(int id, int index) {
        SendMessageA(item(id), CB_SETCURSEL, WPARAM(index), 0);
        command(id, CBN_SELCHANGE);
    }
    void selectType(int32_t code) {
        for (int k = 0; k < int(items(IDC_AUDIO_TYPE).size()); ++k)
            if (itemData(IDC_AUDIO_TYPE, k) == code)
                return select(IDC_AUDIO_TYPE, k);
        ADD_FAILURE() << "no type " << code;
    }
    void selectDevice(int listId, const AudioDeviceSettings* device) {
        const int index = indexOf(listId, device);
        ASSERT_GE(index, 0) << "device not listed in " << listId;
        select(listId, index);
    }
    // Up is -1, down +1, as the arrows propose.
    void arrow(int id, int proposedChange) {
        NMUPDOWN change{};
        change.hdr.hwndFrom = item(id);
        change.hdr.idFrom = UINT_PTR(id);
        change.hdr.code = UDN_DELTAPOS;
        change.iDelta = proposedChange;
        SendMessageA(window(), WM_NOTIFY, WPARAM(id), LPARAM(&change));
    }
    // Lets the window and its controls draw themselves on the screen.
    void paint() {
        SetWindowPos(window(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        RedrawWindow(window(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        for (int round = 0; round < 50; ++round) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            Sleep(10);
        }
    }
    // As the user types: the field changes and tells the dialog.
    void type(int id, const char* value) { SetWindowTextA(item(id), value); }
    void startEngineOn(AudioDeviceSettings* input, AudioDeviceSettings* output) {
        settings->inputDevice = input;
        settings->outputDevice = output;
        ASSERT_TRUE(engine.startAudio());
    }
    std::string hostValue(const char* name) const {
        char buffer[512] = {};
        DWORD size = sizeof buffer;
        const std::string key = "Software\\Kestrune\\" + pluginName + "\\Host";
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer,
                         &size) != ERROR_SUCCESS)
            return "<none>";
        return buffer;
    }
    int32_t hostNumber(const char* name) const {
        DWORD value = 0;
        DWORD size = sizeof value;
        const std::string key = "Software\\Kestrune\\" + pluginName + "\\Host";
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                         &size) != ERROR_SUCCESS)
            return -12345;
        return int32_t(value);
    }

    TestAsioEnvironment environment;
    std::vector<ShownMessage> shown;
    Dialog* reference = nullptr;
    CPropAudioDevicesDlg* dialog = nullptr;
};

class AudioSettingsInstrumentWine : public AudioSettingsWine {
protected:
    AudioSettingsInstrumentWine() : AudioSettingsWine("KsTestSynth") {}
};

} // namespace

TEST_F(AudioSettingsInstrumentWine, OffersEveryTypeKeepsInputsDisabledAndStoresTheInputOnApply) {
    openDialog();
    EXPECT_EQ(items(IDC_AUDIO_TYPE), (std::vector<std::string>{"WASAPI (Shared Mode)",
                                                               "WASAPI (Exclusive Mode)", "ASIO"}));
    EXPECT_EQ(itemData(IDC_AUDIO_TYPE, 0), audioDeviceWasapiShared);
    EXPECT_EQ(itemData(IDC_AUDIO_TYPE, 1), audioDeviceWasapiExclusive);
    EXPECT_EQ(itemData(IDC_AUDIO_TYPE, 2), audioDeviceAsio);
    EXPECT_EQ(selection(IDC_AUDIO_TYPE), 0); // nothing stored yet
    for (int id : kInputControls)
        EXPECT_FALSE(enabled(id)) << id;
    for (int id : kOutputLatencyControls)
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(enabled(IDC_AUDIO_APPLY));
    EXPECT_FALSE(enabled(IDC_AUDIO_CONTROLPANEL));

    // The input list keeps a selection, but nothing is probed for it.
    ASSERT_GE(selection(IDC_AUDIO_INPUTDEVICE), 0);
    auto* input = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_INPUTDEVICE, selection(IDC_AUDIO_INPUTDEVICE)));
    EXPECT_TRUE(input->isDefault);
    EXPECT_FALSE(input->infoValid);
    EXPECT_TRUE(items(IDC_AUDIO_LEFTINPUT).empty());
    EXPECT_TRUE(items(IDC_AUDIO_RIGHTINPUT).empty());
    EXPECT_EQ(text(IDC_AUDIO_INPUTSAMPLES), "0");

    auto* output = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_OUTPUTDEVICE, selection(IDC_AUDIO_OUTPUTDEVICE)));
    EXPECT_TRUE(output->isDefault);
    EXPECT_TRUE(output->infoValid);
    EXPECT_EQ(items(IDC_AUDIO_LEFTOUTPUT), output->channelNames);
    EXPECT_EQ(selection(IDC_AUDIO_LEFTOUTPUT), 0);
    EXPECT_EQ(selection(IDC_AUDIO_RIGHTOUTPUT), 1);
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), std::to_string(output->bufferSize));
    EXPECT_TRUE(shown.empty());

    // Apply stores the input; the engine drops it from the settings as it
    // starts an instrument.
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    EXPECT_TRUE(engine.running.load());
    EXPECT_FALSE(enabled(IDC_AUDIO_APPLY));
    EXPECT_EQ(settings->outputDevice, output);
    EXPECT_EQ(hostValue("AudioDeviceIn Name"), input->name);
    EXPECT_EQ(hostValue("AudioDeviceOut Name"), output->name);
    EXPECT_EQ(hostNumber("AudioDeviceType"), audioDeviceWasapiShared);
}

TEST_F(AudioSettingsInstrumentWine, ExclusiveLatencyFieldsConvertAndStopAtTheirLimits) {
    AudioDeviceSettings* shared = find(*drivers->wasapi, audioDeviceWasapiShared, false);
    startEngineOn(nullptr, shared);
    openDialog();
    EXPECT_TRUE(engine.running.load()); // opening stops nothing
    selectType(audioDeviceWasapiExclusive);
    EXPECT_FALSE(engine.running.load());
    for (int id : kOutputLatencyControls)
        EXPECT_TRUE(enabled(id)) << id;
    EXPECT_FALSE(enabled(IDC_AUDIO_CONTROLPANEL));
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY));
    auto* output = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_OUTPUTDEVICE, selection(IDC_AUDIO_OUTPUTDEVICE)));
    ASSERT_EQ(output->type, audioDeviceWasapiExclusive);
    ASSERT_DOUBLE_EQ(output->sampleRate, 48000.0);
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), "256");
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTMS), "5.3");

    const struct Step {
        std::function<void(AudioSettingsWine&)> act;
        const char* samples;
        const char* ms;
    } steps[] = {
        {[](auto& t) { t.type(IDC_AUDIO_OUTPUTSAMPLES, "9096"); }, "9096", "189.5"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTSAMPLESSPIN, -1); }, "9096", "189.5"},
        {[](auto& t) { t.type(IDC_AUDIO_OUTPUTSAMPLES, "3"); }, "3", "0.1"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTSAMPLESSPIN, 1); }, "2", "0"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTSAMPLESSPIN, 1); }, "2", "0"},
        {[](auto& t) { t.type(IDC_AUDIO_OUTPUTSAMPLES, "256"); }, "256", "5.3"},
        {[](auto& t) { t.type(IDC_AUDIO_OUTPUTMS, "4.9"); }, "235", "4.9"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTMSSPIN, -1); }, "240", "5"},
        {[](auto& t) { t.type(IDC_AUDIO_OUTPUTMS, "0.2"); }, "9", "0.2"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTMSSPIN, 1); }, "9", "0.2"},
        {[](auto& t) { t.arrow(IDC_AUDIO_OUTPUTMSSPIN, -1); }, "14", "0.3"},
    };
    for (size_t k = 0; k < std::size(steps); ++k) {
        steps[k].act(*this);
        EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), steps[k].samples) << "step " << k;
        EXPECT_EQ(text(IDC_AUDIO_OUTPUTMS), steps[k].ms) << "step " << k;
        EXPECT_EQ(std::to_string(output->bufferSize), steps[k].samples) << "step " << k;
        EXPECT_EQ(dialog->outputSamplesField(), output->bufferSize) << "step " << k;
    }
    EXPECT_TRUE(shown.empty());

    // Keys typed one by one land where the caret is.
    type(IDC_AUDIO_OUTPUTSAMPLES, "25");
    SendMessageA(item(IDC_AUDIO_OUTPUTSAMPLES), EM_SETSEL, 2, 2);
    for (char key : {'6', '0'})
        SendMessageA(item(IDC_AUDIO_OUTPUTSAMPLES), WM_CHAR, WPARAM(key), 0);
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), "2560");
    EXPECT_EQ(output->bufferSize, 2560);
    type(IDC_AUDIO_OUTPUTSAMPLES, "14");

    // A field without a number says so and keeps its value.
    type(IDC_AUDIO_OUTPUTSAMPLES, "12x");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Enter an integer.");
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), "14");
    EXPECT_EQ(output->bufferSize, 14);

    // Closing keeps the entry's size but not the choice, and starts nothing.
    SendMessageA(window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(reference, nullptr);
    EXPECT_FALSE(engine.running.load());
    EXPECT_EQ(settings->outputDevice, shared);
    EXPECT_EQ(output->bufferSize, 14);
}

TEST_F(AudioSettingsWine, EffectGetsNoExclusiveModeShowsItsInputLatencyAndOkApplies) {
    openDialog(true);
    EXPECT_EQ(items(IDC_AUDIO_TYPE), (std::vector<std::string>{"WASAPI (Shared Mode)", "ASIO"}));
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY)); // at start-up
    for (int id : {IDC_AUDIO_INPUTDEVICE, IDC_AUDIO_LEFTINPUT, IDC_AUDIO_RIGHTINPUT})
        EXPECT_TRUE(enabled(id)) << id;
    auto* input = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_INPUTDEVICE, selection(IDC_AUDIO_INPUTDEVICE)));
    ASSERT_TRUE(input->infoValid);
    EXPECT_EQ(items(IDC_AUDIO_LEFTINPUT), input->channelNames);
    EXPECT_EQ(selection(IDC_AUDIO_LEFTINPUT), 0);
    EXPECT_EQ(selection(IDC_AUDIO_RIGHTINPUT), 1);
    // The input's own latency, as its stream reports it.
    EXPECT_GT(input->latency, 0);
    EXPECT_EQ(text(IDC_AUDIO_INPUTSAMPLES), std::to_string(input->latency));
    EXPECT_GT(dialog->inputMsField(), 0.0);

    std::string folder = platform::executableDirectory() + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    paint();
    EXPECT_TRUE(captureWindowToBmp(window(), folder + "\\audio-settings.bmp"));

    // Applied on the test ASIO driver, whose stream ends at once.
    selectType(audioDeviceAsio);
    selectDevice(IDC_AUDIO_INPUTDEVICE, asioEntry(kA, true));
    selectDevice(IDC_AUDIO_OUTPUTDEVICE, asioEntry(kA, false));
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    ASSERT_TRUE(engine.running.load());
    EXPECT_FALSE(enabled(IDC_AUDIO_APPLY));
    EXPECT_EQ(settings->inputDevice, asioEntry(kA, true));
    auto* output = settings->outputDevice;
    ASSERT_EQ(output, asioEntry(kA, false));

    // A channel goes into the entry and asks for Apply; the stream goes on.
    select(IDC_AUDIO_RIGHTOUTPUT, 0);
    EXPECT_EQ(output->rightChannel, 0);
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY));
    EXPECT_TRUE(engine.running.load());
    command(IDOK, BN_CLICKED);
    EXPECT_EQ(reference, nullptr);
    EXPECT_TRUE(engine.running.load());
    EXPECT_EQ(hostNumber("AudioDeviceOut Right"), 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(AudioSettingsWine, AsioApplyTakesThePreferredSizeAndTheControlPanelAsksForApply) {
    environment.configure(kA, "preferredSize 128\ninputs 4\noutputs 4\n");
    openDialog();
    selectType(audioDeviceAsio);
    EXPECT_TRUE(enabled(IDC_AUDIO_CONTROLPANEL));
    for (int id : kOutputLatencyControls)
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_EQ(items(IDC_AUDIO_OUTPUTDEVICE), asioNames());
    EXPECT_EQ(selection(IDC_AUDIO_OUTPUTDEVICE), 0);
    AudioDeviceSettings* output = asioEntry(kA, false);
    selectDevice(IDC_AUDIO_INPUTDEVICE, asioEntry(kA, true));
    selectDevice(IDC_AUDIO_OUTPUTDEVICE, output);
    EXPECT_EQ(items(IDC_AUDIO_LEFTOUTPUT).size(), 4u);
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), "128");
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTMS), "2.7");
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    ASSERT_TRUE(asio().running);

    EXPECT_FALSE(enabled(IDC_AUDIO_APPLY));
    // The panel may run its own loop without an owner: the window waits
    // disabled meanwhile, so nothing closes it under its handler.
    struct Panel {
        HWND dialog;
        int enabledDuring = -1;
    } panel{window()};
    environment.instance(kA).onControlPanelUser = &panel;
    environment.instance(kA).onControlPanel = [](void* user) {
        auto* seen = static_cast<Panel*>(user);
        seen->enabledDuring = IsWindowEnabled(seen->dialog) ? 1 : 0;
    };
    command(IDC_AUDIO_CONTROLPANEL, BN_CLICKED);
    environment.instance(kA).onControlPanel = nullptr;
    EXPECT_EQ(environment.instance(kA).controlPanels.load(), 1);
    EXPECT_EQ(panel.enabledDuring, 0);
    EXPECT_TRUE(IsWindowEnabled(window()));
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY));

    // What the panel changed is read again on Apply.
    environment.configure(kA, "preferredSize 384\ninputs 4\noutputs 4\ncontrolPanelResult -1000\n");
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTSAMPLES), "384");
    EXPECT_EQ(text(IDC_AUDIO_OUTPUTMS), "8");
    EXPECT_EQ(output->bufferSize, 384);
    ASSERT_TRUE(engine.running.load());
    EXPECT_TRUE(asio().running);
    EXPECT_EQ(settings->outputDevice, output);
    EXPECT_EQ(settings->inputDevice, asioEntry(kA, true));
    EXPECT_EQ(hostNumber("AudioDeviceType"), audioDeviceAsio);
    EXPECT_EQ(hostNumber("AudioDeviceOut BufferSize"), 384);
    // The input latency the running driver reports.
    EXPECT_GT(asio().inputLatency, 0);
    EXPECT_EQ(text(IDC_AUDIO_INPUTSAMPLES), std::to_string(asio().inputLatency));
    EXPECT_EQ(text(IDC_AUDIO_INPUTMS), "8"); // 384 samples at 48 kHz

    command(IDC_AUDIO_CONTROLPANEL, BN_CLICKED);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kControlPanelFailedText);
    EXPECT_EQ(shown[0].caption, "Error");
}

TEST_F(AudioSettingsWine, AnotherOutputShowsItsFirstChannelsUntilOneIsPicked) {
    environment.configure(kB, "outputs 4\n");
    AudioDeviceSettings* other = asioEntry(kB, false);
    other->leftChannel = 3;
    other->rightChannel = 2;
    settings->inputDevice = asioEntry(kA, true);
    settings->outputDevice = asioEntry(kA, false);
    openDialog();
    EXPECT_EQ(itemData(IDC_AUDIO_TYPE, selection(IDC_AUDIO_TYPE)), audioDeviceAsio);
    selectDevice(IDC_AUDIO_OUTPUTDEVICE, other);
    EXPECT_EQ(selection(IDC_AUDIO_LEFTOUTPUT), 0);
    EXPECT_EQ(selection(IDC_AUDIO_RIGHTOUTPUT), 1);
    EXPECT_EQ(other->leftChannel, 3);
    EXPECT_EQ(other->rightChannel, 2);
    select(IDC_AUDIO_LEFTOUTPUT, 2);
    EXPECT_EQ(other->leftChannel, 2);
    EXPECT_EQ(other->rightChannel, 2);
    EXPECT_EQ(settings->outputDevice, asioEntry(kA, false));
}

TEST_F(AudioSettingsWine, FailedProbesAndStartsAreReportedAndNothingIsUndone) {
    environment.configure(kB, "initFails 1\n");
    openDialog();
    selectType(audioDeviceAsio);
    shown.clear();
    AudioDeviceSettings* broken = asioEntry(kB, false);
    selectDevice(IDC_AUDIO_OUTPUTDEVICE, broken);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kDeviceInfoFailedText);
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_TRUE(items(IDC_AUDIO_LEFTOUTPUT).empty());

    shown.clear();
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, kDeviceInfoFailedText);
    EXPECT_EQ(shown[1].text, kAudioSettingsStartFailedText);
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY));
    EXPECT_FALSE(engine.running.load());
    EXPECT_EQ(settings->outputDevice, broken);
    EXPECT_EQ(hostValue("AudioDeviceOut Name"), broken->name);
    EXPECT_EQ(broken->bufferSize, 512); // no preferred size was read
}

// Each control, from a state where Apply is off, reaches its handler.
TEST_F(AudioSettingsWine, EveryControlReachesItsHandler) {
    for (int which : {kA, kB})
        environment.configure(which, "inputs 4\noutputs 4\n");
    openDialog();
    selectType(audioDeviceAsio);
    const struct Row {
        int id;
        std::function<void(AudioSettingsWine&)> act;
    } rows[] = {
        {IDC_AUDIO_TYPE, [](auto& t) { t.select(IDC_AUDIO_TYPE, 1); }},
        {IDC_AUDIO_INPUTDEVICE, [](auto& t) { t.select(IDC_AUDIO_INPUTDEVICE, 0); }},
        {IDC_AUDIO_OUTPUTDEVICE, [](auto& t) { t.select(IDC_AUDIO_OUTPUTDEVICE, 0); }},
        {IDC_AUDIO_LEFTINPUT, [](auto& t) { t.select(IDC_AUDIO_LEFTINPUT, 2); }},
        {IDC_AUDIO_RIGHTINPUT, [](auto& t) { t.select(IDC_AUDIO_RIGHTINPUT, 3); }},
        {IDC_AUDIO_LEFTOUTPUT, [](auto& t) { t.select(IDC_AUDIO_LEFTOUTPUT, 1); }},
        {IDC_AUDIO_RIGHTOUTPUT, [](auto& t) { t.select(IDC_AUDIO_RIGHTOUTPUT, 0); }},
        {IDC_AUDIO_OUTPUTSAMPLESSPIN, [](auto& t) { t.arrow(IDC_AUDIO_OUTPUTSAMPLESSPIN, -1); }},
        {IDC_AUDIO_OUTPUTMSSPIN, [](auto& t) { t.arrow(IDC_AUDIO_OUTPUTMSSPIN, -1); }},
        {IDC_AUDIO_OUTPUTSAMPLES, [](auto& t) { t.type(IDC_AUDIO_OUTPUTSAMPLES, "300"); }},
        {IDC_AUDIO_OUTPUTMS, [](auto& t) { t.type(IDC_AUDIO_OUTPUTMS, "6"); }},
        {IDC_AUDIO_CONTROLPANEL, [](auto& t) { t.command(IDC_AUDIO_CONTROLPANEL, BN_CLICKED); }},
    };
    for (const Row& row : rows) {
        command(IDC_AUDIO_APPLY, BN_CLICKED);
        ASSERT_TRUE(engine.running.load()) << row.id;
        ASSERT_FALSE(enabled(IDC_AUDIO_APPLY)) << row.id;
        row.act(*this);
        EXPECT_TRUE(enabled(IDC_AUDIO_APPLY)) << row.id;
    }
    auto* input = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_INPUTDEVICE, selection(IDC_AUDIO_INPUTDEVICE)));
    auto* output = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_OUTPUTDEVICE, selection(IDC_AUDIO_OUTPUTDEVICE)));
    EXPECT_EQ(input->leftChannel, 2);
    EXPECT_EQ(input->rightChannel, 3);
    EXPECT_EQ(output->leftChannel, 1);
    EXPECT_EQ(output->rightChannel, 0);
    EXPECT_TRUE(shown.empty());
}

// OK with Apply off, Escape's IDCANCEL and the close box close without
// starting or stopping anything.
TEST_F(AudioSettingsWine, ClosingWithoutChangesLeavesTheEngineAlone) {
    startEngineOn(asioEntry(kA, true), asioEntry(kA, false));
    const std::function<void(AudioSettingsWine&)> closings[] = {
        [](auto& t) { t.command(IDOK, BN_CLICKED); },
        [](auto& t) { t.command(IDCANCEL, BN_CLICKED); },
        [](auto& t) { SendMessageA(t.window(), WM_CLOSE, 0, 0); },
    };
    for (size_t k = 0; k < std::size(closings); ++k) {
        openDialog();
        const int starts = environment.instance(kA).starts.load();
        ASSERT_FALSE(enabled(IDC_AUDIO_APPLY));
        closings[k](*this);
        EXPECT_EQ(reference, nullptr) << k;
        EXPECT_TRUE(engine.running.load()) << k;
        EXPECT_EQ(environment.instance(kA).starts.load(), starts) << k;
    }
}

// A stored output that cannot start opens the dialog at start-up, ready to
// apply; the menu command then keeps at most one.
TEST(AudioSettingsMainWindowWine, AnOutputThatCannotStartOpensTheOneDialogAtStartUp) {
    std::vector<ShownMessage> shown;
    setUserMessageSink(collectMessage, &shown);
    const char* hostKey = "Software\\Kestrune\\KsTestSynth\\Host";
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kestrune\\KsTestSynth");
    const DWORD exclusive = audioDeviceWasapiExclusive;
    const DWORD tooSmall = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, hostKey, "AudioDeviceType", REG_DWORD, &exclusive,
                    sizeof exclusive);
    RegSetKeyValueA(HKEY_CURRENT_USER, hostKey, "AudioDeviceOut Name", REG_SZ, "Out: default", 13);
    RegSetKeyValueA(HKEY_CURRENT_USER, hostKey, "AudioDeviceOut BufferSize", REG_DWORD, &tooSmall,
                    sizeof tooSmall);
    {
        CKsVSTHostDlg main(testPluginPath("KsTestSynth"));
        // A shutdown here ends with the stream stopped, never by ending the process.
        main.setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
        ASSERT_TRUE(main.createMainWindow());
        pumpPending(main);
        EXPECT_FALSE(main.hostEngine().running.load());
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown[0].text, kAudioSettingsStartFailedText);
        HWND dialog = FindWindowA(nullptr, "Audio Settings");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), main.handle());
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_AUDIO_APPLY)));

        // The command keeps one dialog; once closed, it opens a new one.
        SendMessageA(main.handle(), WM_COMMAND, ID_FILE_AUDIOSETTINGS, 0);
        EXPECT_EQ(countAudioSettingsWindows(), 1);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(countAudioSettingsWindows(), 0);
        SendMessageA(main.handle(), WM_COMMAND, ID_FILE_AUDIOSETTINGS, 0);
        EXPECT_EQ(countAudioSettingsWindows(), 1);
        EXPECT_FALSE(
            IsWindowEnabled(GetDlgItem(FindWindowA(nullptr, "Audio Settings"), IDC_AUDIO_APPLY)));
        // The main window takes an open dialog down with it.
        EXPECT_TRUE(closeMainWindow(main));
        EXPECT_EQ(countAudioSettingsWindows(), 0);
    }
    setUserMessageSink(nullptr, nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kestrune\\KsTestSynth");
}

// Opening keeps a running stream unless showing the stored ASIO output
// would have to load its driver first.
TEST_F(AudioSettingsWine, OpeningStopsTheEngineOnlyForAnUnreadAsioOutput) {
    for (const bool unread : {false, true}) {
        startEngineOn(asioEntry(kA, true), asioEntry(kA, false));
        asioEntry(kA, false)->infoValid = !unread;
        openDialog();
        EXPECT_EQ(engine.running.load(), !unread) << unread;
        EXPECT_TRUE(asioEntry(kA, false)->infoValid) << unread;
        EXPECT_TRUE(shown.empty()) << unread;
        SendMessageA(window(), WM_CLOSE, 0, 0);
    }
}

// With no input stored the effect's first ASIO input is shown; reading it
// needs the driver, so the stream stops first instead of failing the read.
TEST_F(AudioSettingsWine, OpeningStopsTheEngineForAnUnreadAsioInput) {
    startEngineOn(nullptr, asioEntry(kA, false));
    for (auto& device : asio().devices)
        if (device->isInput)
            device->infoValid = false;
    openDialog();
    EXPECT_FALSE(engine.running.load());
    auto* input = reinterpret_cast<AudioDeviceSettings*>(
        itemData(IDC_AUDIO_INPUTDEVICE, selection(IDC_AUDIO_INPUTDEVICE)));
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->type, audioDeviceAsio);
    EXPECT_TRUE(input->infoValid);
    EXPECT_FALSE(items(IDC_AUDIO_LEFTINPUT).empty());
    EXPECT_TRUE(shown.empty());
}

// The running driver's own input is read when its stream starts: the window
// shows it and the stream goes on.
TEST_F(AudioSettingsWine, OpeningKeepsTheStreamForTheRunningDriversOwnInput) {
    AudioDeviceSettings* firstInput = nullptr; // the one shown when none is stored
    for (auto& device : asio().devices)
        if (device->isInput) {
            device->infoValid = false;
            if (firstInput == nullptr)
                firstInput = device.get();
        }
    ASSERT_NE(firstInput, nullptr);
    AudioDeviceSettings* output = nullptr;
    for (auto& device : asio().devices)
        if (!device->isInput && device->index == firstInput->index)
            output = device.get();
    ASSERT_NE(output, nullptr);
    startEngineOn(nullptr, output);
    openDialog();
    EXPECT_TRUE(engine.running.load());
    EXPECT_EQ(itemData(IDC_AUDIO_INPUTDEVICE, selection(IDC_AUDIO_INPUTDEVICE)),
              reinterpret_cast<LPARAM>(firstInput));
    EXPECT_FALSE(items(IDC_AUDIO_LEFTINPUT).empty());
    EXPECT_TRUE(shown.empty());
}

// A stream that will not end keeps its pair: Apply says so and changes nothing.
TEST_F(AudioSettingsWine, ApplyLeavesThePairWhileTheStreamWillNotEnd) {
    openDialog();
    selectType(audioDeviceAsio);
    selectDevice(IDC_AUDIO_OUTPUTDEVICE, asioEntry(kA, false));
    AudioDeviceSettings* const storedOutput = settings->outputDevice;
    engine.running.store(true); // as a stream thread that never answers the stop
    command(IDC_AUDIO_APPLY, BN_CLICKED);
    EXPECT_TRUE(engine.running.load());
    EXPECT_EQ(settings->outputDevice, storedOutput);
    EXPECT_TRUE(asioEntry(kA, false)->infoValid);
    EXPECT_TRUE(enabled(IDC_AUDIO_APPLY));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kAudioSettingsStartFailedText);
    EXPECT_EQ(shown[0].caption, "Error");
    engine.running.store(false);
}
