// The Tempo window under Wine, driven by the messages its controls send:
// over a bare engine and real settings in the registry, and through the
// main window with a test plug-in and the virtual MIDI devices.

#include "CKsVSTHostDlg.h"
#include "CPropTempoDlg.h"
#include "DataExchange.h"
#include "TestPlugins.h"
#include "WindowCapture.h"
#include "resource.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kPluginName = "KsTest Tempo Window";
constexpr int64_t kTicksPerSecond = 1000; // the test clock counts milliseconds

int64_t testCounter = 0;
int64_t readTestCounter() {
    return testCounter;
}

void collectMessage(HWND, const char* text, const char*, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(text);
}

std::string registryTempo(const std::string& plugin) {
    char text[64] = {};
    DWORD size = sizeof text;
    const std::string key = "Software\\Kestrune\\" + plugin + "\\Host";
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "Tempo", RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return "none";
    return text;
}

void forgetPluginKey(const std::string& plugin) {
    RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Kestrune\\" + plugin).c_str());
}

void pumpPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (Dialog::routeToModelessDialogs(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool pumpUntil(const std::function<bool()>& condition) {
    for (int round = 0; round < 2000; ++round) {
        pumpPending();
        if (condition())
            return true;
        Sleep(5);
    }
    return false;
}

class TempoWindow : public ::testing::Test {
protected:
    void SetUp() override {
        forgetPluginKey(kPluginName);
        setUserMessageSink(collectMessage, &messages);
        settings = std::make_unique<HostSettings>(kPluginName, false);
    }
    void TearDown() override {
        if (slot != nullptr)
            DestroyWindow(slot->handle());
        pumpPending();
        setUserMessageSink(nullptr, nullptr);
        forgetPluginKey(kPluginName);
    }

    void open(HWND parent = nullptr) {
        dialog = CPropTempoDlg::open(engine, *settings, slot, parent);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(slot, dialog);
        dialog->useClock(kTicksPerSecond, readTestCounter);
    }
    HWND window() const { return dialog->handle(); }
    HWND control(int id) const { return GetDlgItem(window(), id); }
    std::string text(int id) const {
        char buffer[128] = {};
        GetDlgItemTextA(window(), id, buffer, sizeof buffer);
        return buffer;
    }
    // As the user's keys do: the box's text changes and it tells the window.
    void type(const char* tempo) { SetDlgItemTextA(window(), IDC_TEMPO_BPM, tempo); }
    void click(int id) { SendMessageA(control(id), BM_CLICK, 0, 0); }
    void tick() { SendMessageA(window(), WM_TIMER, CPropTempoDlg::kTimerId, 0); }
    void spin(int delta) {
        NMUPDOWN change{};
        change.hdr.hwndFrom = control(IDC_TEMPO_SPIN);
        change.hdr.idFrom = IDC_TEMPO_SPIN;
        change.hdr.code = UDN_DELTAPOS;
        change.iDelta = delta;
        SendMessageA(window(), WM_NOTIFY, IDC_TEMPO_SPIN, reinterpret_cast<LPARAM>(&change));
    }
    void mouse(UINT message, int x, int y) {
        const WPARAM buttons = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
        SendMessageA(control(IDC_TEMPO_BPM), message, buttons, MAKELPARAM(x, y));
    }
    void startTempo(double bpm) {
        engine.setTempo(bpm);
        open();
    }

    KsVSTHostInterface engine;
    std::unique_ptr<HostSettings> settings;
    Dialog* slot = nullptr;
    CPropTempoDlg* dialog = nullptr;
    std::vector<std::string> messages;
};

TEST_F(TempoWindow, OpensWithTheEngineTempoAndTheTimerShowsNothingLearned) {
    startTempo(123.456);
    EXPECT_EQ(text(IDC_TEMPO_BPM), "123.46");
    EXPECT_EQ(text(IDC_TEMPO_LEARN), "Learn Tap");
    EXPECT_EQ(text(IDC_TEMPO_LEARNED), "");
    // The window's own 250 ms timer, not a tick of the test's.
    EXPECT_TRUE(pumpUntil([&] { return text(IDC_TEMPO_LEARNED) == "not Set"; }));
    EXPECT_EQ(engine.getTempo(), 123.456) << "opening changes nothing";
    EXPECT_EQ(registryTempo(kPluginName), "none");
    RECT client;
    GetClientRect(window(), &client);
    EXPECT_GT(client.right, 0);
}

TEST_F(TempoWindow, TypedTempoReachesTheEngineOnlyWithinItsRange) {
    startTempo(120.0);
    struct Row {
        const char* typed;
        double engineTempo;
        const char* shown;
        size_t messages;
    } rows[] = {
        {"130", 130.0, "130", 0},     {"120.555", 120.56, "120.56", 0},
        {"300", 120.56, "300", 0},    {"44.9", 120.56, "44.9", 0},
        {"250.1", 250.1, "250.1", 0}, {"", 250.1, "", 0}, // an emptied box waits
        {"99.", 99.0, "99.", 0},      {"99.5", 99.5, "99.5", 0},
        {"fast", 99.5, "99.5", 1}, // refused; the box shows the tempo again
    };
    for (const Row& row : rows) {
        messages.clear();
        type(row.typed);
        EXPECT_EQ(engine.getTempo(), row.engineTempo) << row.typed;
        EXPECT_EQ(text(IDC_TEMPO_BPM), row.shown) << row.typed;
        ASSERT_EQ(messages.size(), row.messages) << row.typed;
    }
    EXPECT_EQ(messages[0], "Enter a number.");
    EXPECT_EQ(registryTempo(kPluginName), "none") << "typing saves nothing";
}

TEST_F(TempoWindow, SpinArrowsStepByHundredthsWithinTheRange) {
    startTempo(249.99);
    spin(-1);
    EXPECT_EQ(engine.getTempo(), 250.0);
    spin(-1);
    EXPECT_EQ(text(IDC_TEMPO_BPM), "250");
    spin(3);
    EXPECT_EQ(engine.getTempo(), 249.97);
    EXPECT_EQ(text(IDC_TEMPO_BPM), "249.97");
    engine.setTempo(45.0);
    type("45");
    spin(1);
    EXPECT_EQ(engine.getTempo(), 45.0);

    // The real control: a press on its upper arrow.
    RECT arrows;
    GetClientRect(control(IDC_TEMPO_SPIN), &arrows);
    SendMessageA(control(IDC_TEMPO_SPIN), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM(arrows.right / 2, 1));
    SendMessageA(control(IDC_TEMPO_SPIN), WM_LBUTTONUP, 0, MAKELPARAM(arrows.right / 2, 1));
    EXPECT_EQ(engine.getTempo(), 45.01);
    EXPECT_EQ(registryTempo(kPluginName), "none");
}

TEST_F(TempoWindow, DraggingOverTheTempoBox) {
    struct Row {
        double start;
        int pressX;
        std::vector<int> moveYs; // from a press at y 10
        double expected;
    } rows[] = {
        {120.0, 10, {9, 8, 7}, 123.0},      // whole steps up
        {120.0, 30, {11, 12}, 119.8},       // tenths down
        {120.0, 10, {0, -50, -300}, 123.0}, // one step per move, however far
        {120.0, 10, {11, 11, 11}, 119.0},   // no move, no step
        {99.0, 14, {9}, 100.0},             // below 100 whole steps end at 14
        {99.0, 15, {9}, 99.1},
        {249.5, 10, {9, 8}, 250.0}, // clamped
        {120.04, 30, {10}, 120.0},  // rounded to a tenth
    };
    open();
    for (const Row& row : rows) {
        engine.setTempo(row.start);
        type(std::to_string(row.start).c_str());
        mouse(WM_LBUTTONDOWN, row.pressX, 10);
        for (int y : row.moveYs)
            mouse(WM_MOUSEMOVE, row.pressX, y);
        mouse(WM_LBUTTONUP, row.pressX, row.moveYs.back());
        EXPECT_DOUBLE_EQ(engine.getTempo(), row.expected) << row.start << " at " << row.pressX;
        EXPECT_DOUBLE_EQ(dialog->tempoShown(), row.expected);
        mouse(WM_MOUSEMOVE, row.pressX, 0);
        EXPECT_DOUBLE_EQ(engine.getTempo(), row.expected) << "moves after the release";
    }
    // A press whose release is lost ends with the capture.
    mouse(WM_LBUTTONDOWN, 10, 10);
    SendMessageA(control(IDC_TEMPO_BPM), WM_CAPTURECHANGED, 0, 0);
    const double before = engine.getTempo();
    mouse(WM_MOUSEMOVE, 10, 0);
    EXPECT_EQ(engine.getTempo(), before);
    EXPECT_EQ(registryTempo(kPluginName), "none") << "dragging saves nothing";
}

TEST_F(TempoWindow, TapSetsTheMeanOfTheSeriesAndSavesIt) {
    startTempo(100.0);
    struct Row {
        int64_t atMs;
        const char* shown;
    } rows[] = {
        {10'000, "100"}, {10'300, "200"},    {10'600, "200"},    // 300 ms apart
        {11'934, "200"},                                         // 1334 ms: new series
        {12'434, "120"}, {12'767, "144.23"}, {13'100, "154.64"}, // 500, 416, 388 ms
    };
    for (const Row& row : rows) {
        testCounter = row.atMs;
        click(IDC_TEMPO_TAP);
        EXPECT_EQ(text(IDC_TEMPO_BPM), row.shown) << row.atMs;
    }
    EXPECT_EQ(engine.getTempo(), 154.64);
    EXPECT_EQ(settings->tempo.load(), 154.64);
    EXPECT_EQ(registryTempo(kPluginName), "154.64");
}

TEST_F(TempoWindow, LearnTapButtonAndTheLearnedMessageText) {
    settings->tempoTab = 0x9024;
    settings->save();
    engine.setLearnedTapMessage(0x90, 0x24);
    open();
    tick();
    EXPECT_EQ(text(IDC_TEMPO_LEARNED), "C1");

    click(IDC_TEMPO_LEARN);
    EXPECT_EQ(text(IDC_TEMPO_LEARN), "Stop");
    EXPECT_TRUE(engine.learnMode.load());
    EXPECT_FALSE(engine.learnedTapMessage());
    HostSettings reread(kPluginName, false);
    reread.load({}, {});
    EXPECT_EQ(reread.tempoTab.load(), 0) << "the forgotten trigger does not come back";
    tick();
    EXPECT_EQ(text(IDC_TEMPO_LEARNED), "not Set");

    struct Row {
        uint8_t status;
        uint8_t data1;
        const char* shown;
    } rows[] = {{0xB0, 64, "CC 64"}, {0x90, 62, "D3"}, {0x90, 14, "D-1"}, {0x80, 26, "D0"}};
    for (const Row& row : rows) {
        // What the MIDI thread does when it learns: the trigger, then the end.
        engine.setLearnedTapMessage(row.status, row.data1);
        tick();
        EXPECT_EQ(text(IDC_TEMPO_LEARN), "Stop") << "learning has not ended yet";
        engine.learnMode = false;
        tick();
        EXPECT_EQ(text(IDC_TEMPO_LEARNED), row.shown);
        EXPECT_EQ(text(IDC_TEMPO_LEARN), "Learn Tap");
        click(IDC_TEMPO_LEARN);
        EXPECT_EQ(text(IDC_TEMPO_LEARN), "Stop");
    }
    click(IDC_TEMPO_LEARN); // stop without learning
    EXPECT_FALSE(engine.learnMode.load());
    EXPECT_EQ(text(IDC_TEMPO_LEARN), "Learn Tap");
    tick();
    EXPECT_EQ(text(IDC_TEMPO_LEARNED), "not Set");
}

TEST_F(TempoWindow, TappedTempoFromMidiShowsAndIsSavedButTypingIsNotOverwritten) {
    engine.setLearnedTapMessage(0xB0, 64);
    startTempo(120.0);
    tick();
    engine.setTempo(133.33); // as a tap of the learned controller does
    tick();
    EXPECT_EQ(text(IDC_TEMPO_BPM), "133.33");
    EXPECT_EQ(registryTempo(kPluginName), "133.33");

    type("1"); // the first key of "140"
    tick();
    EXPECT_EQ(text(IDC_TEMPO_BPM), "1");
    type("14");
    type("140");
    tick();
    EXPECT_EQ(engine.getTempo(), 140.0);
    EXPECT_EQ(text(IDC_TEMPO_BPM), "140");

    // The timer keeps ticking while the message about a bad entry is up.
    struct Ticking {
        std::vector<std::string> messages;
        HWND dialog;
    } ticking{{}, window()};
    setUserMessageSink(
        [](HWND, const char* text, const char*, void* user) {
            auto* self = static_cast<Ticking*>(user);
            self->messages.push_back(text);
            for (int i = 0; i < 4 && self->messages.size() < 10; ++i)
                SendMessageA(self->dialog, WM_TIMER, CPropTempoDlg::kTimerId, 0);
        },
        &ticking);
    type("x");
    EXPECT_EQ(ticking.messages, std::vector<std::string>{"Enter a number."})
        << "the timer shows no message of its own";
    EXPECT_EQ(text(IDC_TEMPO_BPM), "140");
}

enum class CloseBy { closeButton, escapeCommand, escapeKey, closeBox, ownerGone };

TEST_F(TempoWindow, EveryWayOfClosingKeepsTheEngineTempoAndEndsLearning) {
    const CloseBy ways[] = {CloseBy::closeButton, CloseBy::escapeCommand, CloseBy::escapeKey,
                            CloseBy::closeBox, CloseBy::ownerGone};
    for (CloseBy way : ways) {
        const int row = static_cast<int>(way);
        forgetPluginKey(kPluginName);
        settings->tempo = 120.0;
        engine.setTempo(120.0);
        HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
        open(owner);
        spin(-100); // 121
        click(IDC_TEMPO_LEARN);
        ASSERT_TRUE(engine.learnMode.load());
        switch (way) {
        case CloseBy::closeButton:
            click(IDOK);
            break;
        case CloseBy::escapeCommand:
            SendMessageA(window(), WM_COMMAND, IDCANCEL, 0);
            break;
        case CloseBy::escapeKey:
            SetFocus(control(IDC_TEMPO_BPM));
            PostMessageA(control(IDC_TEMPO_BPM), WM_KEYDOWN, VK_ESCAPE, 0);
            pumpUntil([&] { return slot == nullptr; });
            break;
        case CloseBy::closeBox:
            SendMessageA(window(), WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case CloseBy::ownerGone:
            break;
        }
        DestroyWindow(owner);
        EXPECT_EQ(slot, nullptr) << row;
        EXPECT_FALSE(engine.learnMode.load()) << row;
        EXPECT_EQ(engine.getTempo(), 121.0) << row;
        EXPECT_EQ(settings->tempo.load(), 121.0) << row;
        EXPECT_EQ(registryTempo(kPluginName), "121") << row;
    }
}

TEST_F(TempoWindow, CloseStoresNothingOutOfRange) {
    startTempo(120.0);
    type("300");
    click(IDOK);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(engine.getTempo(), 120.0);
    EXPECT_EQ(registryTempo(kPluginName), "none");
}

// ---- Through the main window ----

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sends MIDI bytes into virtual input 1, as another program would.
bool injectMidi(const std::vector<uint8_t>& bytes) {
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Kestrune\\Virtual MIDI", "Folder", RRF_RT_REG_SZ,
                     nullptr, folder, &size) != ERROR_SUCCESS)
        return false;
    const int port = std::atoi(readFile(std::string(folder) + "\\in1.port").c_str());
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int sent =
        sendto(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address);
    closesocket(s);
    WSACleanup();
    return port != 0 && sent == static_cast<int>(bytes.size());
}

bool virtualMidiInstalled() {
    return RegGetValueA(HKEY_CURRENT_USER, "Software\\Kestrune\\Virtual MIDI", "Folder",
                        RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

class TempoFromMainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        setUserMessageSink(collectMessage, &messages);
        forgetPluginKey("KsTestEffect");
        window = std::make_unique<CKsVSTHostDlg>(testPluginPath("KsTestEffect"));
        // A shutdown here ends with the stream stopped, never by ending the process.
        window->setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
        ASSERT_TRUE(window->createMainWindow());
        pump();
    }
    void TearDown() override {
        if (window->mainWindowOpen()) {
            PostMessageA(window->handle(), WM_CLOSE, 0, 0);
            pumpUntilMain([&] { return !window->mainWindowOpen(); });
        }
        window.reset();
        setUserMessageSink(nullptr, nullptr);
        forgetPluginKey("KsTestEffect");
    }
    void pump() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            window->processMessage(message);
    }
    bool pumpUntilMain(const std::function<bool()>& condition) {
        for (int round = 0; round < 2000; ++round) {
            pump();
            if (condition())
                return true;
            Sleep(5);
        }
        return false;
    }
    HWND tempoWindow() { return FindWindowA(nullptr, "Tempo"); }
    std::string text(int id) {
        char buffer[64] = {};
        GetDlgItemTextA(tempoWindow(), id, buffer, sizeof buffer);
        return buffer;
    }

    std::vector<std::string> messages;
    std::unique_ptr<CKsVSTHostDlg> window;
};

TEST_F(TempoFromMainWindow, TheTempoCommandOpensOneWindowAndEscapeKeepsItsTempo) {
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_TEMPO, 0);
    HWND first = tempoWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(GetWindow(first, GW_OWNER), window->handle());
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_TEMPO, 0);
    EXPECT_EQ(tempoWindow(), first);
    EXPECT_EQ(FindWindowExA(nullptr, first, nullptr, "Tempo"), nullptr) << "only one";
    EXPECT_EQ(text(IDC_TEMPO_BPM), "120");

    SetDlgItemTextA(first, IDC_TEMPO_BPM, "97.5");
    EXPECT_EQ(window->hostEngine().getTempo(), 97.5);
    std::string folder = platform::executableDirectory() + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    pumpUntilMain([&] { return text(IDC_TEMPO_LEARNED) == "not Set"; });
    // Beside the main window, so that nothing of it shows in the picture.
    SetWindowPos(first, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE);
    RedrawWindow(first, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    pump();
    EXPECT_TRUE(captureWindowToBmp(first, folder + "\\tempo-window.bmp"));

    // Escape through the main window's loop, as the user's key goes.
    SetFocus(GetDlgItem(first, IDC_TEMPO_BPM));
    PostMessageA(GetDlgItem(first, IDC_TEMPO_BPM), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(pumpUntilMain([&] { return tempoWindow() == nullptr; }));
    EXPECT_EQ(window->settings()->tempo.load(), 97.5);
    EXPECT_EQ(registryTempo("KsTestEffect"), "97.5");
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_TEMPO, 0);
    EXPECT_NE(tempoWindow(), nullptr) << "opens again after closing";
}

// Stands in for a message box: its loop disables the owner and may deliver
// a close of the main window before the user answers.
struct CloseWhileAsking {
    CKsVSTHostDlg* window;
    int asked = 0;
    bool stayedOpen = false;
};

void closeMainWhileAsking(HWND owner, const char*, const char*, void* user) {
    auto* asking = static_cast<CloseWhileAsking*>(user);
    ++asking->asked;
    EnableWindow(owner, FALSE);
    SendMessageA(asking->window->handle(), WM_CLOSE, 0, 0);
    asking->stayedOpen = asking->window->mainWindowOpen();
    EnableWindow(owner, TRUE);
}

// The Tempo window is still inside its handler while its box asks; closing
// the program then would delete the window under that handler.
TEST_F(TempoFromMainWindow, ClosingWhileTheTempoWindowAsksWaitsForTheAnswer) {
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_TEMPO, 0);
    HWND tempo = tempoWindow();
    ASSERT_NE(tempo, nullptr);
    CloseWhileAsking asking{window.get()};
    setUserMessageSink(closeMainWhileAsking, &asking);
    SetDlgItemTextA(tempo, IDC_TEMPO_BPM, "fast");
    setUserMessageSink(collectMessage, &messages);
    EXPECT_EQ(asking.asked, 1);
    EXPECT_TRUE(asking.stayedOpen);
    EXPECT_EQ(text(IDC_TEMPO_BPM), "120") << "the window goes on after the answer";
    PostMessageA(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(pumpUntilMain([&] { return !window->mainWindowOpen(); }));
}

TEST_F(TempoFromMainWindow, MessagesLearnedFromTheVirtualMidiInputShowInTheWindow) {
    if (!virtualMidiInstalled())
        GTEST_SKIP() << "the virtual MIDI driver is not installed in this Wine prefix";
    SendMessageA(window->handle(), WM_COMMAND, ID_FILE_TEMPO, 0);
    HWND tempo = tempoWindow();
    ASSERT_NE(tempo, nullptr);
    struct Row {
        std::vector<uint8_t> message;
        const char* shown;
    } rows[] = {
        {{0x93, 62, 100}, "D3"}, // any channel
        {{0xB5, 64, 0}, "CC 64"},
    };
    for (const Row& row : rows) {
        SendMessageA(tempo, WM_COMMAND, IDC_TEMPO_LEARN, 0);
        ASSERT_EQ(text(IDC_TEMPO_LEARN), "Stop");
        ASSERT_TRUE(injectMidi(row.message));
        EXPECT_TRUE(pumpUntilMain([&] { return text(IDC_TEMPO_LEARNED) == row.shown; }))
            << row.shown << " shows " << text(IDC_TEMPO_LEARNED);
        EXPECT_EQ(text(IDC_TEMPO_LEARN), "Learn Tap");
    }
    // The learned controller taps on each rise; the window shows and keeps
    // the tempo the taps set.
    const double before = window->hostEngine().getTempo();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(injectMidi({0xB0, 64, 127}));
        ASSERT_TRUE(injectMidi({0xB0, 64, 0}));
        Sleep(100);
    }
    ASSERT_TRUE(pumpUntilMain([&] { return window->hostEngine().getTempo() != before; }));
    const double tapped = window->hostEngine().getTempo();
    EXPECT_TRUE(pumpUntilMain([&] { return window->settings()->tempo.load() == tapped; }));
    EXPECT_EQ(text(IDC_TEMPO_BPM), formatNumber(tapped));
}

} // namespace
