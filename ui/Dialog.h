#pragma once

// Our thin layer over Win32 dialogs. One dialog procedure serves every
// dialog class: it keeps `this` from WM_INITDIALOG on and hands each message
// to the object, by message and by control id. A dialog runs modeless
// (created, then fed by the main window's loop through IsDialogMessage),
// modal (the system's loop) or as the program's main window (our loop, which
// lets the dialog see every key message before it is dispatched).

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

class Dialog {
public:
    explicit Dialog(int templateId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    HWND handle() const { return window; }

    bool createModeless(HWND parent);
    INT_PTR runModal(HWND parent);
    // Creates the dialog and runs the message loop until `endDialog`.
    INT_PTR runAsMainWindow();
    // The two halves of `runAsMainWindow`, for callers with a loop of their own.
    bool createMainWindow();
    bool mainWindowOpen() const { return mainLoopRunning; }
    void endDialog(INT_PTR result);

    // Offers a message to the open modeless dialogs; true when one took it.
    static bool routeToModelessDialogs(MSG& message);
    // True while a message handler of `dialog` runs (a box or another window's
    // own loop it started may deliver messages meanwhile): destroying it then
    // would leave that handler in a deleted object.
    static bool isHandlingMessage(const Dialog* dialog);
    // The main window's loop for one message, as `runAsMainWindow` runs it.
    void processMessage(MSG& message);

protected:
    virtual bool onInitDialog() { return true; }
    // True when the command was handled.
    virtual bool onCommand(int /*controlId*/, int /*notification*/) { return false; }
    // Any other message; an answer means it was handled.
    virtual std::optional<INT_PTR> onMessage(UINT /*message*/, WPARAM, LPARAM) {
        return std::nullopt;
    }
    virtual void onClose() { endDialog(IDCANCEL); }
    // Called with the window already gone.
    virtual void onDestroyed() {}
    // The main window's look at a message before dispatch; true swallows it.
    virtual bool preTranslateMessage(MSG& /*message*/) { return false; }

    // Data exchange with edit controls. A bad entry shows "Enter an
    // integer." or "Enter a number.", puts the focus on the control and
    // yields nothing.
    std::optional<int32_t> readInteger(int controlId);
    std::optional<double> readNumber(int controlId);
    void writeInteger(int controlId, int32_t value);
    void writeNumber(int controlId, double value);
    std::string controlText(int controlId) const;
    void setControlText(int controlId, const std::string& text);

private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR dispatchMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void refuseEntry(int controlId, const char* text);

    int templateId;
    HWND window = nullptr;
    bool modal = false;
    bool mainLoopRunning = false;
    INT_PTR result = 0;
};

// A modal message box with an OK button. Tests may take the messages
// instead of the user.
void showUserMessage(HWND owner, const char* text, const char* caption);
using UserMessageSink = void (*)(HWND owner, const char* text, const char* caption, void* user);
void setUserMessageSink(UserMessageSink sink, void* user);
