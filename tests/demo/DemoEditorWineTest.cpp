// The demo instrument's editor in a real window: loaded through the host's
// loader, opened in a window of ours, drawn with GDI, resized through the
// host callback; its help and about windows shown and closed again.

#include "DemoEvents.h"
#include "EditorLayout.h"
#include "KsVSTHostLib.h"
#include "TestPlugins.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kHostClass[] = "KsDemoTestHost";
constexpr COLORREF kHeldKey = RGB(255, 140, 0);
constexpr COLORREF kWhiteKey = RGB(250, 250, 250);

HWND makeHostWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostClass;
    RegisterClassA(&windowClass); // fails harmlessly when an earlier test registered it
    return CreateWindowExA(0, kHostClass, "Demo host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000,
                           500, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

SIZE clientSize(HWND window) {
    RECT area{};
    GetClientRect(window, &area);
    return SIZE{area.right, area.bottom};
}

// What the editor draws, asked into a bitmap of ours exactly as it paints.
COLORREF drawnPixel(HWND editor, int x, int y) {
    const SIZE size = clientSize(editor);
    HDC screen = GetDC(editor);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageA(editor, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    const COLORREF pixel = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(editor, screen);
    return pixel;
}

struct OpenDemoEditor {
    OpenDemoEditor() : host(makeHostWindow()) {
        effect = lib.load(testPluginPath("KsDemoSynth"));
        if (effect == nullptr)
            return;
        lib.record.resizeHook = [](void* user) { ++*static_cast<int*>(user); };
        lib.record.resizeUserData = &resizeRequests;
        dispatch(effOpen);
        opened = dispatch(effEditOpen, 0, 0, host) == 1;
        editor = FindWindowExA(host, nullptr, "KsDemoSynthEditor", nullptr);
        pumpMessages();
    }
    ~OpenDemoEditor() {
        if (effect != nullptr) {
            dispatch(effEditClose);
            dispatch(effClose);
        }
        lib.unload();
        DestroyWindow(host);
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    ERect rect() {
        ERect* rect = nullptr;
        dispatch(effEditGetRect, 0, 0, &rect);
        return rect != nullptr ? *rect : ERect{};
    }
    template <typename Proc> Proc privateEntry(size_t offset) {
        Proc proc;
        std::memcpy(&proc, reinterpret_cast<const char*>(effect) + offset, sizeof(proc));
        return proc;
    }
    void play(std::vector<VstMidiEvent> events) {
        EventBlock block(std::move(events));
        dispatch(effProcessEvents, 0, 0, block.get());
        std::vector<float> left(256), right(256);
        float* pair[2] = {left.data(), right.data()};
        lib.process(pair, pair, 256);
        dispatch(effEditIdle);
        pumpMessages();
    }
    COLORREF keyColour(const demo::EditorLayout& layout, int note) {
        const demo::Box key = layout.key(note);
        return drawnPixel(editor, (key.left + key.right) / 2, key.bottom - 4);
    }

    HWND host;
    KsVSTHostLib lib;
    AEffect* effect = nullptr;
    bool opened = false;
    HWND editor = nullptr;
    int resizeRequests = 0;
};

TEST(DemoEditorWindow, OpensAsAVisibleChildOfTheRectangleItReports) {
    OpenDemoEditor demo;
    ASSERT_NE(demo.effect, nullptr);
    EXPECT_NE(demo.effect->flags & effFlagsHasEditor, 0);
    ASSERT_TRUE(demo.opened);
    ASSERT_NE(demo.editor, nullptr);
    EXPECT_TRUE(IsWindowVisible(demo.editor));
    const ERect rect = demo.rect();
    const SIZE size = clientSize(demo.editor);
    EXPECT_EQ(size.cx, rect.right);
    EXPECT_EQ(size.cy, rect.bottom);
    EXPECT_EQ(demo.dispatch(effEditOpen, 0, 0, demo.host), 0); // one editor at a time
    demo.dispatch(effEditClose);
    EXPECT_FALSE(IsWindow(demo.editor));
}

TEST(DemoEditorWindow, DrawsTheHeldNotesOnItsKeyboard) {
    OpenDemoEditor demo;
    ASSERT_TRUE(demo.opened);
    const demo::EditorLayout layout;
    demo.play({noteOn(60), noteOn(64)});
    EXPECT_EQ(demo.keyColour(layout, 60), kHeldKey);
    EXPECT_EQ(demo.keyColour(layout, 64), kHeldKey);
    EXPECT_EQ(demo.keyColour(layout, 62), kWhiteKey);
    demo.play({noteOff(60)});
    EXPECT_EQ(demo.keyColour(layout, 60), kWhiteKey);
    EXPECT_EQ(demo.keyColour(layout, 64), kHeldKey);
}

TEST(DemoEditorWindow, TheGrowBoxAndTheExtraCommandResizeThroughTheHost) {
    OpenDemoEditor demo;
    ASSERT_TRUE(demo.opened);
    const ERect compact = demo.rect();
    demo::EditorLayout layout;
    const demo::Box grow = layout.growBox();
    SendMessageA(demo.editor, WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((grow.left + grow.right) / 2, (grow.top + grow.bottom) / 2));
    EXPECT_EQ(demo.resizeRequests, 1);
    const ERect wide = demo.rect();
    layout.toggle();
    EXPECT_EQ(wide.right, layout.width());
    EXPECT_EQ(wide.bottom, layout.height());
    EXPECT_EQ(clientSize(demo.editor).cx, wide.right);
    EXPECT_EQ(clientSize(demo.editor).cy, wide.bottom);
    SendMessageA(demo.editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, wide.bottom - 2));
    EXPECT_EQ(demo.resizeRequests, 1); // a press on the keyboard is no request
    demo.privateEntry<PluginPrivateProc>(kExtraCommandOffset)(demo.effect);
    EXPECT_EQ(demo.resizeRequests, 2);
    EXPECT_EQ(demo.rect().right, compact.right);
    EXPECT_EQ(clientSize(demo.editor).cx, compact.right);
}

TEST(DemoEditorWindow, HasKeyFocusOnlyWhileItsWindowHasIt) {
    OpenDemoEditor demo;
    ASSERT_TRUE(demo.opened);
    auto hasFocus = demo.privateEntry<PluginKeyFocusProc>(kEditorHasKeyFocusOffset);
    SetFocus(demo.host);
    EXPECT_FALSE(hasFocus(demo.effect));
    SetFocus(demo.editor);
    EXPECT_TRUE(hasFocus(demo.effect));
}

// Other test programs may show windows of the same caption at the same time.
HWND findOwnDialog(const char* caption) {
    HWND candidate = nullptr;
    while ((candidate = FindWindowExA(nullptr, candidate, "#32770", caption)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(candidate, &process);
        if (process == GetCurrentProcessId())
            return candidate;
    }
    return nullptr;
}

struct ScreenCase {
    const char* name;
    size_t offset;
    const char* caption;
    const char* textPart;
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
    *os << c.name;
}

class DemoScreens : public testing::TestWithParam<ScreenCase> {};

// The screen is modal: a second thread finds it, reads it and presses OK.
TEST_P(DemoScreens, ShowsAModalWindowOwnedByTheHostWindow) {
    OpenDemoEditor demo;
    ASSERT_TRUE(demo.opened);
    const ScreenCase& screen = GetParam();
    bool found = false;
    HWND owner = nullptr;
    std::string text;
    std::thread closer([&] {
        for (int attempt = 0; attempt < 1000 && !found; ++attempt) {
            HWND box = findOwnDialog(screen.caption);
            if (box == nullptr) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            char buffer[1024] = {};
            GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer));
            text = buffer;
            owner = GetWindow(box, GW_OWNER);
            found = true;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    demo.privateEntry<PluginPrivateProc>(screen.offset)(demo.effect);
    closer.join();
    ASSERT_TRUE(found);
    EXPECT_NE(text.find(screen.textPart), std::string::npos) << text;
    EXPECT_EQ(owner, demo.host);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, DemoScreens,
    testing::Values(ScreenCase{"Help", kShowHelpOffset, "KsDemoSynth Help", "computer keyboard"},
                    ScreenCase{"About", kShowAboutScreenOffset, "About KsDemoSynth",
                               "instrument by Kestrune"}),
    [](const testing::TestParamInfo<ScreenCase>& info) { return std::string(info.param.name); });

} // namespace
