#include "CKsVSTHostDlg.h"

#include "CHostAbout.h"
#include "KsASIO.h"
#include "KsWASAPI.h"
#include "MainWindowLogic.h"
#include "resource.h"

#include <cstring>

namespace {

constexpr int kFileMenu = 0;
constexpr int kHelpMenu = 1;
constexpr int kPlayerItemPosition = 7;
constexpr int kPlayerSeparatorPosition = 6;

VstIntPtr dispatchTo(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                     void* ptr = nullptr, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

PixelSize frameSize(HWND window) {
    RECT outer;
    RECT client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    return {(outer.right - outer.left) - client.right, (outer.bottom - outer.top) - client.bottom};
}

// The WASAPI driver is made before the ASIO driver: as two arguments of
// one call their order would be left to the compiler.
AudioDriverPair makeAudioDrivers() {
    auto wasapi = std::make_unique<KsWASAPI>();
    auto asio = std::make_unique<KsASIO>();
    return AudioDriverPair(std::move(wasapi), std::move(asio));
}

} // namespace

CKsVSTHostDlg::CKsVSTHostDlg(std::string path)
    : Dialog(IDD_KSVSTHOST_DIALOG), pluginPath(std::move(path)), audioDrivers(makeAudioDrivers()) {
    icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

// A window destroyed without closing (an early end) still closes the
// plug-in before its library is freed, without asking anything.
CKsVSTHostDlg::~CKsVSTHostDlg() {
    if (handle() != nullptr) {
        shutDown();
        endDialog(IDCANCEL);
    }
}

bool CKsVSTHostDlg::onInitDialog() {
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
    SendMessageA(handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    pluginWindow.bind(GetDlgItem(handle(), IDC_PLUGINWINDOW));
    if (pluginPath.empty() || hostLib.load(pluginPath) == nullptr) {
        showUserMessage(handle(), kLoadFailedText, kErrorCaption);
        PostMessageA(handle(), WM_CLOSE, 0, 0);
        return true;
    }
    dispatchTo(hostLib.effect, effOpen);
    editorRect = readEditorRect(hostLib.effect);
    readPluginIdentity();
    hostLib.record.resizeUserData = this;
    hostLib.record.resizeHook = resizeHook;
    sizeWindowToEditor();
    pluginWindow.attach(&hostLib, &engine, handle());
    const PixelSize announced = editorSize(editorRect);
    if (announced.width == 0 || announced.height == 0) {
        // Some editors know their size only once open: sized and centred now.
        editorRect = readEditorRect(hostLib.effect);
        sizeWindowToEditor();
        resizeToEditor();
    }
    engine.attach(&hostLib, &audioDrivers, &midiDriver, hostSettings.get());
    if (hostSettings->openPlayerOnStartup)
        engine.playerDialogOpen = true;
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512))); // IDC_ARROW
    startAudioAndMidi();
    engine.loadState();
    if (startsWithTransportPlaying(pluginName, hostSettings->anySyncedInputActive()))
        engine.setTransport(true);
    adjustMenuToVendor();
    if (hostSettings->openPlayerOnStartup)
        openAudioPlayer();
    return true;
}

void CKsVSTHostDlg::readPluginIdentity() {
    pluginName = readPluginName(hostLib.effect);
    SetWindowTextA(handle(), pluginName.c_str());
    const bool instrument = (hostLib.effect->flags & effFlagsIsSynth) != 0;
    hostSettings = std::make_unique<HostSettings>(pluginName, instrument);
    hostSettings->load(audioDrivers.wasapi->devices, audioDrivers.asio->devices);
    hostSettings->mergeMidiDevices(midiDriver.devices);
}

void CKsVSTHostDlg::sizeWindowToEditor() {
    PixelSize window = windowSizeForEditor(frameSize(handle()), editorRect);
    PixelPoint origin =
        centredOrigin(window, {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    SetWindowPos(handle(), nullptr, origin.x, origin.y, window.width, window.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void CKsVSTHostDlg::startAudioAndMidi() {
    AudioStartSteps steps;
    steps.startAudio = [this] { return engine.startAudio(); };
    steps.hasOutputDevice = [this] { return hostSettings->outputDevice != nullptr; };
    steps.chooseDefaultDevices = [this] {
        return hostSettings->chooseDefaultAudioDevices(audioDrivers.wasapi->devices,
                                                       audioDrivers.asio->devices);
    };
    steps.saveSettings = [this] { hostSettings->save(); };
    steps.showError = [this](const char* text) { showUserMessage(handle(), text, kErrorCaption); };
    steps.openAudioSettings = [this] { openAudioSettings(true); };
    startAudioAtStartup(steps);
    if (!engine.startMidi()) {
        showUserMessage(handle(), kMidiStartFailedText, kErrorCaption);
        openMidiSettings();
    }
}

void CKsVSTHostDlg::adjustMenuToVendor() {
    vendorMatch = isHostVendor(readVendorString(hostLib.effect));
    setEngineItemText(engine.running.load());
    if (vendorMatch) {
        dispatchTo(hostLib.effect, effCanDo, 0, 0, const_cast<char*>("hasAboutScreen"));
        return;
    }
    HMENU menu = GetMenu(handle());
    HMENU file = GetSubMenu(menu, kFileMenu);
    DeleteMenu(file, kPlayerItemPosition, MF_BYPOSITION);
    DeleteMenu(file, kPlayerSeparatorPosition, MF_BYPOSITION);
    HMENU help = GetSubMenu(menu, kHelpMenu);
    while (GetMenuItemCount(help) > 0)
        DeleteMenu(help, 0, MF_BYPOSITION);
    DrawMenuBar(handle());
}

void CKsVSTHostDlg::setEngineItemText(bool running) {
    ModifyMenuA(GetMenu(handle()), ID_FILE_AUDIOENGINE, MF_BYCOMMAND | MF_STRING,
                ID_FILE_AUDIOENGINE, engineItemText(running));
}

// A plug-in may ask from its audio thread or its own: moving the windows
// there would wait for the window thread (which may be waiting for the
// audio thread to stop), so the request is posted to it.
void CKsVSTHostDlg::resizeHook(void* window) {
    auto* self = static_cast<CKsVSTHostDlg*>(window);
    if (GetWindowThreadProcessId(self->handle(), nullptr) != GetCurrentThreadId()) {
        PostMessageA(self->handle(), kResizeToEditorMessage, 0, 0);
        return;
    }
    self->resizeToEditor();
}

void CKsVSTHostDlg::resizeToEditor() {
    if (hostLib.effect == nullptr || handle() == nullptr)
        return;
    ERect rect = readEditorRect(hostLib.effect);
    PixelSize editor = editorSize(rect);
    MoveWindow(pluginWindow.handle(), 0, 0, editor.width, editor.height, TRUE);
    PixelSize window = windowSizeForEditor(frameSize(handle()), rect);
    SetWindowPos(handle(), nullptr, 0, 0, window.width, window.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
