// The main window's commands, keys, painting and shutdown.

#include "AudioFileDlg.h"
#include "CHostAbout.h"
#include "CKsVSTHostDlg.h"
#include "CPropAudioDevicesDlg.h"
#include "CPropMidiDevicesDlg.h"
#include "CPropTempoDlg.h"
#include "Clock.h"
#include "MainWindowLogic.h"
#include "resource.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

namespace {

bool keyHeld(int virtualKey) {
    return (GetKeyState(virtualKey) & 0x8000) != 0;
}

} // namespace

bool CKsVSTHostDlg::onCommand(int controlId, int /*notification*/) {
    switch (controlId) {
    case ID_FILE_AUDIOSETTINGS:
    case ID_FILE_MIDISETTINGS:
    case ID_FILE_TEMPO:
    case ID_FILE_AUDIOPLAYER:
    case ID_FILE_AUDIOENGINE:
    case ID_FILE_PANIC:
    case ID_FILE_EXIT:
    case ID_HELP_HELP:
    case ID_HELP_ABOUT:
    case ID_EXTRA_COMMAND:
        runCommand(controlId);
        return true;
    default:
        // IDOK and IDCANCEL from the dialog manager never close the window.
        return controlId == IDOK || controlId == IDCANCEL;
    }
}

void CKsVSTHostDlg::runCommand(int commandId) {
    if (shuttingDown)
        return; // a plug-in closing may pump messages: nothing starts again
    switch (commandId) {
    case ID_FILE_AUDIOSETTINGS:
        return openAudioSettings(false);
    case ID_FILE_MIDISETTINGS:
        return openMidiSettings();
    case ID_FILE_TEMPO:
        return openTempo();
    case ID_FILE_AUDIOPLAYER:
        return openAudioPlayer();
    case ID_FILE_AUDIOENGINE:
        return toggleAudioEngine();
    case ID_FILE_PANIC:
        engine.sendComputerKey('P', true);
        return;
    case ID_FILE_EXIT:
        return exitProgram();
    case ID_HELP_HELP:
        return callPrivateEntry(kShowHelpOffset);
    case ID_HELP_ABOUT:
        if (vendorMatch)
            return callPrivateEntry(kShowAboutScreenOffset);
        CHostAbout().runModal(handle());
        return;
    case ID_EXTRA_COMMAND:
        return callPrivateEntry(kExtraCommandOffset);
    default:
        return;
    }
}

void CKsVSTHostDlg::toggleAudioEngine() {
    if (engine.running.load()) {
        engine.stopAudio();
        setEngineItemText(engine.running.load()); // a stream that would not end still runs
        return;
    }
    const bool started = engine.startAudio();
    if (!started)
        showUserMessage(handle(), kAudioStartFailedText, kErrorCaption);
    setEngineItemText(started);
}

void CKsVSTHostDlg::openAudioSettings(bool atStartup) {
    if (audioSettingsDlg != nullptr) {
        SetActiveWindow(audioSettingsDlg->handle());
        return;
    }
    if (hostSettings != nullptr)
        CPropAudioDevicesDlg::open(audioDrivers, hostLib, *hostSettings, engine, atStartup,
                                   handle(), audioSettingsDlg);
}

// The tempo and player dialogs come with their own work; until they exist
// their commands leave everything as it is.

void CKsVSTHostDlg::openMidiSettings() {
    if (midiSettingsDlg != nullptr) {
        SetActiveWindow(midiSettingsDlg->handle());
        return;
    }
    // The dialog deletes itself when its window is gone.
    auto* dialog = new CPropMidiDevicesDlg(&engine, &midiDriver, &hostLib, hostSettings.get(),
                                           &midiSettingsDlg);
    if (!dialog->createModeless(handle())) {
        delete dialog;
        return;
    }
    midiSettingsDlg = dialog;
}

void CKsVSTHostDlg::openTempo() {
    if (tempoDlg != nullptr) {
        SetActiveWindow(tempoDlg->handle());
        return;
    }
    if (hostSettings != nullptr)
        CPropTempoDlg::open(engine, *hostSettings, tempoDlg, handle());
}

void CKsVSTHostDlg::openAudioPlayer() {
    if (audioFileDlg == nullptr && hostSettings != nullptr) {
        const bool instrument =
            hostLib.effect != nullptr && (hostLib.effect->flags & effFlagsIsSynth) != 0;
        // The dialog deletes itself when its window goes, clearing this pointer.
        auto* dialog = new AudioFileDlg(engine, *hostSettings, instrument, audioFileDlg);
        audioFileDlg = dialog;
        if (!dialog->createModeless(handle()) && audioFileDlg == dialog) {
            audioFileDlg = nullptr;
            delete dialog;
        }
    }
    if (audioFileDlg != nullptr)
        ShowWindow(audioFileDlg->handle(), SW_SHOW);
}

// Only this vendor's plug-ins have the entries past the standard record;
// another plug-in's record may end before them.
void CKsVSTHostDlg::callPrivateEntry(size_t offset) {
    PluginPrivateProc entry = nullptr;
    if (vendorMatch && hostLib.effect != nullptr)
        std::memcpy(&entry, reinterpret_cast<const char*>(hostLib.effect) + offset, sizeof entry);
    if (entry != nullptr) {
        ++pluginCallsRunning;
        entry(hostLib.effect);
        --pluginCallsRunning;
        return;
    }
    if (!vendorMatch)
        showUserMessage(handle(), kVendorOnlyText, kErrorCaption);
}

// While a stream runs, a block stuck in the plug-in may hold the lock its
// state needs: the close that follows keeps the state then, with a bound.
void CKsVSTHostDlg::exitProgram() {
    if (!engine.running.load() && !engine.inCycle.load())
        engine.saveState();
    PostMessageA(handle(), WM_CLOSE, 0, 0);
}

// A settings, Tempo or player window whose message box, file dialog or
// driver's control panel is up is still inside the handler that showed it
// (a box also disables it); destroying it with this window would leave that
// handler running in a deleted window.
bool CKsVSTHostDlg::settingsDialogIsAsking() const {
    for (const Dialog* dialog : {audioSettingsDlg, midiSettingsDlg, tempoDlg, audioFileDlg})
        if (dialog != nullptr &&
            (!IsWindowEnabled(dialog->handle()) || Dialog::isHandlingMessage(dialog)))
            return true;
    return false;
}

// A take still recording is offered for saving while the engine that holds
// it is still there. While a settings window asks something, closing waits:
// the user closes again after answering.
void CKsVSTHostDlg::onClose() {
    // A close arriving while the plug-in closes (it may pump messages) is
    // left to the close already under way; one arriving inside a call of
    // the plug-in's, or inside an audio start or stop (a box of ours or the
    // plug-in's runs the messages there), waits: the plug-in would be closed
    // under that call.
    if (shuttingDown || settingsDialogIsAsking() || insidePluginCall())
        return;
    if (audioFileDlg != nullptr)
        SendMessageA(audioFileDlg->handle(), WM_CLOSE, 0, 0);
    if (audioFileDlg != nullptr)
        return; // still asking about its take: the user closes again after
    shutDown();
    endDialog(IDCANCEL);
}

// Windows ends the session without closing the window and then ends the
// process: what a close keeps is kept here, but nothing is asked.
void CKsVSTHostDlg::endSession() {
    // Inside a call of the plug-in's the plug-in cannot be closed; the
    // process ends with the session in a moment.
    if (insidePluginCall()) {
        engine.saveSettingsIfRequested();
        return;
    }
    shutDown();
}

bool CKsVSTHostDlg::insidePluginCall() const {
    return engine.inAudioTransition() || pluginCallsRunning > 0 || pluginWindow.insidePluginCall();
}

// Once only: a plug-in may run a message loop while it closes, in which
// another close or the session's end would come here again.
void CKsVSTHostDlg::shutDown() {
    AEffect* effect = hostLib.effect;
    if (effect != nullptr && !shuttingDown) {
        shuttingDown = true;
        // The Tempo window stores the tempo as it goes, before the process may
        // end below; not while its message box is up: the handler that
        // showed it still runs.
        if (tempoDlg != nullptr && IsWindowEnabled(tempoDlg->handle()))
            SendMessageA(tempoDlg->handle(), WM_CLOSE, 0, 0);
        engine.refuseStarts();
        engine.stopAudio();
        engine.stopMidi();
        // Kept before a stream that did not stop is waited for again: the
        // session's end leaves a program only a few seconds.
        engine.saveSettingsIfRequested(); // a request the editor's timer has not served yet
        if (engine.running.load() || engine.inCycle.load()) {
            if (!saveStateBesideAStuckBlock())
                return; // the process ends (a test's stand-in only returns)
        } else {
            engine.saveState();
        }
        if (engine.running.load())
            engine.cutOffStream();
        if (engine.running.load() || engine.inCycle.load()) {
            endWithTheStreamRunning();
            return;
        }
        pluginWindow.markClosing();
        hostLib.record.resizeHook = nullptr;
        effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        hostLib.effect = nullptr;
    }
}

// A stream that has not ended after every bounded wait (a block stuck in
// the plug-in or the driver, or waiting for this thread) would run on in a
// closed plug-in, a freed library, and arrays and driver objects the
// destructors free. With the settings and the state kept, the process ends
// here, before anything is closed or freed.
// A plug-in may need, to hand over its state, a lock its stuck block
// holds. Asked on another thread, a state not handed over within a few
// seconds is given up (the file keeps the last one) and the program ends
// rather than hang.
bool CKsVSTHostDlg::saveStateBesideAStuckBlock() {
    constexpr uint32_t kStateWaitMs = 5000;
    constexpr uint32_t kStateCheckMs = 10;
    auto saved = std::make_shared<std::atomic<bool>>(false);
    uint32_t waitMs = kStateWaitMs;
    try {
        std::thread([this, saved] {
            engine.saveState();
            saved->store(true);
        }).detach();
    } catch (const std::system_error&) {
        waitMs = 0; // no thread to spare: the state is given up at once
    }
    for (uint32_t waited = 0; !saved->load() && waited < waitMs; waited += kStateCheckMs)
        platform::sleepMs(kStateCheckMs);
    if (saved->load())
        return true;
    std::fprintf(stderr, "KsVSTHost: the audio stream did not end and the plug-in did not hand "
                         "over its state; the program ends without saving it\n");
    std::fflush(stderr);
    endProcess(0);
    return false;
}

void CKsVSTHostDlg::endWithTheStreamRunning() {
    std::fprintf(stderr, "KsVSTHost: the audio stream did not end; the program ends without "
                         "closing the plug-in (settings and state are saved)\n");
    std::fflush(stderr);
    endProcess(0);
}

std::optional<INT_PTR> CKsVSTHostDlg::onMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_ENDSESSION && wParam != 0) {
        endSession();
        return 0;
    }
    if (message == kResizeToEditorMessage) {
        if (!shuttingDown) // not while the plug-in closes its editor
            resizeToEditor();
        return 0;
    }
    if (message == WM_QUERYDRAGICON)
        return reinterpret_cast<INT_PTR>(icon);
    if (message == WM_PAINT && IsIconic(handle())) {
        paintMinimised();
        return 0;
    }
    return std::nullopt;
}

void CKsVSTHostDlg::paintMinimised() {
    PAINTSTRUCT paint;
    HDC context = BeginPaint(handle(), &paint);
    SendMessageA(handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
    RECT client;
    GetClientRect(handle(), &client);
    int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(context, x, y, icon);
    EndPaint(handle(), &paint);
}

bool CKsVSTHostDlg::preTranslateMessage(MSG& message) {
    KeyMessage key;
    if (message.message == WM_KEYDOWN)
        key.kind = KeyMessageKind::down;
    else if (message.message == WM_KEYUP)
        key.kind = KeyMessageKind::up;
    else
        return false;
    key.virtualKey = static_cast<uint32_t>(message.wParam);
    key.shift = keyHeld(VK_SHIFT);
    key.ctrl = keyHeld(VK_CONTROL);
    key.alt = keyHeld(VK_MENU);
    return handleKeyMessage(key, *this);
}

bool CKsVSTHostDlg::sendComputerKey(uint8_t key, bool down) {
    return engine.sendComputerKey(key, down);
}

bool CKsVSTHostDlg::hasPlugin() const {
    return hostLib.effect != nullptr;
}

// Asked of this vendor's plug-ins only: see callPrivateEntry.
bool CKsVSTHostDlg::editorHasKeyFocus() {
    if (!vendorMatch || hostLib.effect == nullptr)
        return false;
    PluginKeyFocusProc entry = nullptr;
    std::memcpy(&entry, reinterpret_cast<const char*>(hostLib.effect) + kEditorHasKeyFocusOffset,
                sizeof entry);
    return entry != nullptr && entry(hostLib.effect);
}

VstIntPtr CKsVSTHostDlg::offerKeyToPlugin(bool down, VstInt32 character, VstIntPtr vstKey,
                                          float modifiers) {
    AEffect* effect = hostLib.effect;
    ++pluginCallsRunning;
    const VstIntPtr answer = effect->dispatcher(effect, down ? effEditKeyDown : effEditKeyUp,
                                                character, vstKey, nullptr, modifiers);
    --pluginCallsRunning;
    return answer;
}

bool CKsVSTHostDlg::transportRequested() const {
    return engine.transportRequested.load();
}

void CKsVSTHostDlg::setTransport(bool playing) {
    engine.setTransport(playing);
}
