#include "Dialog.h"

#include "DataExchange.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<HWND>& modelessDialogs() {
    static std::vector<HWND> dialogs;
    return dialogs;
}

std::vector<const Dialog*>& dialogsHandlingMessages() {
    static std::vector<const Dialog*> dialogs;
    return dialogs;
}

UserMessageSink userMessageSink = nullptr;
void* userMessageSinkUser = nullptr;

} // namespace

void showUserMessage(HWND owner, const char* text, const char* caption) {
    if (userMessageSink != nullptr) {
        userMessageSink(owner, text, caption, userMessageSinkUser);
        return;
    }
    MessageBoxA(owner, text, caption, MB_OK | (owner == nullptr ? MB_TASKMODAL : 0));
}

void setUserMessageSink(UserMessageSink sink, void* user) {
    userMessageSink = sink;
    userMessageSinkUser = user;
}

Dialog::Dialog(int id) : templateId(id) {}

Dialog::~Dialog() {
    if (window != nullptr)
        DestroyWindow(window);
}

bool Dialog::createModeless(HWND parent) {
    modal = false;
    window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), parent,
                                dialogProcedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr)
        return false;
    modelessDialogs().push_back(window);
    return true;
}

INT_PTR Dialog::runModal(HWND parent) {
    modal = true;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), parent,
                           dialogProcedure, reinterpret_cast<LPARAM>(this));
}

bool Dialog::createMainWindow() {
    modal = false;
    result = -1;
    mainLoopRunning = true;
    window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                                dialogProcedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        mainLoopRunning = false;
        return false;
    }
    ShowWindow(window, SW_SHOW);
    return true;
}

INT_PTR Dialog::runAsMainWindow() {
    if (!createMainWindow())
        return -1;
    MSG message;
    while (mainLoopRunning && GetMessageA(&message, nullptr, 0, 0) > 0)
        processMessage(message);
    return result;
}

void Dialog::processMessage(MSG& message) {
    const bool forThisWindow = message.hwnd == window || IsChild(window, message.hwnd);
    if (forThisWindow && preTranslateMessage(message))
        return;
    if (!forThisWindow && routeToModelessDialogs(message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void Dialog::endDialog(INT_PTR value) {
    result = value;
    if (modal) {
        EndDialog(window, value);
        return;
    }
    mainLoopRunning = false;
    if (window != nullptr)
        DestroyWindow(window);
}

bool Dialog::routeToModelessDialogs(MSG& message) {
    for (HWND dialog : modelessDialogs())
        if (IsDialogMessageA(dialog, &message))
            return true;
    return false;
}

INT_PTR CALLBACK Dialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<Dialog*>(lParam)->window = window;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    // Only the address is kept: the handler may delete the dialog.
    std::vector<const Dialog*>& handling = dialogsHandlingMessages();
    handling.push_back(dialog);
    const INT_PTR answer = dialog->dispatchMessage(message, wParam, lParam);
    handling.pop_back(); // handlers nest: this one is the last
    return answer;
}

bool Dialog::isHandlingMessage(const Dialog* dialog) {
    const std::vector<const Dialog*>& handling = dialogsHandlingMessages();
    return std::find(handling.begin(), handling.end(), dialog) != handling.end();
}

INT_PTR Dialog::dispatchMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        return onCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_CLOSE:
        onClose();
        return TRUE;
    case WM_NCDESTROY: {
        HWND gone = window;
        auto& dialogs = modelessDialogs();
        dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), gone), dialogs.end());
        SetWindowLongPtrA(gone, DWLP_USER, 0);
        window = nullptr;
        mainLoopRunning = false;
        onDestroyed();
        return FALSE;
    }
    default:
        break;
    }
    std::optional<INT_PTR> answer = onMessage(message, wParam, lParam);
    if (!answer)
        return FALSE;
    if (message == WM_QUERYDRAGICON || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
        message == WM_COMPAREITEM || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC))
        return *answer; // answered directly, not through the message result
    SetWindowLongPtrA(window, DWLP_MSGRESULT, *answer);
    return TRUE;
}

std::string Dialog::controlText(int controlId) const {
    HWND control = GetDlgItem(window, controlId);
    int length = control != nullptr ? GetWindowTextLengthA(control) : 0;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (length > 0)
        GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(length, 0)));
    return text;
}

void Dialog::setControlText(int controlId, const std::string& text) {
    SetDlgItemTextA(window, controlId, text.c_str());
}

void Dialog::refuseEntry(int controlId, const char* text) {
    showUserMessage(window, text, "Error");
    if (HWND control = GetDlgItem(window, controlId); control != nullptr) {
        SetFocus(control);
        SendMessageA(control, EM_SETSEL, 0, -1);
    }
}

std::optional<int32_t> Dialog::readInteger(int controlId) {
    std::optional<int32_t> value = parseInteger(controlText(controlId));
    if (!value)
        refuseEntry(controlId, kEnterIntegerText);
    return value;
}

std::optional<double> Dialog::readNumber(int controlId) {
    std::optional<double> value = parseNumber(controlText(controlId));
    if (!value)
        refuseEntry(controlId, kEnterNumberText);
    return value;
}

void Dialog::writeInteger(int controlId, int32_t value) {
    setControlText(controlId, formatInteger(value));
}

void Dialog::writeNumber(int controlId, double value) {
    setControlText(controlId, formatNumber(value));
}
