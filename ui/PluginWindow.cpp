#include "PluginWindow.h"

#include "MainWindowLogic.h"

#include <cstring>

namespace {

bool registerWindowClass() {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA existing;
    if (GetClassInfoA(module, PluginWindow::kClassName, &existing))
        return true;
    WNDCLASSA windowClass{};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = PluginWindow::kClassName;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

PluginWindow::PluginWindow() : registered(registerWindowClass()) {}

PluginWindow::~PluginWindow() {
    if (window != nullptr && IsWindow(window)) {
        KillTimer(window, kTimerId);
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProcedure));
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
}

void PluginWindow::bind(HWND control) {
    window = control;
    if (window == nullptr)
        return;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previousProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProcedure)));
}

LRESULT CALLBACK PluginWindow::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<PluginWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_TIMER) {
        self->onTimer(wParam);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        KillTimer(window, kTimerId);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window = nullptr;
    }
    return CallWindowProcA(self->previousProcedure, window, message, wParam, lParam);
}

bool PluginWindow::attach(KsVSTHostLib* lib, KsVSTHostInterface* hostEngine, HWND main) {
    if (lib == nullptr || hostEngine == nullptr || main == nullptr || window == nullptr)
        return false;
    hostLib = lib;
    engine = hostEngine;
    mainWindow = main;
    std::string name = readPluginName(hostLib->effect);
    std::strncpy(pluginName, name.c_str(), sizeof pluginName - 1);
    SetTimer(window, kTimerId, kTimerPeriodMs, nullptr);

    ERect rect = readEditorRect(hostLib->effect);
    RECT client;
    GetClientRect(window, &client);
    PixelSize size = attachedEditorWindowSize({client.right, client.bottom}, rect);
    MoveWindow(window, 0, 0, size.width, size.height, TRUE);
    if (hostLib->effect == nullptr)
        return false;
    return hostLib->effect->dispatcher(hostLib->effect, effEditOpen, 0, 0, window, 0.0f) == 1;
}

void PluginWindow::onTimer(UINT_PTR timerId) {
    if (timerId != kTimerId || closing || hostLib == nullptr || hostLib->effect == nullptr)
        return;
    ++idleCallsRunning;
    hostLib->effect->dispatcher(hostLib->effect, effEditIdle, 0, 0, nullptr, 0.0f);
    --idleCallsRunning;
    engine->saveSettingsIfRequested();
    if (engine->running.load()) {
        std::string caption = statusCaption(pluginName, engine->getTempo(), engine->cpuLoad.load());
        SetWindowTextA(mainWindow, caption.c_str());
    }
}
