#pragma once

// The modeless "Midi Settings" window: which MIDI inputs feed the plug-in,
// each input's options, and the one MIDI output for the plug-in's MIDI.
//
// Input options change the settings records at once (the MIDI thread reads
// them as they change); Apply, or OK with changes pending, saves the
// settings and restarts MIDI. The output choice stays in the output list
// until Apply or OK: closing the window any other way leaves the active
// output as it was. The dialog deletes itself once its window is gone,
// clearing the owner's reference to it first.

#include "CListBoxCH.h"
#include "Dialog.h"
#include "HostSettings.h"
#include "KsMidiBase.h"
#include "KsVSTHostInterface.h"
#include "KsVSTHostLib.h"
#include "MidiSettingsLogic.h"

#include <cstdint>

class CPropMidiDevicesDlg : public Dialog {
public:
    // `ownerReference`, when given, points at the owner's reference to this
    // dialog, which is cleared when the window closes.
    CPropMidiDevicesDlg(KsVSTHostInterface* engine, KsMidiBase* midiDriver, KsVSTHostLib* hostLib,
                        HostSettings* settings, Dialog** ownerReference);
    ~CPropMidiDevicesDlg() override;

    CListBoxCH& inputList() { return inputs; }
    HICON iconFor(MidiDeviceIcon icon) const;

protected:
    bool onInitDialog() override;
    bool onCommand(int controlId, int notification) override;
    std::optional<INT_PTR> onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onClose() override { cancel(); }
    void onDestroyed() override;

private:
    bool referencesComplete() const;
    bool pluginCan(const char* capability) const;
    void fillChoiceLists();
    void fillDeviceLists();
    void enableDeviceControls(bool enable);

    void showSelectedDevice();
    void onCheckBox(int controlId);
    void onChoice(int controlId);
    void onDelaySpin(int delta);
    void onOutputChoice();
    void apply();
    void ok();
    void cancel();
    void close();

    MidiDeviceSettings* selectedSettings() const;
    const MidiDeviceSettings* chosenOutput() const;
    void refreshInputIcons();
    bool checked(int controlId) const;
    void setChecked(int controlId, bool on);
    void selectItem(int controlId, int index);
    int selectedItem(int controlId) const;
    void enableApply(bool enable);
    MidiSettingsLookup lookup() const;

    KsVSTHostInterface* engine;
    KsMidiBase* midiDriver;
    KsVSTHostLib* hostLib;
    HostSettings* settings;
    Dialog** ownerReference;
    CListBoxCH inputs;
    MidiDeviceChoices devices;
    HICON icons[3] = {};
    int32_t delay = 0;
};
