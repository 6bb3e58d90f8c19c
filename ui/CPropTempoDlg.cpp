#include "CPropTempoDlg.h"

#include "Clock.h"
#include "DataExchange.h"
#include "resource.h"

#include <windowsx.h>

using namespace tempoDialog;

namespace {

constexpr UINT_PTR kTemboBoxSubclassId = 1;

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

// ---- CTemboBox ----

bool CTemboBox::attach(HWND edit) {
    return edit != nullptr && SetWindowSubclass(edit, subclassProcedure, kTemboBoxSubclassId,
                                                reinterpret_cast<DWORD_PTR>(this));
}

// Every message goes on to the edit control after the drag has seen it.
LRESULT CALLBACK CTemboBox::subclassProcedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR self) {
    auto* box = reinterpret_cast<CTemboBox*>(self);
    switch (message) {
    case WM_LBUTTONDOWN:
        box->pressed(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        break;
    case WM_MOUSEMOVE:
        box->moved(GET_Y_LPARAM(lParam));
        break;
    case WM_LBUTTONUP:
    // A press whose release went elsewhere ends the drag too; otherwise a
    // mouse merely passing over the box would change the tempo.
    case WM_CAPTURECHANGED:
        box->dragMode = DragMode::none;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(edit, subclassProcedure, kTemboBoxSubclassId);
        break;
    default:
        break;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

void CTemboBox::pressed(int x, int y) {
    dragMode = dragModeForPress(bpmValue, x);
    lastY = y;
}

void CTemboBox::moved(int y) {
    if (dragMode == DragMode::none)
        return;
    dialog.readControls(CPropTempoDlg::BadEntry::ignore);
    bpmValue = dragTempo(bpmValue, dragMode, lastY, y);
    dialog.setEngineTempo(bpmValue);
    lastY = y;
    dialog.writeControls();
}

// ---- CPropTempoDlg ----

CPropTempoDlg::CPropTempoDlg(KsVSTHostInterface& engine, HostSettings& settings, Dialog*& ownerSlot)
    : Dialog(IDD_PROPTEMPO), engine(engine), settings(settings), ownerSlot(ownerSlot),
      temboBox(engine, *this, bpmValue), readCounter(platform::performanceCounter),
      taps(platform::performanceFrequency()) {}

CPropTempoDlg* CPropTempoDlg::open(KsVSTHostInterface& engine, HostSettings& settings,
                                   Dialog*& ownerSlot, HWND parent) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    std::unique_ptr<CPropTempoDlg> dialog(new CPropTempoDlg(engine, settings, ownerSlot));
    if (!dialog->createModeless(parent))
        return nullptr;
    ownerSlot = dialog.release();
    ShowWindow(ownerSlot->handle(), SW_SHOW);
    return static_cast<CPropTempoDlg*>(ownerSlot);
}

void CPropTempoDlg::useClock(int64_t ticksPerSecond, int64_t (*counter)()) {
    readCounter = counter;
    taps = TapSeries(ticksPerSecond);
}

bool CPropTempoDlg::onInitDialog() {
    temboBox.attach(GetDlgItem(handle(), IDC_TEMPO_BPM));
    bpmValue = roundToHundredths(engine.getTempo());
    knownEngineTempo = engine.getTempo();
    SetTimer(handle(), kTimerId, kTimerPeriodMs, nullptr);
    writeControls();
    return true;
}

void CPropTempoDlg::readControls(BadEntry badEntry) {
    const std::string typed = controlText(IDC_TEMPO_BPM);
    // An emptied box is a tempo still being typed, not a mistake.
    if (!isBlank(typed)) {
        std::optional<double> value =
            badEntry == BadEntry::report ? readNumber(IDC_TEMPO_BPM) : parseNumber(typed);
        if (value)
            bpmValue = *value;
    }
    learnText = controlText(IDC_TEMPO_LEARNED);
}

// The tempo box is rewritten only when it shows another number: rewriting
// "99." as "99" while it is typed would take the decimal point away.
void CPropTempoDlg::writeControls() {
    writingControls = true;
    if (parseNumber(controlText(IDC_TEMPO_BPM)) != bpmValue)
        writeNumber(IDC_TEMPO_BPM, bpmValue);
    if (controlText(IDC_TEMPO_LEARNED) != learnText)
        setControlText(IDC_TEMPO_LEARNED, learnText);
    writingControls = false;
}

bool CPropTempoDlg::onCommand(int controlId, int notification) {
    switch (controlId) {
    case IDC_TEMPO_BPM:
        if (notification == EN_CHANGE && !writingControls)
            onTempoTyped();
        return true;
    case IDC_TEMPO_TAP:
        onTap();
        return true;
    case IDC_TEMPO_LEARN:
        onLearnTap();
        return true;
    case IDOK:
        onCloseButton();
        return true;
    case IDCANCEL:
        DestroyWindow(handle());
        return true;
    default:
        return false;
    }
}

std::optional<INT_PTR> CPropTempoDlg::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        onTimer();
        return 0;
    }
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_TEMPO_SPIN && header->code == UDN_DELTAPOS) {
            onSpin(*reinterpret_cast<const NMUPDOWN*>(lParam));
            return FALSE; // the control may move
        }
    }
    return std::nullopt;
}

void CPropTempoDlg::onClose() {
    DestroyWindow(handle());
}

// Learning ends with the window, and the tempo the plug-in plays at is
// kept, unless "Close" has already stored the typed one.
void CPropTempoDlg::onDestroyed() {
    engine.learnMode = false;
    const double bpm = engine.getTempo();
    if (!tempoStoredOnClose && bpm != settings.tempo.load())
        storeTempo(bpm);
    if (ownerSlot == this) {
        ownerSlot = nullptr;
        delete this;
    }
}

// Learning ends once the learned trigger is stored: the button follows the
// end of learning, not the trigger.
void CPropTempoDlg::onTimer() {
    if (!engine.learnMode.load() && controlText(IDC_TEMPO_LEARN) != kLearnText)
        setControlText(IDC_TEMPO_LEARN, kLearnText);
    const std::optional<MidiMessage> learned = engine.learnedTapMessage();
    if (learned) {
        readControls(BadEntry::ignore);
        learnText = learnedMessageText(learned->status, learned->data1);
        writeControls();
        followEngineTempo();
    } else if (controlText(IDC_TEMPO_LEARNED) != kNothingLearnedText) {
        readControls(BadEntry::ignore);
        learnText = kNothingLearnedText;
        writeControls();
    }
}

// Taps of the learned message change the engine's tempo: the window shows
// and keeps it. A tempo being typed is left alone until the engine changes.
void CPropTempoDlg::followEngineTempo() {
    const double bpm = engine.getTempo();
    if (bpm == knownEngineTempo)
        return;
    knownEngineTempo = bpm;
    readControls(BadEntry::ignore);
    bpmValue = bpm;
    writeControls();
    storeTempo(bpm);
}

void CPropTempoDlg::onSpin(const NMUPDOWN& change) {
    readControls(BadEntry::report);
    bpmValue = spinTempo(bpmValue, change.iDelta);
    writeControls();
    setEngineTempo(bpmValue);
}

// A typed text that is not a number is refused and the box shows the tempo
// again; an emptied box waits for the next key.
void CPropTempoDlg::onTempoTyped() {
    if (isBlank(controlText(IDC_TEMPO_BPM)))
        return;
    readControls(BadEntry::report);
    bpmValue = roundToHundredths(bpmValue);
    if (acceptsTypedTempo(bpmValue))
        setEngineTempo(bpmValue);
    writeControls();
}

void CPropTempoDlg::onTap() {
    const std::optional<double> bpm = taps.click(readCounter());
    if (!bpm)
        return;
    setEngineTempo(*bpm);
    storeTempo(*bpm);
    readControls(BadEntry::ignore);
    bpmValue = *bpm;
    writeControls();
}

// Forgetting the trigger forgets the stored one too: the box says "not Set"
// and a restart must not bring the old trigger back.
void CPropTempoDlg::onLearnTap() {
    if (engine.learnMode.load()) {
        engine.learnMode = false;
        setControlText(IDC_TEMPO_LEARN, kLearnText);
        return;
    }
    engine.forgetLearnedTapMessage();
    if (settings.tempoTab.exchange(0) != 0)
        settings.save();
    engine.startTapLearning();
    setControlText(IDC_TEMPO_LEARN, kStopLearningText);
}

void CPropTempoDlg::onCloseButton() {
    engine.learnMode = false;
    readControls(BadEntry::report);
    if (acceptsTypedTempo(bpmValue)) {
        storeTempo(bpmValue);
        tempoStoredOnClose = true;
    }
    writeControls();
    DestroyWindow(handle());
}

void CPropTempoDlg::setEngineTempo(double bpm) {
    engine.setTempo(bpm);
    knownEngineTempo = engine.getTempo();
}

void CPropTempoDlg::storeTempo(double bpm) {
    settings.tempo.store(bpm);
    settings.save();
}
