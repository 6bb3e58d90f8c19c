#pragma once

// The child window of the main window that the plug-in draws its editor
// into. Its 40 ms timer keeps the editor idling, writes name, tempo and CPU
// load into the main window's caption while audio runs, and saves settings
// the audio and MIDI threads asked to keep.

#include "KsVSTHostInterface.h"
#include "KsVSTHostLib.h"

#include <windows.h>

class PluginWindow {
public:
    static constexpr const char* kClassName = "PluginWndCtrl";
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTimerPeriodMs = 40;

    // Registers the window class unless the module already has it.
    PluginWindow();
    ~PluginWindow();
    PluginWindow(const PluginWindow&) = delete;
    PluginWindow& operator=(const PluginWindow&) = delete;

    bool classRegistered() const { return registered; }
    // Takes over the control the main window's template created.
    void bind(HWND control);
    HWND handle() const { return window; }

    // True when the plug-in opened its editor in this window.
    bool attach(KsVSTHostLib* lib, KsVSTHostInterface* engine, HWND mainWindow);
    // The timer does nothing once this is set (before the editor closes).
    void markClosing() { closing = true; }
    // Inside the editor's idle call (a plug-in may run messages there).
    bool insidePluginCall() const { return idleCallsRunning > 0; }
    void onTimer(UINT_PTR timerId);

    char pluginName[256] = {};

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);

    KsVSTHostLib* hostLib = nullptr;
    KsVSTHostInterface* engine = nullptr;
    HWND mainWindow = nullptr;
    bool closing = false;
    int idleCallsRunning = 0;
    bool registered = false;
    HWND window = nullptr;
    WNDPROC previousProcedure = nullptr;
};
