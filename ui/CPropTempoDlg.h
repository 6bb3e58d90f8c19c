#pragma once

// The "Tempo" window: the host tempo typed, stepped with the spin arrows,
// dragged over the tempo box or tapped, and the MIDI message that taps it
// learned. The tempo lives in the engine; the window keeps the settings'
// copy and saves it whenever it closes, however it is closed.

#include "Dialog.h"
#include "HostSettings.h"
#include "KsVSTHostInterface.h"
#include "TempoDialogLogic.h"

#include <commctrl.h>
#include <windows.h>

#include <memory>
#include <string>

class CPropTempoDlg;

// The tempo box: an edit control where a press near the left edge and a
// drag up or down changes the tempo in whole steps, elsewhere in tenths.
class CTemboBox {
public:
    CTemboBox(KsVSTHostInterface& engine, CPropTempoDlg& dialog, double& bpmValue)
        : engine(engine), dialog(dialog), bpmValue(bpmValue) {}
    bool attach(HWND edit);
    tempoDialog::DragMode mode() const { return dragMode; }

private:
    static LRESULT CALLBACK subclassProcedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR id, DWORD_PTR self);
    void pressed(int x, int y);
    void moved(int y);

    KsVSTHostInterface& engine;
    CPropTempoDlg& dialog;
    double& bpmValue;
    tempoDialog::DragMode dragMode = tempoDialog::DragMode::none;
    int lastY = 0;
};

class CPropTempoDlg : public Dialog {
public:
    static constexpr UINT_PTR kTimerId = 3;
    static constexpr UINT kTimerPeriodMs = 250;

    // Opens the window beside `parent`. `ownerSlot` is the owner's pointer
    // to it: set here, cleared when the window goes, and the dialog deletes
    // itself then. Null when the window cannot be made.
    static CPropTempoDlg* open(KsVSTHostInterface& engine, HostSettings& settings,
                               Dialog*& ownerSlot, HWND parent);

    // Taps are timed by this counter; tests give their own.
    void useClock(int64_t ticksPerSecond, int64_t (*counter)());
    double tempoShown() const { return bpmValue; }
    const CTemboBox& tempoBox() const { return temboBox; }

protected:
    bool onInitDialog() override;
    bool onCommand(int controlId, int notification) override;
    std::optional<INT_PTR> onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onClose() override;
    void onDestroyed() override;

private:
    friend class CTemboBox;

    CPropTempoDlg(KsVSTHostInterface& engine, HostSettings& settings, Dialog*& ownerSlot);

    // Data exchange. A read for a value about to be replaced is quiet: it
    // shows no message for a text that is not a number.
    enum class BadEntry { report, ignore };
    void readControls(BadEntry badEntry);
    void writeControls();

    void onTimer();
    void followEngineTempo();
    void onSpin(const NMUPDOWN& change);
    void onTempoTyped();
    void onTap();
    void onLearnTap();
    void onCloseButton();
    void setEngineTempo(double bpm);
    void storeTempo(double bpm);

    KsVSTHostInterface& engine;
    HostSettings& settings;
    Dialog*& ownerSlot;
    double bpmValue = 0.0;
    std::string learnText;
    CTemboBox temboBox;
    int64_t (*readCounter)();
    tempoDialog::TapSeries taps;
    // The engine's tempo as this window last set or showed it.
    double knownEngineTempo = 0.0;
    bool writingControls = false;
    bool tempoStoredOnClose = false;
};
