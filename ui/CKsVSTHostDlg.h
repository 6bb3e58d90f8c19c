#pragma once

// The program's main window: it owns the plug-in, the drivers, the editor
// window and the engine, brings them up in order when it opens, turns menu
// commands and keys into actions and takes everything down when it closes.

#include "Dialog.h"
#include "HostSettings.h"
#include "KeyHandling.h"
#include "KsAudioBase.h"
#include "KsMMMidi.h"
#include "KsVSTHostInterface.h"
#include "KsVSTHostLib.h"
#include "PluginWindow.h"
#include "ProcessEnd.h"

#include <memory>
#include <string>

class CKsVSTHostDlg : public Dialog, private KeyTarget {
public:
    // The plug-in is the library beside the program unless a path is given.
    explicit CKsVSTHostDlg(std::string pluginPath = pluginLibraryPath());
    ~CKsVSTHostDlg() override;

    KsVSTHostLib& library() { return hostLib; }
    KsVSTHostInterface& hostEngine() { return engine; }
    HostSettings* settings() { return hostSettings.get(); }
    PluginWindow& editorWindow() { return pluginWindow; }
    bool vendorMatches() const { return vendorMatch; }
    Dialog* midiSettingsDialog() const { return midiSettingsDlg; }
    Dialog* audioPlayer() { return audioFileDlg; }
    // The menu's action for a command id, as the menu or a shortcut runs it.
    void runCommand(int commandId) override;
    // The resize operation the plug-in reaches through its host record.
    void resizeToEditor();
    // How the process ends when the audio stream has not ended at shutdown
    // (at once, by default; a test stands in for it).
    using ProcessEnd = void (*)(int exitCode);
    void setProcessEnd(ProcessEnd end) { endProcess = end; }

protected:
    bool onInitDialog() override;
    bool onCommand(int controlId, int notification) override;
    std::optional<INT_PTR> onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onClose() override;
    bool preTranslateMessage(MSG& message) override;

private:
    // Start-up steps after the plug-in is loaded.
    void readPluginIdentity();
    void sizeWindowToEditor();
    void startAudioAndMidi();
    void adjustMenuToVendor();
    void setEngineItemText(bool running);

    // Commands.
    void toggleAudioEngine();
    void openAudioSettings(bool atStartup);
    void openMidiSettings();
    void openTempo();
    void openAudioPlayer();
    void callPrivateEntry(size_t offset);
    void exitProgram();
    void endSession();
    void shutDown();
    // False when the state was given up (and the process ended).
    bool saveStateBesideAStuckBlock();
    void endWithTheStreamRunning();
    bool settingsDialogIsAsking() const;

    // Keys.
    bool sendComputerKey(uint8_t key, bool down) override;
    bool hasPlugin() const override;
    bool editorHasKeyFocus() override;
    VstIntPtr offerKeyToPlugin(bool down, VstInt32 character, VstIntPtr vstKey,
                               float modifiers) override;
    bool transportRequested() const override;
    void setTransport(bool playing) override;

    void paintMinimised();
    static void resizeHook(void* window);

    std::string pluginPath;
    std::string pluginName;
    ERect editorRect{};

    KsVSTHostLib hostLib;
    AudioDriverPair audioDrivers;
    KsMMMidi midiDriver;
    // The modeless dialogs, none while closed.
    Dialog* audioSettingsDlg = nullptr;
    Dialog* tempoDlg = nullptr;
    Dialog* midiSettingsDlg = nullptr;
    Dialog* audioFileDlg = nullptr;
    bool shuttingDown = false;
    int pluginCallsRunning = 0; // window-thread calls into the plug-in under way
    // A call into the plug-in (or an audio start or stop) is under way on this
    // thread, below the message being handled.
    bool insidePluginCall() const;
    // Asked by a plug-in from a thread other than the window's: done there.
    static constexpr UINT kResizeToEditorMessage = WM_APP + 1;
    ProcessEnd endProcess = platform::endProcessNow;
    PluginWindow pluginWindow;
    KsVSTHostInterface engine;
    std::unique_ptr<HostSettings> hostSettings;
    bool vendorMatch = false;
    HICON icon = nullptr;
};
