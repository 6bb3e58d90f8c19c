// The demo editor as a GDI child window: drawn into a memory bitmap and
// copied in one go, so held notes change without flicker.

#include "EditorWindow.h"

#include "DemoEditor.h"

#include <windows.h>

namespace demo {

namespace {

constexpr char kClassName[] = "KsDemoSynthEditor";
constexpr COLORREF kBackground = RGB(38, 44, 52);
constexpr COLORREF kText = RGB(230, 232, 235);
constexpr COLORREF kWhiteKey = RGB(250, 250, 250);
constexpr COLORREF kBlackKey = RGB(20, 20, 20);
constexpr COLORREF kHeldKey = RGB(255, 140, 0);
constexpr COLORREF kKeyEdge = RGB(90, 90, 90);
constexpr COLORREF kGrowBox = RGB(80, 120, 170);

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

DemoEditor* editorOf(HWND window) {
    return reinterpret_cast<DemoEditor*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

RECT toRect(const Box& box) {
    return RECT{box.left, box.top, box.right, box.bottom};
}

void fillBox(HDC dc, const Box& box, COLORREF colour) {
    const RECT area = toRect(box);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void drawKey(HDC dc, const Box& box, COLORREF colour) {
    fillBox(dc, box, kKeyEdge);
    fillBox(dc, Box{box.left + 1, box.top, box.right - 1, box.bottom - 1}, colour);
}

void drawKeyboard(HDC dc, const DemoEditor& editor) {
    const EditorLayout& layout = editor.layout();
    for (int pass = 0; pass < 2; ++pass) {
        const bool black = pass == 1;
        for (int note = layout.firstNote(); note <= layout.lastNote(); ++note) {
            if (EditorLayout::isBlackKey(note) != black)
                continue;
            const COLORREF colour = editor.shownNotes().has(note) ? kHeldKey
                                    : black                       ? kBlackKey
                                                                  : kWhiteKey;
            drawKey(dc, layout.key(note), colour);
        }
    }
}

void drawText(HDC dc, const Box& box, const char* text, UINT format) {
    RECT area = toRect(box);
    DrawTextA(dc, text, -1, &area, format | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

void drawEditor(HDC dc, const DemoEditor& editor) {
    const EditorLayout& layout = editor.layout();
    fillBox(dc, Box{0, 0, layout.width(), layout.height()}, kBackground);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kText);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    drawText(dc, layout.title(), "KsDemoSynth - Kestrune", DT_LEFT);
    char parameters[256];
    editor.describeParameters(parameters, sizeof(parameters));
    drawText(dc, layout.parameterLine(), parameters, DT_LEFT | DT_END_ELLIPSIS);
    fillBox(dc, layout.growBox(), kGrowBox);
    const bool compact = layout.size() == EditorLayout::Size::compact;
    drawText(dc, layout.growBox(), compact ? "+" : "-", DT_CENTER);
    SelectObject(dc, oldFont);
    drawKeyboard(dc, editor);
}

void paintBuffered(HWND window, HDC target, const DemoEditor& editor) {
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    drawEditor(memory, editor);
    BitBlt(target, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

LRESULT CALLBACK editorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    DemoEditor* editor = editorOf(window);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (editor != nullptr)
            paintBuffered(window, dc, *editor);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        if (editor != nullptr)
            paintBuffered(window, reinterpret_cast<HDC>(wParam), *editor);
        return 0;
    case WM_LBUTTONDOWN:
        if (editor != nullptr)
            editor->press(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerEditorClass(HINSTANCE module) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(module, kClassName, &existing))
        return true;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = editorProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExA(&windowClass) != 0;
}

HWND asWindow(void* window) {
    return static_cast<HWND>(window);
}

} // namespace

bool editorWindowsAvailable() {
    return true;
}

void* openEditorWindow(void* parent, DemoEditor& editor) {
    HINSTANCE module = thisModule();
    if (!IsWindow(asWindow(parent)) || !registerEditorClass(module))
        return nullptr;
    const EditorLayout& layout = editor.layout();
    return CreateWindowExA(0, kClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                           layout.width(), layout.height(), asWindow(parent), nullptr, module,
                           &editor);
}

// The class leaves with the last editor, so the library can be unloaded
// without leaving a class whose procedure is gone.
void closeEditorWindow(void* window) {
    DestroyWindow(asWindow(window));
    UnregisterClassA(kClassName, thisModule());
}

void resizeEditorWindow(void* window, int width, int height) {
    SetWindowPos(asWindow(window), nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(asWindow(window), nullptr, FALSE);
}

void redrawEditorWindow(void* window) {
    InvalidateRect(asWindow(window), nullptr, FALSE);
}

bool editorWindowHasFocus(void* window) {
    HWND focus = GetFocus();
    return focus != nullptr && (focus == asWindow(window) || IsChild(asWindow(window), focus));
}

void showEditorMessage(void* window, const char* caption, const char* text) {
    HWND owner = window != nullptr ? GetAncestor(asWindow(window), GA_ROOT) : nullptr;
    MessageBoxA(owner, text, caption, MB_OK | MB_ICONINFORMATION);
}

} // namespace demo
