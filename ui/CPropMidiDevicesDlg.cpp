#include "CPropMidiDevicesDlg.h"

#include "MainWindowLogic.h"
#include "resource.h"

#include <commctrl.h>

#include <array>

namespace {

// Enabled and disabled together: they show the chosen input's options.
constexpr std::array kDeviceControls{IDC_MIDI_ACTIVE,
                                     IDC_MIDI_SYNC,
                                     IDC_MIDI_SYNC_WHILE_PLAYING,
                                     IDC_MIDI_DELAY,
                                     IDC_MIDI_DELAY_SPIN,
                                     IDC_MIDI_DELAY_LABEL,
                                     IDC_MIDI_FILTER_CC,
                                     IDC_MIDI_FILTER_PROGRAMS,
                                     IDC_MIDI_CHANNEL,
                                     IDC_MIDI_CHANNEL_LABEL,
                                     IDC_MIDI_RANGE_LOW,
                                     IDC_MIDI_RANGE_HIGH,
                                     IDC_MIDI_RANGE_LABEL};
constexpr int kLowestNote = 0;
constexpr int kHighestNote = 127;
constexpr int kProcessDpiUnaware = 0;

// Asked of the shell-scaling library where there is one, else of the
// older call every system has.
bool processIsDpiAware() {
    HMODULE shcore = LoadLibraryExA("Shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shcore != nullptr) {
        using Query = HRESULT(WINAPI*)(HANDLE, int*);
        auto query = reinterpret_cast<Query>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetProcessDpiAwareness")));
        int awareness = kProcessDpiUnaware;
        const bool answered = query != nullptr && SUCCEEDED(query(nullptr, &awareness));
        FreeLibrary(shcore);
        if (query != nullptr)
            return answered && awareness != kProcessDpiUnaware;
    }
    return IsProcessDPIAware() != FALSE;
}

void fillComboBox(HWND box, const std::vector<std::string>& texts) {
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& text : texts)
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

} // namespace

CPropMidiDevicesDlg::CPropMidiDevicesDlg(KsVSTHostInterface* engine, KsMidiBase* midiDriver,
                                         KsVSTHostLib* hostLib, HostSettings* settings,
                                         Dialog** ownerReference)
    : Dialog(IDD_MIDISETTINGS), engine(engine), midiDriver(midiDriver), hostLib(hostLib),
      settings(settings), ownerReference(ownerReference) {
    const int ids[] = {IDI_MIDI_INPUT_INACTIVE, IDI_MIDI_INPUT_ACTIVE, IDI_MIDI_INPUT_SYNCED};
    for (size_t i = 0; i < std::size(ids); ++i)
        icons[i] = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr),
                                                 MAKEINTRESOURCEA(ids[i]), IMAGE_ICON,
                                                 CListBoxCH::kIconSize, CListBoxCH::kIconSize, 0));
}

CPropMidiDevicesDlg::~CPropMidiDevicesDlg() {
    for (HICON icon : icons)
        if (icon != nullptr)
            DestroyIcon(icon);
}

bool CPropMidiDevicesDlg::referencesComplete() const {
    return engine != nullptr && midiDriver != nullptr && hostLib != nullptr && settings != nullptr;
}

bool CPropMidiDevicesDlg::onInitDialog() {
    writeInteger(IDC_MIDI_DELAY, delay);
    if (!referencesComplete())
        return true;
    enableApply(false);
    inputs.attach(GetDlgItem(handle(), IDC_MIDI_INPUTS));
    enableDeviceControls(false);
    if (!pluginCan("receiveVstMidiEvent"))
        EnableWindow(GetDlgItem(handle(), IDC_MIDI_INPUTS), FALSE);
    if (!pluginCan("sendVstMidiEvent"))
        EnableWindow(GetDlgItem(handle(), IDC_MIDI_OUTPUT), FALSE);
    fillChoiceLists();
    fillDeviceLists();
    return true;
}

bool CPropMidiDevicesDlg::pluginCan(const char* capability) const {
    AEffect* effect = hostLib->effect;
    return effect != nullptr &&
           effect->dispatcher(effect, effCanDo, 0, 0, const_cast<char*>(capability), 0.0f) == 1;
}

void CPropMidiDevicesDlg::fillChoiceLists() {
    fillComboBox(GetDlgItem(handle(), IDC_MIDI_CHANNEL), midiChannelNames());
    selectItem(IDC_MIDI_CHANNEL, 0);
    const std::vector<std::string> notes = midiNoteNames();
    fillComboBox(GetDlgItem(handle(), IDC_MIDI_RANGE_LOW), notes);
    fillComboBox(GetDlgItem(handle(), IDC_MIDI_RANGE_HIGH), notes);
    selectItem(IDC_MIDI_RANGE_LOW, kLowestNote);
    selectItem(IDC_MIDI_RANGE_HIGH, kHighestNote);
}

void CPropMidiDevicesDlg::fillDeviceLists() {
    HWND output = GetDlgItem(handle(), IDC_MIDI_OUTPUT);
    SendMessageA(output, CB_RESETCONTENT, 0, 0);
    SendMessageA(output, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("No Output"));
    SendMessageA(output, CB_SETITEMDATA, 0, 0);
    const bool aware = processIsDpiAware();
    RECT listArea{};
    GetWindowRect(inputs.handle(), &listArea);
    devices = listMidiDevices(midiDriver->devices, lookup());
    for (MidiDeviceSettings* input : devices.inputs) {
        const int item =
            inputs.addItem(input->name, iconFor(midiDeviceIcon(*lookup()(*input))), input);
        if (aware && item >= 0)
            SendMessageA(inputs.handle(), LB_SETITEMHEIGHT, static_cast<WPARAM>(item),
                         dpiAwareItemHeight(listArea.bottom - listArea.top));
    }
    for (MidiDeviceSettings* device : devices.outputs) {
        const LRESULT item =
            SendMessageA(output, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device->name.c_str()));
        SendMessageA(output, CB_SETITEMDATA, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(device));
    }
    selectItem(IDC_MIDI_OUTPUT, devices.outputItem);
}

void CPropMidiDevicesDlg::enableDeviceControls(bool enable) {
    for (int id : kDeviceControls)
        EnableWindow(GetDlgItem(handle(), id), enable ? TRUE : FALSE);
}

bool CPropMidiDevicesDlg::onCommand(int controlId, int notification) {
    switch (controlId) {
    case IDC_MIDI_INPUTS:
        if (notification == LBN_SELCHANGE) {
            inputs.followListBoxSelection();
            showSelectedDevice();
        }
        return true;
    case IDC_MIDI_ACTIVE:
    case IDC_MIDI_SYNC:
    case IDC_MIDI_SYNC_WHILE_PLAYING:
    case IDC_MIDI_FILTER_CC:
    case IDC_MIDI_FILTER_PROGRAMS:
        if (notification == BN_CLICKED)
            onCheckBox(controlId);
        return true;
    case IDC_MIDI_CHANNEL:
    case IDC_MIDI_RANGE_LOW:
    case IDC_MIDI_RANGE_HIGH:
        if (notification == CBN_SELCHANGE)
            onChoice(controlId);
        return true;
    case IDC_MIDI_OUTPUT:
        if (notification == CBN_SELCHANGE)
            onOutputChoice();
        return true;
    case IDC_MIDI_APPLY:
        if (notification == BN_CLICKED)
            apply();
        return true;
    case IDOK:
        ok();
        return true;
    case IDCANCEL:
        cancel();
        return true;
    default:
        return false;
    }
}

std::optional<INT_PTR> CPropMidiDevicesDlg::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_MIDI_DELAY_SPIN || header->code != UDN_DELTAPOS)
            return std::nullopt;
        onDelaySpin(reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta);
        return 0; // the spin takes the change
    }
    case WM_MEASUREITEM:
        if (wParam != IDC_MIDI_INPUTS)
            return std::nullopt;
        inputs.measureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != IDC_MIDI_INPUTS)
            return std::nullopt;
        inputs.drawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_VKEYTOITEM:
        if (reinterpret_cast<HWND>(lParam) != inputs.handle())
            return std::nullopt;
        return inputs.keyToItem(LOWORD(wParam));
    case WM_CHARTOITEM:
        return -2; // the items have no text the list box could search
    default:
        return std::nullopt;
    }
}

void CPropMidiDevicesDlg::showSelectedDevice() {
    if (!referencesComplete())
        return;
    MidiDeviceSettings* s = selectedSettings();
    enableDeviceControls(s != nullptr);
    if (s == nullptr)
        return;
    setChecked(IDC_MIDI_ACTIVE, s->active);
    setChecked(IDC_MIDI_SYNC, s->sync);
    setChecked(IDC_MIDI_SYNC_WHILE_PLAYING, s->syncWhilePlaying);
    setChecked(IDC_MIDI_FILTER_CC, s->filterCCMessages);
    setChecked(IDC_MIDI_FILTER_PROGRAMS, s->filterProgramChanges);
    delay = s->delay;
    writeInteger(IDC_MIDI_DELAY, delay);
    selectItem(IDC_MIDI_CHANNEL, s->channel);
    selectItem(IDC_MIDI_RANGE_LOW, s->keyboardRangeLeft);
    selectItem(IDC_MIDI_RANGE_HIGH, s->keyboardRangeRight);
}

void CPropMidiDevicesDlg::onCheckBox(int controlId) {
    MidiDeviceSettings* s = selectedSettings();
    if (s != nullptr) {
        const bool value = checked(controlId);
        switch (controlId) {
        case IDC_MIDI_ACTIVE:
            writeSharedOption(s->active, value);
            break;
        case IDC_MIDI_SYNC:
            if (value)
                clearOtherSyncs(devices.inputs, static_cast<size_t>(inputs.trackedSelection()),
                                lookup());
            writeSharedOption(s->sync, value);
            break;
        case IDC_MIDI_SYNC_WHILE_PLAYING:
            writeSharedOption(s->syncWhilePlaying, value);
            break;
        case IDC_MIDI_FILTER_CC:
            writeSharedOption(s->filterCCMessages, value);
            break;
        default:
            writeSharedOption(s->filterProgramChanges, value);
            break;
        }
        refreshInputIcons();
    }
    enableApply(true);
}

void CPropMidiDevicesDlg::onChoice(int controlId) {
    MidiDeviceSettings* s = selectedSettings();
    if (s == nullptr)
        return;
    const int index = selectedItem(controlId);
    if (index < 0)
        return;
    if (controlId == IDC_MIDI_CHANNEL)
        writeSharedOption(s->channel, int32_t{index});
    else if (controlId == IDC_MIDI_RANGE_LOW)
        writeSharedOption(s->keyboardRangeLeft, int32_t{index});
    else
        writeSharedOption(s->keyboardRangeRight, int32_t{index});
    enableApply(true);
}

void CPropMidiDevicesDlg::onDelaySpin(int delta) {
    if (!referencesComplete())
        return;
    std::optional<int32_t> shown = readInteger(IDC_MIDI_DELAY);
    if (!shown)
        return;
    delay = delayAfterSpin(*shown, delta);
    writeInteger(IDC_MIDI_DELAY, delay);
    if (MidiDeviceSettings* s = selectedSettings()) {
        writeSharedOption(s->delay, delay);
        enableApply(true);
    }
}

// The choice waits in the list until Apply or OK.
void CPropMidiDevicesDlg::onOutputChoice() {
    enableApply(true);
}

void CPropMidiDevicesDlg::apply() {
    if (!referencesComplete())
        return;
    commitMidiOutput(devices.outputs, chosenOutput(), lookup());
    settings->save();
    engine->stopMidi();
    if (!engine->startMidi())
        showUserMessage(handle(), kMidiStartFailedText, kErrorCaption);
    refreshInputIcons(); // inputs that failed to open are no longer active
    showSelectedDevice();
    enableApply(false);
}

void CPropMidiDevicesDlg::ok() {
    if (IsWindowEnabled(GetDlgItem(handle(), IDC_MIDI_APPLY))) {
        apply();
    } else if (referencesComplete()) {
        commitMidiOutput(devices.outputs, chosenOutput(), lookup());
        settings->save();
    }
    close();
}

void CPropMidiDevicesDlg::cancel() {
    close();
}

void CPropMidiDevicesDlg::close() {
    if (ownerReference != nullptr && *ownerReference == this)
        *ownerReference = nullptr;
    ownerReference = nullptr;
    DestroyWindow(handle());
}

void CPropMidiDevicesDlg::onDestroyed() {
    if (ownerReference != nullptr && *ownerReference == this)
        *ownerReference = nullptr;
    delete this;
}

MidiDeviceSettings* CPropMidiDevicesDlg::selectedSettings() const {
    if (settings == nullptr)
        return nullptr;
    const MidiDeviceSettings* record = inputs.recordAt(inputs.trackedSelection());
    return record != nullptr ? settings->findMidiDevice(*record) : nullptr;
}

const MidiDeviceSettings* CPropMidiDevicesDlg::chosenOutput() const {
    HWND output = GetDlgItem(handle(), IDC_MIDI_OUTPUT);
    const LRESULT item = SendMessageA(output, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR)
        return nullptr;
    return reinterpret_cast<const MidiDeviceSettings*>(
        SendMessageA(output, CB_GETITEMDATA, static_cast<WPARAM>(item), 0));
}

void CPropMidiDevicesDlg::refreshInputIcons() {
    const std::vector<MidiDeviceIcon> now = inputIcons(devices.inputs, lookup());
    for (size_t i = 0; i < now.size(); ++i) {
        HICON icon = iconFor(now[i]);
        if (inputs.itemIcon(static_cast<int>(i)) != icon)
            inputs.setItemIcon(static_cast<int>(i), icon);
    }
}

HICON CPropMidiDevicesDlg::iconFor(MidiDeviceIcon icon) const {
    return icons[static_cast<size_t>(icon)];
}

bool CPropMidiDevicesDlg::checked(int controlId) const {
    return IsDlgButtonChecked(handle(), controlId) == BST_CHECKED;
}

void CPropMidiDevicesDlg::setChecked(int controlId, bool on) {
    CheckDlgButton(handle(), controlId, on ? BST_CHECKED : BST_UNCHECKED);
}

void CPropMidiDevicesDlg::selectItem(int controlId, int index) {
    SendDlgItemMessageA(handle(), controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int CPropMidiDevicesDlg::selectedItem(int controlId) const {
    return static_cast<int>(SendDlgItemMessageA(handle(), controlId, CB_GETCURSEL, 0, 0));
}

void CPropMidiDevicesDlg::enableApply(bool enable) {
    EnableWindow(GetDlgItem(handle(), IDC_MIDI_APPLY), enable ? TRUE : FALSE);
}

MidiSettingsLookup CPropMidiDevicesDlg::lookup() const {
    HostSettings* known = settings;
    return [known](const MidiDeviceSettings& device) { return known->findMidiDevice(device); };
}
