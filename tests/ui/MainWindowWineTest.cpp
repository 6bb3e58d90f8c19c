// The real main window under Wine, in this process, with our test plug-ins.

#include "AsioDrivers.h"
#include "AsioSamples.h"
#include "CKsVSTHostDlg.h"
#include "MainWindowLogic.h"
#include "TestAsioEnvironment.h"
#include "TestPlugins.h"
#include "WindowCapture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ShownMessage {
    std::string text;
    std::string caption;
};

void collectMessage(HWND, const char* text, const char* caption, void* user) {
    static_cast<std::vector<ShownMessage>*>(user)->push_back({text, caption});
}

std::string windowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string menuText(HMENU menu, UINT id) {
    char text[128] = {};
    GetMenuStringA(menu, id, text, sizeof text, MF_BYCOMMAND);
    return text;
}

void setPluginKeyValue(const std::string& name, const char* valueName, const std::string& value) {
    HKEY key = nullptr;
    std::string path = "Software\\Kestrune\\" + name;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

// A value of the plug-in's "Host" key as the settings store writes it.
void setHostValue(const std::string& name, const char* valueName, DWORD type, const void* data,
                  DWORD bytes) {
    HKEY key = nullptr;
    std::string path = "Software\\Kestrune\\" + name + "\\Host";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, valueName, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
}

void setHostNumber(const std::string& name, const char* valueName, DWORD value) {
    setHostValue(name, valueName, REG_DWORD, &value, sizeof value);
}

void setHostText(const std::string& name, const char* valueName, const std::string& value) {
    setHostValue(name, valueName, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void forgetPluginKey(const std::string& name) {
    RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Kestrune\\" + name).c_str());
}

std::string freshFolder(const std::string& name) {
    std::string folder = platform::executableDirectory() + "\\" + name + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA((folder + "saved.chunk").c_str());
    return folder;
}

// An export of a test plug-in this process has loaded.
template <typename Proc> Proc pluginExport(const std::string& plugin, const char* symbol) {
    FARPROC address = GetProcAddress(GetModuleHandleA((plugin + ".dll").c_str()), symbol);
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(address));
}

bool hasCall(const std::vector<KsTestCall>& calls, VstInt32 opcode, VstInt32 index = -1) {
    return std::any_of(calls.begin(), calls.end(), [&](const KsTestCall& call) {
        return call.opcode == opcode && (index == -1 || call.index == index);
    });
}

// Wine maps the Unix root to drive Z:.
std::string unixPath(std::string path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path.erase(0, 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The test environment's default device plays into a raw file of these
// tests, in the device's own format.
void chooseRenderFile() {
    std::string bin = platform::executableDirectory();
    std::ofstream control(bin + "\\ksfile-devices.conf", std::ios::trunc);
    control << "playback.file " << unixPath(bin + "\\ui-render.raw") << "\n";
}

// The key-downs the editor window's own procedure receives: those the main
// window dispatched rather than swallowed.
std::vector<WPARAM> dispatchedKeyDowns;
WNDPROC editorProcedure = nullptr;

LRESULT CALLBACK watchEditorKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN)
        dispatchedKeyDowns.push_back(wParam);
    return CallWindowProcA(editorProcedure, window, message, wParam, lParam);
}

bool receivedNote(const std::vector<VstMidiEvent>& events, int note) {
    return std::any_of(events.begin(), events.end(), [&](const VstMidiEvent& event) {
        return static_cast<uint8_t>(event.midiData[0]) == 0x90 && event.midiData[1] == note;
    });
}

class MainWindowWine : public ::testing::Test {
protected:
    void SetUp() override {
        chooseRenderFile();
        setUserMessageSink(collectMessage, &messages);
    }
    void TearDown() override {
        if (window && window->mainWindowOpen()) {
            PostMessageA(window->handle(), WM_CLOSE, 0, 0);
            pumpUntil([&] { return !window->mainWindowOpen(); });
        }
        window.reset();
        setUserMessageSink(nullptr, nullptr);
        SetKeyboardState(std::vector<BYTE>(256, 0).data());
    }

    void open(const std::string& plugin) {
        pluginName = plugin;
        control = std::make_unique<TestPluginControl>(plugin);
        window = std::make_unique<CKsVSTHostDlg>(testPluginPath(plugin));
        // A shutdown here ends with the stream stopped, never by ending the process.
        window->setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
        ASSERT_TRUE(window->createMainWindow());
        pumpPending();
    }

    AEffect* effect() { return window->library().effect; }
    HWND main() { return window->handle(); }

    void pumpPending() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            window->processMessage(message);
    }

    // Feeds the window's loop until the condition holds; false if it never
    // did within a generous bound.
    bool pumpUntil(const std::function<bool()>& condition) {
        for (int round = 0; round < 3000; ++round) {
            pumpPending();
            if (condition())
                return true;
            Sleep(5);
        }
        return false;
    }

    void key(UINT message, UINT virtualKey, bool ctrl = false, bool shift = false) {
        std::vector<BYTE> state(256, 0);
        if (ctrl)
            state[VK_CONTROL] = 0x80;
        if (shift)
            state[VK_SHIFT] = 0x80;
        SetKeyboardState(state.data());
        PostMessageA(window->editorWindow().handle(), message, virtualKey, 0);
        pumpPending();
        SetKeyboardState(std::vector<BYTE>(256, 0).data());
    }

    std::vector<KsTestCall> calls() { return control->calls(effect()); }

    std::vector<KsTestCall> closedCalls() {
        auto proc = pluginExport<KsTestClosedCallsProc>(pluginName, "ksTestClosedCalls");
        std::vector<KsTestCall> result(4096);
        result.resize(static_cast<size_t>(proc(result.data(), 4096)));
        return result;
    }

    void setCallHook(VstInt32 opcode, void (*hook)(void*), void* user) {
        pluginExport<KsTestSetCallHookProc>(pluginName, "ksTestSetCallHook")(effect(), opcode, hook,
                                                                             user);
    }

    void closeWindow() {
        PostMessageA(main(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return !window->mainWindowOpen(); }));
    }

    std::vector<ShownMessage> messages;
    std::string pluginName;
    std::unique_ptr<TestPluginControl> control;
    std::unique_ptr<CKsVSTHostDlg> window;
};

TEST_F(MainWindowWine, StartsWithTheEditorFillingTheWindow) {
    open("KsTestEffect");
    for (const ShownMessage& message : messages)
        EXPECT_NE(message.text, kLoadFailedText);
    RECT client;
    GetClientRect(main(), &client);
    EXPECT_EQ(client.right, 400); // the test plug-in's editor is 400 x 300
    EXPECT_EQ(client.bottom, 300);
    EXPECT_EQ(windowText(main()).rfind("KsTestEffect", 0), 0u);

    std::vector<VstInt32> order;
    for (const KsTestCall& call : calls())
        if (call.opcode == effOpen || call.opcode == effEditGetRect || call.opcode == effEditOpen ||
            call.opcode == effGetVendorString)
            order.push_back(call.opcode);
    std::vector<VstInt32> expected{effOpen, effEditGetRect, effEditGetRect, effEditOpen,
                                   effGetVendorString};
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(hasCall(calls(), effEditOpen));

    HMENU file = GetSubMenu(GetMenu(main()), 0);
    EXPECT_EQ(GetMenuItemCount(file), 12);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(GetMenu(main()), 1)), 3);
    EXPECT_EQ(menuText(GetMenu(main()), ID_FILE_AUDIOENGINE),
              engineItemText(window->hostEngine().running.load()));
    EXPECT_TRUE(window->vendorMatches());
}

TEST_F(MainWindowWine, AnotherVendorLosesThePlayerItemAndHelp) {
    open("KsTestSynth");
    HMENU menu = GetMenu(main());
    HMENU file = GetSubMenu(menu, 0);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemCount(file), 10);
    EXPECT_EQ(GetMenuState(file, ID_FILE_AUDIOPLAYER, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemID(file, 6), 0u); // the separator before Panic
    EXPECT_EQ(GetMenuItemID(file, 7), static_cast<UINT>(ID_FILE_PANIC));
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 1)), 0);

    messages.clear();
    SendMessageA(main(), WM_COMMAND, ID_HELP_HELP, 0);
    SendMessageA(main(), WM_COMMAND, ID_EXTRA_COMMAND, 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, kVendorOnlyText);
    EXPECT_EQ(messages[1].caption, "Error");
    EXPECT_FALSE(hasCall(calls(), ksTestShowHelp));
    EXPECT_FALSE(hasCall(calls(), ksTestExtraCommand));

    // Keys reach the plug-in, but the entries past its record are never used.
    key(WM_KEYDOWN, 'Q');
    EXPECT_TRUE(hasCall(calls(), effEditKeyDown, 'q'));
    EXPECT_FALSE(hasCall(calls(), ksTestKeyFocusAsked));
}

TEST_F(MainWindowWine, HostAboutBoxForAnotherVendor) {
    open("KsTestSynth");
    std::atomic<bool> found{false};
    std::thread dismiss([&] {
        // The box counts once its OK button exists (it may be found while
        // it is still being made).
        for (int round = 0; round < 20000 && !found; ++round) {
            HWND box = FindWindowA(nullptr, "Kestrune VST Host");
            if (box != nullptr && GetDlgItem(box, IDOK) != nullptr) {
                found = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(5);
        }
    });
    SendMessageA(main(), WM_COMMAND, ID_HELP_ABOUT, 0);
    dismiss.join();
    EXPECT_TRUE(found);
    EXPECT_FALSE(hasCall(calls(), ksTestShowAbout));
}

TEST_F(MainWindowWine, KestruneCommandsReachThePrivateEntries) {
    open("KsTestEffect");
    const std::pair<int, VstInt32> commands[] = {
        {ID_HELP_HELP, ksTestShowHelp},
        {ID_HELP_ABOUT, ksTestShowAbout},
        {ID_EXTRA_COMMAND, ksTestExtraCommand},
    };
    for (auto [command, pseudoOpcode] : commands) {
        SendMessageA(main(), WM_COMMAND, command, 0);
        EXPECT_TRUE(hasCall(calls(), pseudoOpcode)) << command;
    }
    EXPECT_TRUE(messages.empty() || messages[0].text != kVendorOnlyText);
}

TEST_F(MainWindowWine, KeysReachThePluginWithCharacterVstKeyAndModifiers) {
    open("KsTestEffect");
    control->clearCalls(effect());
    key(WM_KEYDOWN, VK_F1, false, true);
    key(WM_KEYUP, 'Q');
    key(WM_KEYDOWN, VK_ESCAPE);
    key(WM_KEYDOWN, 'A', true);
    key(WM_KEYUP, 'A', true);
    std::vector<KsTestCall> log = calls();
    auto f1 = std::find_if(log.begin(), log.end(),
                           [](const KsTestCall& c) { return c.opcode == effEditKeyDown; });
    ASSERT_NE(f1, log.end());
    EXPECT_EQ(f1->index, VK_F1);
    EXPECT_EQ(f1->value, 40);
    EXPECT_EQ(f1->opt, 1.0f);
    EXPECT_TRUE(hasCall(log, effEditKeyUp, 'q'));
    EXPECT_TRUE(hasCall(log, ksTestKeyFocusAsked));
    EXPECT_FALSE(hasCall(log, effEditKeyDown, VK_ESCAPE)); // swallowed before the plug-in
    EXPECT_FALSE(hasCall(log, effEditKeyDown, 'a'));       // a shortcut
    EXPECT_FALSE(hasCall(log, effEditKeyUp, 'a'));
}

TEST_F(MainWindowWine, CtrlRTogglesTheEngineOnReleaseAndSpaceTheTransport) {
    open("KsTestEffect");
    KsVSTHostInterface& engine = window->hostEngine();
    const bool runningBefore = engine.running.load();
    key(WM_KEYDOWN, 'R', true);
    EXPECT_EQ(engine.running.load(), runningBefore);
    messages.clear();
    key(WM_KEYUP, 'R', true);
    if (!runningBefore && !engine.running.load()) {
        // No endpoint to start: the failure is said, the item says stopped.
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, kAudioStartFailedText);
    } else {
        EXPECT_NE(engine.running.load(), runningBefore);
    }
    EXPECT_EQ(menuText(GetMenu(main()), ID_FILE_AUDIOENGINE),
              engineItemText(engine.running.load()));

    const bool transportBefore = engine.transportRequested.load();
    key(WM_KEYUP, VK_SPACE);
    EXPECT_NE(engine.transportRequested.load(), transportBefore);
    auto setFocus = pluginExport<KsTestSetKeyFocusProc>("KsTestEffect", "ksTestSetKeyFocus");
    setFocus(effect(), true);
    key(WM_KEYUP, VK_SPACE);
    EXPECT_NE(engine.transportRequested.load(), transportBefore); // unchanged while focused
}

TEST_F(MainWindowWine, NamedPluginStartsWithTheTransportPlaying) {
    forgetPluginKey("Lumetra");
    open("KsTestLumetra");
    EXPECT_TRUE(window->hostEngine().transportRequested.load());
    closeWindow();
    open("KsTestSynth");
    EXPECT_FALSE(window->hostEngine().transportRequested.load());
}

TEST_F(MainWindowWine, PluginResizeRequestResizesEditorAndWindow) {
    open("KsTestEffect");
    ERect* rect = nullptr;
    effect()->dispatcher(effect(), effEditGetRect, 0, 0, &rect, 0.0f);
    ASSERT_NE(rect, nullptr);
    const ERect original = *rect;
    rect->right = 520;
    rect->bottom = 210;
    control->callHost(effect(), audioMasterSizeWindow, 520, 210);
    *rect = original;
    RECT client;
    GetClientRect(main(), &client);
    EXPECT_EQ(client.right, 520);
    EXPECT_EQ(client.bottom, 210);
    RECT editor;
    GetClientRect(window->editorWindow().handle(), &editor);
    EXPECT_EQ(editor.right, 520);
    EXPECT_EQ(editor.bottom, 210);
}

// A plug-in may pump the window thread's messages while its editor closes:
// a second close or a menu command arriving there must neither destroy the
// window under it nor start audio for a plug-in about to be closed.
TEST_F(MainWindowWine, ACloseOrACommandWhileThePlugInClosesItsEditorWaits) {
    open("KsTestEffect");
    struct Inside {
        CKsVSTHostDlg* window;
        bool stayedOpen = false;
        bool audioStarted = false;
        bool midiStarted = false;
    } inside{window.get()};
    auto hook = [](void* user) {
        auto* seen = static_cast<Inside*>(user);
        SendMessageA(seen->window->handle(), WM_CLOSE, 0, 0);
        seen->stayedOpen = seen->window->mainWindowOpen();
        SendMessageA(seen->window->handle(), WM_COMMAND, ID_FILE_AUDIOENGINE, 0);
        // As the Apply of a settings window still open would.
        seen->audioStarted =
            seen->window->hostEngine().startAudio() || seen->window->hostEngine().running.load();
        seen->midiStarted = seen->window->hostEngine().startMidi();
    };
    setCallHook(effEditClose, hook, &inside);
    closeWindow();
    EXPECT_TRUE(inside.stayedOpen);
    EXPECT_FALSE(inside.audioStarted);
    EXPECT_FALSE(inside.midiStarted);
}

// A stop that could not end the stream leaves the item saying it runs, so
// the next Ctrl+R stops again instead of starting a second stream.
// A box of the plug-in's inside its start-up calls runs the window thread's
// messages: a close arriving there waits, or the plug-in would be closed
// under the start.
TEST_F(MainWindowWine, ACloseWhileThePlugInStartsAudioWaits) {
    open("KsTestEffect");
    if (!window->hostEngine().running.load())
        GTEST_SKIP() << "no audio endpoint in this environment";
    window->hostEngine().stopAudio();
    struct Inside {
        CKsVSTHostDlg* window;
        bool pluginKept = false;
    } inside{window.get()};
    setCallHook(
        effMainsChanged,
        [](void* user) {
            auto* seen = static_cast<Inside*>(user);
            SendMessageA(seen->window->handle(), WM_CLOSE, 0, 0);
            SendMessageA(seen->window->handle(), WM_ENDSESSION, TRUE, 0);
            seen->pluginKept =
                seen->window->mainWindowOpen() && seen->window->library().effect != nullptr;
        },
        &inside);
    SendMessageA(main(), WM_COMMAND, ID_FILE_AUDIOENGINE, 0);
    EXPECT_TRUE(inside.pluginKept);
    EXPECT_TRUE(window->hostEngine().running.load());
}

// The editor's idle call is a call into the plug-in as well.
TEST_F(MainWindowWine, ACloseInsideTheEditorsIdleCallWaits) {
    open("KsTestEffect");
    struct Inside {
        CKsVSTHostDlg* window;
        bool ran = false;
        bool pluginKept = false;
    } inside{window.get()};
    setCallHook(
        effEditIdle,
        [](void* user) {
            auto* seen = static_cast<Inside*>(user);
            SendMessageA(seen->window->handle(), WM_CLOSE, 0, 0);
            seen->pluginKept =
                seen->window->mainWindowOpen() && seen->window->library().effect != nullptr;
            seen->ran = true;
        },
        &inside);
    ASSERT_TRUE(pumpUntil([&] { return inside.ran; }));
    EXPECT_TRUE(inside.pluginKept);
}

// A plug-in asking for a new size from its audio thread: the blocks go on
// while the window thread is busy elsewhere, and the window follows once it
// runs its messages.
TEST_F(MainWindowWine, AResizeAskedFromTheAudioThreadDoesNotWaitForTheWindow) {
    open("KsTestEffect");
    if (!window->hostEngine().running.load())
        GTEST_SKIP() << "no audio endpoint in this environment";
    ERect* rect = nullptr;
    effect()->dispatcher(effect(), effEditGetRect, 0, 0, &rect, 0.0f);
    ASSERT_NE(rect, nullptr);
    struct Restore { // shared by every instance of the plug-in: put back whatever happens
        ERect* rect;
        ERect saved;
        ~Restore() { *rect = saved; }
    } restore{rect, *rect};
    rect->right = 520;
    rect->bottom = 210;
    KsTestHostRequest request{};
    request.opcode = audioMasterSizeWindow;
    request.index = 520;
    request.value = 210;
    ASSERT_TRUE(control->queueHostCall(effect(), request));
    const int before = control->processInfo(effect()).processCalls;
    bool blocksWentOn = false;
    for (int wait = 0; wait < 4000 && !blocksWentOn; ++wait) { // no messages run here
        blocksWentOn = control->processInfo(effect()).processCalls >= before + 20;
        Sleep(5);
    }
    EXPECT_TRUE(blocksWentOn);
    EXPECT_TRUE(pumpUntil([&] {
        RECT client;
        GetClientRect(main(), &client);
        return client.right == 520 && client.bottom == 210;
    }));
}

TEST_F(MainWindowWine, TheEngineItemSaysRunningWhileTheStreamWillNotEnd) {
    open("KsTestEffect");
    window->hostEngine().stopAudio();
    window->hostEngine().running.store(true); // as a stream thread that never answers the stop
    SendMessageA(main(), WM_COMMAND, ID_FILE_AUDIOENGINE, 0);
    EXPECT_EQ(menuText(GetMenu(main()), ID_FILE_AUDIOENGINE), engineItemText(true));
    window->hostEngine().running.store(false);
}

// An editor that knows its size only once open is sized when it opens.
TEST_F(MainWindowWine, AnEditorSizedOnlyOnceOpenFillsTheWindow) {
    TestPluginControl loaded("KsTestEffect");
    auto sizeUnknown =
        pluginExport<KsTestSizeUnknownUntilOpenProc>("KsTestEffect", "ksTestSizeUnknownUntilOpen");
    sizeUnknown(true);
    open("KsTestEffect");
    sizeUnknown(false);
    RECT client;
    GetClientRect(main(), &client);
    EXPECT_EQ(client.right, 400); // the test plug-in's editor is 400 x 300
    EXPECT_EQ(client.bottom, 300);
    RECT editor;
    GetClientRect(window->editorWindow().handle(), &editor);
    EXPECT_EQ(editor.right, 400);
    EXPECT_EQ(editor.bottom, 300);
}

TEST_F(MainWindowWine, ExitKeepsTheStateAndShutsDownInOrder) {
    std::string folder = freshFolder("ui-state");
    setPluginKeyValue("KsTestEffect", "contentpath", folder);
    open("KsTestEffect");
    SendMessageA(main(), WM_COMMAND, ID_FILE_EXIT, 0);
    ASSERT_TRUE(pumpUntil([&] { return !window->mainWindowOpen(); }));
    EXPECT_FALSE(window->hostEngine().running.load());

    std::vector<VstInt32> tail;
    for (const KsTestCall& call : closedCalls())
        if (call.opcode != effEditIdle && call.opcode != effProcessEvents)
            tail.push_back(call.opcode);
    ASSERT_GE(tail.size(), 3u);
    std::vector<VstInt32> last(tail.end() - 3, tail.end());
    EXPECT_EQ(last, (std::vector<VstInt32>{effGetChunk, effEditClose, effClose}));

    std::ifstream saved(folder + "saved.chunk", std::ios::binary | std::ios::ate);
    ASSERT_TRUE(saved.good());
    const auto size = static_cast<VstIntPtr>(saved.tellg());
    EXPECT_GT(size, 0);

    window.reset();
    open("KsTestEffect");
    std::vector<KsTestCall> log = calls();
    auto setChunk = std::find_if(log.begin(), log.end(),
                                 [](const KsTestCall& c) { return c.opcode == effSetChunk; });
    ASSERT_NE(setChunk, log.end());
    EXPECT_EQ(setChunk->value, size);
    forgetPluginKey("KsTestEffect");
}

// Windows ends the session with no WM_CLOSE and then ends the process: the
// plug-in's state is saved and the plug-in closed all the same.
TEST_F(MainWindowWine, EndingTheSessionKeepsTheStateAndClosesThePlugin) {
    const std::string folder = freshFolder("ui-endsession");
    setPluginKeyValue("KsTestEffect", "contentpath", folder);
    open("KsTestEffect");
    EXPECT_EQ(SendMessageA(main(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(main(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(window->hostEngine().running.load());
    std::vector<VstInt32> opcodes;
    for (const KsTestCall& call : closedCalls())
        opcodes.push_back(call.opcode);
    EXPECT_NE(std::find(opcodes.begin(), opcodes.end(), effClose), opcodes.end());
    std::ifstream saved(folder + "saved.chunk", std::ios::binary | std::ios::ate);
    ASSERT_TRUE(saved.good());
    EXPECT_GT(static_cast<long>(saved.tellg()), 0);
    forgetPluginKey("KsTestEffect");
}

TEST_F(MainWindowWine, CaptionPanicNotesAndScreenshotWhileAudioRuns) {
    open("KsTestEffect");
    if (!window->hostEngine().running.load())
        GTEST_SKIP() << "no audio endpoint in this environment";
    ASSERT_TRUE(pumpUntil([&] {
        return windowText(main()).find(" | Tempo: 120.00 | CPU: ") != std::string::npos;
    })) << windowText(main());
    std::string caption = windowText(main());
    EXPECT_EQ(caption.rfind("KsTestEffect | Tempo: 120.00 | CPU: ", 0), 0u) << caption;
    EXPECT_EQ(caption.back(), '\n');

    SendMessageA(main(), WM_COMMAND, ID_FILE_PANIC, 0);
    KsVSTHostInterface& engine = window->hostEngine();
    EXPECT_TRUE(pumpUntil([&] {
        for (const VstMidiEvent& event : control->receivedEvents(effect()))
            if (static_cast<uint8_t>(event.midiData[0]) == 0xB0 && event.midiData[1] == 0x7B)
                return true;
        return false;
    })) << "cycles "
        << engine.cycleCount << " dropped " << engine.droppedEvents.load() << " processed "
        << control->processInfo(effect()).processCalls;

    // D is the computer keyboard's C of the fourth octave.
    key(WM_KEYDOWN, 'D');
    key(WM_KEYUP, 'D');
    EXPECT_TRUE(pumpUntil([&] {
        int noteOn = 0;
        for (const VstMidiEvent& event : control->receivedEvents(effect()))
            if (static_cast<uint8_t>(event.midiData[0]) == 0x90 && event.midiData[1] == 48)
                ++noteOn; // pressed, then released with velocity 0
        return noteOn == 2;
    }));

    std::string folder = platform::executableDirectory() + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(captureWindowToBmp(main(), folder + "\\main-window-test-effect.bmp"));
}

TEST_F(MainWindowWine, DemoInstrumentFillsTheWindowAndIsPictured) {
    window = std::make_unique<CKsVSTHostDlg>(testPluginPath("KsDemoSynth"));
    // A shutdown here ends with the stream stopped, never by ending the process.
    window->setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
    ASSERT_TRUE(window->createMainWindow());
    pumpPending();
    ASSERT_NE(effect(), nullptr);
    EXPECT_TRUE(window->vendorMatches());
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(GetMenu(main()), 0)), 12);
    ERect* rect = nullptr;
    effect()->dispatcher(effect(), effEditGetRect, 0, 0, &rect, 0.0f);
    ASSERT_NE(rect, nullptr);
    RECT client;
    GetClientRect(main(), &client);
    EXPECT_EQ(client.right, rect->right);
    EXPECT_EQ(client.bottom, rect->bottom);
    pumpUntil([&] { return windowText(main()).find(" | Tempo: ") != std::string::npos; });
    std::string folder = platform::executableDirectory() + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(captureWindowToBmp(main(), folder + "\\main-window-demo.bmp"));
    closeWindow();
}

TEST_F(MainWindowWine, ReturnAndEscapeReachTheEditorOnlyWhileItHasKeyFocus) {
    open("KsTestEffect");
    HWND editor = window->editorWindow().handle();
    editorProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(editor, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&watchEditorKeys)));
    auto setFocus = pluginExport<KsTestSetKeyFocusProc>("KsTestEffect", "ksTestSetKeyFocus");
    struct Row {
        UINT key;
        bool editorFocused;
        bool dispatched;
    };
    const Row rows[] = {{VK_RETURN, false, false},
                        {VK_RETURN, true, true},
                        {VK_ESCAPE, false, false},
                        {VK_ESCAPE, true, false}};
    for (const Row& row : rows) {
        setFocus(effect(), row.editorFocused);
        dispatchedKeyDowns.clear();
        key(WM_KEYDOWN, row.key);
        const bool dispatched =
            std::count(dispatchedKeyDowns.begin(), dispatchedKeyDowns.end(), WPARAM(row.key)) == 1;
        EXPECT_EQ(dispatched, row.dispatched) << row.key << " focused " << row.editorFocused;
        EXPECT_TRUE(window->mainWindowOpen()) << row.key;
    }
    SetWindowLongPtrA(editor, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editorProcedure));
}

TEST_F(MainWindowWine, AKeyThePluginTakesPlaysNoNote) {
    open("KsTestEffect");
    if (!window->hostEngine().running.load())
        GTEST_SKIP() << "no audio endpoint in this environment";
    auto setAnswer = pluginExport<KsTestSetKeyAnswerProc>("KsTestEffect", "ksTestSetKeyAnswer");
    setAnswer(effect(), 1);
    key(WM_KEYDOWN, 'D'); // note 48 unless the plug-in takes the key
    key(WM_KEYUP, 'D');
    EXPECT_TRUE(hasCall(calls(), effEditKeyDown, 'd'));
    setAnswer(effect(), 0);
    key(WM_KEYDOWN, 'F'); // note 50
    key(WM_KEYUP, 'F');
    // Events reach the plug-in in order: once 50 is there, 48 would be too.
    ASSERT_TRUE(pumpUntil([&] { return receivedNote(control->receivedEvents(effect()), 50); }));
    EXPECT_FALSE(receivedNote(control->receivedEvents(effect()), 48));
}

// A stored active MIDI input whose device refuses to open.
TEST_F(MainWindowWine, AMidiInputThatCannotOpenIsReportedAtStartup) {
    // The first virtual input refuses to open until this test ends, however it ends.
    struct FirstInputRefused {
        static LSTATUS refuse(DWORD mask) {
            return RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Kestrune\\Virtual MIDI",
                                   "FailInputOpen", REG_DWORD, &mask, sizeof mask);
        }
        ~FirstInputRefused() { refuse(0); }
    } refusal;
    ASSERT_EQ(FirstInputRefused::refuse(1), ERROR_SUCCESS);
    forgetPluginKey("KsTestEffect");
    const std::string device = "KsTestEffect\\Host\\Midi Device 0";
    setPluginKeyValue(device, "name", "KsVirtual In 1");
    DWORD one = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, ("Software\\Kestrune\\" + device).c_str(), "in", REG_DWORD,
                    &one, sizeof one);
    RegSetKeyValueA(HKEY_CURRENT_USER, ("Software\\Kestrune\\" + device).c_str(), "active",
                    REG_DWORD, &one, sizeof one);

    open("KsTestEffect");
    auto shown = std::find_if(messages.begin(), messages.end(),
                              [](const ShownMessage& m) { return m.text == kMidiStartFailedText; });
    ASSERT_NE(shown, messages.end());
    EXPECT_EQ(shown->caption, "Error");
    EXPECT_TRUE(window->mainWindowOpen()); // the program goes on without MIDI
    forgetPluginKey("KsTestEffect");
}

// Settings naming a registered ASIO driver, as the settings store keeps
// them: the program streams through that driver from start-up, and Exit
// stops it, hands it silence and lets it go.
TEST_F(MainWindowWine, StoredAsioChoiceStreamsFromStartAndExitUnloadsTheDriver) {
    TestAsioEnvironment asio;
    ASSERT_TRUE(asio.ready()) << "the test ASIO driver is missing";
    constexpr int kDriver = TestAsioEnvironment::kDriverB;
    constexpr int32_t kFrames = 256;
    asio.configure(kDriver, "inputs 4\noutputs 4\npreferredSize 256\ninputType 17\n"
                            "outputType 17\nrecordBlocks 16\n");
    forgetPluginKey("KsTestEffect");
    setHostNumber("KsTestEffect", "AudioDeviceType", 2);
    // No output name: the output is found under the input's.
    setHostText("KsTestEffect", "AudioDeviceIn Name", TestAsioEnvironment::name(kDriver));
    setHostNumber("KsTestEffect", "AudioDeviceIn Left", 2);
    setHostNumber("KsTestEffect", "AudioDeviceIn Right", 3);
    setHostNumber("KsTestEffect", "AudioDeviceOut Left", 1);
    setHostNumber("KsTestEffect", "AudioDeviceOut Right", 3);
    setHostNumber("KsTestEffect", "openPlayerOnStartup", 0); // live input, not the player's

    open("KsTestEffect");
    TestAsioInstance& driver = asio.instance(kDriver);
    ASSERT_TRUE(window->hostEngine().running.load());
    ASSERT_TRUE(pumpUntil([&] { return driver.blocks.load() >= 20; }));
    EXPECT_EQ(driver.starts.load(), 1);
    EXPECT_EQ(driver.createdBufferSize.load(), kFrames);
    EXPECT_TRUE(hasCall(calls(), effSetBlockSize));
    for (const ShownMessage& message : messages)
        EXPECT_NE(message.text, kAudioStartFailedText);

    SendMessageA(main(), WM_COMMAND, ID_FILE_EXIT, 0);
    ASSERT_TRUE(pumpUntil([&] { return !window->mainWindowOpen(); }));
    EXPECT_EQ(driver.stops.load(), 1);
    EXPECT_EQ(driver.running.load(), 0);
    EXPECT_EQ(driver.created.load(), driver.released.load());
    EXPECT_EQ(driver.releasedRunning.load(), 0);
    EXPECT_EQ(currentDriver.load(), nullptr);

    // Inputs 2 and 3 came back through the effect on outputs 1 and 3.
    const size_t width = asioSampleBytes(ASIOSTInt24LSB);
    for (size_t block = 0; block < 8; ++block) {
        const uint32_t first = uint32_t(block) * kFrames;
        for (auto [output, input] : {std::pair<size_t, int32_t>{1, 2}, {3, 3}}) {
            std::vector<unsigned char> raw(kFrames * width);
            for (uint32_t i = 0; i < uint32_t(kFrames); ++i)
                encodeTestAsioSample(ASIOSTInt24LSB, testAsioSignal(input, first + i),
                                     raw.data() + i * width);
            std::vector<float> floats(kFrames);
            asioToFloat(ASIOSTInt24LSB, raw.data(), floats.data(), kFrames);
            std::vector<unsigned char> wanted(raw.size());
            floatToAsio(ASIOSTInt24LSB, floats.data(), wanted.data(), kFrames);
            const std::vector<unsigned char>& recorded = driver.recorded.at(output);
            ASSERT_GE(recorded.size(), (block + 1) * wanted.size());
            EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(),
                                   recorded.begin() + long(block * wanted.size())))
                << "output " << output << " block " << block;
        }
    }
    // The last half-buffers the driver was handed after the stop are silence.
    for (size_t output = 0; output < 4; ++output)
        for (unsigned char byte : driver.lastBlocks.at(output))
            ASSERT_EQ(byte, 0) << "output " << output;
    forgetPluginKey("KsTestEffect");
}

// The program ends by itself within a minute, with code 0; it is ended
// otherwise, and its handles closed either way.
void expectEndsWithCodeZero(PROCESS_INFORMATION& process) {
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The real program with no plug-in beside it: the message, then the end.
TEST(MainWindowProgram, WithoutAPluginSaysSoAndEnds) {
    std::string folder = freshFolder("ui-no-plugin");
    std::string program = folder + "KsVSTHost.exe";
    ASSERT_TRUE(CopyFileA((platform::executableDirectory() + "\\KsVSTHost.exe").c_str(),
                          program.c_str(), FALSE));
    DeleteFileA((folder + "KsVSTHost.dll").c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    ASSERT_TRUE(CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, folder.c_str(), &startup, &process));
    std::string text;
    for (int round = 0; round < 4000 && text.empty(); ++round) {
        HWND box = FindWindowA(nullptr, "Error");
        if (box != nullptr) {
            char line[128] = {};
            GetDlgItemTextA(box, 0xFFFF, line, sizeof line);
            text = line;
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(5);
    }
    EXPECT_EQ(text, kLoadFailedText);
    expectEndsWithCodeZero(process);
}

} // namespace

namespace {

// The visible top-level window of a process, once it shows one.
HWND mainWindowOf(DWORD processId) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || !IsWindowVisible(window) || GetParent(window) != nullptr)
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

// The real program, its plug-in stuck in a block after a while: closing it
// keeps the state and ends the process at once, with the usual exit code.
// Runs the real program in `folder` with our test plug-in, streaming through
// the test ASIO driver, until the plug-in holds its processing for good; then
// closes the window (or picks File > Exit) and expects the program to end
// with code 0. With `holdState`, the held block also keeps the plug-in's
// state from being handed over.
void runProgramWithAStuckBlock(const std::string& folder, bool holdState, bool byExitCommand) {
    TestAsioEnvironment asio;
    ASSERT_TRUE(asio.ready()) << "the test ASIO driver is missing";
    asio.configure(TestAsioEnvironment::kDriverA, "inputs 2\noutputs 2\npreferredSize 256\n");
    const std::string program = folder + "KsVSTHost.exe";
    const std::string marker = folder + "held.marker";
    DeleteFileA(marker.c_str());
    ASSERT_TRUE(CopyFileA((platform::executableDirectory() + "\\KsVSTHost.exe").c_str(),
                          program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(testPluginPath("KsTestEffect").c_str(),
                          (folder + "KsVSTHost.dll").c_str(), FALSE));
    forgetPluginKey("KsTestEffect");
    setPluginKeyValue("KsTestEffect", "contentpath", folder);
    setHostNumber("KsTestEffect", "AudioDeviceType", 2);
    setHostText("KsTestEffect", "AudioDeviceIn Name",
                TestAsioEnvironment::name(TestAsioEnvironment::kDriverA));
    setHostNumber("KsTestEffect", "openPlayerOnStartup", 0);

    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE errors = CreateFileA((folder + "stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(errors, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = errors;
    startup.hStdOutput = errors;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    SetEnvironmentVariableA("KS_TEST_HOLD_MARKER", marker.c_str());
    SetEnvironmentVariableA("KS_TEST_HOLD_STATE", holdState ? "1" : nullptr);
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, folder.c_str(), &startup, &process);
    SetEnvironmentVariableA("KS_TEST_HOLD_MARKER", nullptr);
    SetEnvironmentVariableA("KS_TEST_HOLD_STATE", nullptr);
    CloseHandle(errors);
    ASSERT_TRUE(started);

    bool held = false;
    for (int round = 0; round < 4000 && !held; ++round) {
        held = GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
        Sleep(5);
    }
    EXPECT_TRUE(held) << "the plug-in never held a block";
    HWND window = nullptr;
    for (int round = 0; round < 4000 && window == nullptr; ++round) {
        window = mainWindowOf(process.dwProcessId);
        Sleep(5);
    }
    EXPECT_NE(window, nullptr);
    if (window != nullptr)
        PostMessageA(window, byExitCommand ? WM_COMMAND : WM_CLOSE,
                     byExitCommand ? ID_FILE_EXIT : 0, 0);
    expectEndsWithCodeZero(process);
    forgetPluginKey("KsTestEffect");
}

TEST(MainWindowProgram, ABlockStuckInThePluginEndsTheProgramOnceTheStateIsKept) {
    const std::string folder = freshFolder("ui-stuck-program");
    ASSERT_NO_FATAL_FAILURE(runProgramWithAStuckBlock(folder, false, false));
    EXPECT_NE(fileText(folder + "stderr.txt").find("the audio stream did not end"),
              std::string::npos);
    EXPECT_FALSE(fileText(folder + "saved.chunk").empty());
}

// A plug-in whose state waits for the block it is stuck in would hang the
// program at the save: the state is given up and the program still ends.
TEST(MainWindowProgram, AStateTheStuckPlugInCannotHandOverIsGivenUp) {
    for (const bool byExitCommand : {false, true}) {
        const std::string folder = freshFolder("ui-stuck-state");
        ASSERT_NO_FATAL_FAILURE(runProgramWithAStuckBlock(folder, true, byExitCommand));
        EXPECT_NE(fileText(folder + "stderr.txt").find("did not hand over its state"),
                  std::string::npos)
            << byExitCommand;
        EXPECT_TRUE(fileText(folder + "saved.chunk").empty());
    }
}
