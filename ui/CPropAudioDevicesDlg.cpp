#include "CPropAudioDevicesDlg.h"

#include "AudioSettingsLogic.h"
#include "DataExchange.h"
#include "KsASIO.h"
#include "resource.h"

#include <commctrl.h>

namespace {

constexpr const char* kErrorCaption = "Error";

class WaitCursor {
public:
    WaitCursor() { SetCursor(LoadCursor(nullptr, IDC_WAIT)); }
    ~WaitCursor() { SetCursor(LoadCursor(nullptr, IDC_ARROW)); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CPropAudioDevicesDlg* CPropAudioDevicesDlg::open(AudioDriverPair& drivers, KsVSTHostLib& library,
                                                 HostSettings& settings, KsVSTHostInterface& engine,
                                                 bool atStartup, HWND parent, Dialog*& reference) {
    if (reference != nullptr)
        return nullptr;
    auto* dialog =
        new CPropAudioDevicesDlg(drivers, library, settings, engine, atStartup, reference);
    reference = dialog;
    if (!dialog->createModeless(parent)) {
        reference = nullptr;
        delete dialog;
        return nullptr;
    }
    return dialog;
}

CPropAudioDevicesDlg::CPropAudioDevicesDlg(AudioDriverPair& drivers, KsVSTHostLib& library,
                                           HostSettings& settings, KsVSTHostInterface& engine,
                                           bool atStartup, Dialog*& reference)
    : Dialog(IDD_PROPAUDIODEVICES), drivers(drivers), library(library), settings(settings),
      engine(engine), atStartup(atStartup), reference(reference) {}

bool CPropAudioDevicesDlg::onInitDialog() {
    enable(IDC_AUDIO_APPLY, atStartup);
    enable(IDC_AUDIO_CONTROLPANEL, false);
    initializing = true;
    // The input latency is the device's own; there is nothing to choose.
    enable(IDC_AUDIO_INPUTSAMPLESSPIN, false);
    enable(IDC_AUDIO_INPUTMSSPIN, false);
    if (!takesAudioInput())
        for (int id : {IDC_AUDIO_INPUTDEVICE, IDC_AUDIO_LEFTINPUT, IDC_AUDIO_RIGHTINPUT})
            enable(id, false);
    const bool wasapiHasEntries = drivers.wasapi && !drivers.wasapi->devices.empty();
    const bool asioHasEntries = drivers.asio && !drivers.asio->devices.empty();
    HWND typeList = GetDlgItem(handle(), IDC_AUDIO_TYPE);
    const std::vector<DriverTypeItem> items =
        driverTypeItems(wasapiHasEntries, asioHasEntries, takesAudioInput());
    for (const DriverTypeItem& item : items) {
        auto index = SendMessageA(typeList, CB_ADDSTRING, 0, LPARAM(item.text.c_str()));
        SendMessageA(typeList, CB_SETITEMDATA, WPARAM(index), LPARAM(item.code));
    }
    const int32_t storedType = settings.outputDevice ? settings.outputDevice->type : 0;
    SendMessageA(typeList, CB_SETCURSEL, WPARAM(driverTypeSelection(items, storedType)), 0);
    typeSelected();
    initializing = false;
    return true;
}

bool CPropAudioDevicesDlg::onCommand(int controlId, int notification) {
    const bool selected = notification == CBN_SELCHANGE;
    const bool edited = notification == EN_CHANGE && !writingFields;
    switch (controlId) {
    case IDC_AUDIO_TYPE:
        return selected ? (typeSelected(), true) : false;
    case IDC_AUDIO_INPUTDEVICE:
        return selected ? (inputDeviceSelected(), true) : false;
    case IDC_AUDIO_OUTPUTDEVICE:
        return selected ? (outputDeviceSelected(), true) : false;
    case IDC_AUDIO_LEFTINPUT:
    case IDC_AUDIO_RIGHTINPUT:
    case IDC_AUDIO_LEFTOUTPUT:
    case IDC_AUDIO_RIGHTOUTPUT:
        return selected ? (channelSelected(controlId), true) : false;
    case IDC_AUDIO_OUTPUTSAMPLES:
        return edited ? (samplesTyped(), true) : false;
    case IDC_AUDIO_OUTPUTMS:
        return edited ? (msTyped(), true) : false;
    case IDC_AUDIO_CONTROLPANEL:
        return notification == BN_CLICKED ? (controlPanel(), true) : false;
    case IDC_AUDIO_APPLY:
        return notification == BN_CLICKED ? (apply(), true) : false;
    case IDOK:
        okPressed();
        return true;
    case IDCANCEL:
        close();
        return true;
    default:
        return false;
    }
}

std::optional<INT_PTR> CPropAudioDevicesDlg::onMessage(UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_NOTIFY)
        return std::nullopt;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->code != UDN_DELTAPOS)
        return std::nullopt;
    const auto* change = reinterpret_cast<const NMUPDOWN*>(lParam);
    if (header->idFrom == IDC_AUDIO_OUTPUTSAMPLESSPIN)
        samplesArrow(change->iDelta);
    else if (header->idFrom == IDC_AUDIO_OUTPUTMSSPIN)
        msArrow(change->iDelta);
    else
        return std::nullopt;
    return 1; // the arrows keep no position of their own
}

void CPropAudioDevicesDlg::onClose() {
    close();
}

void CPropAudioDevicesDlg::close() {
    DestroyWindow(handle()); // the object is gone when this returns
}

void CPropAudioDevicesDlg::onDestroyed() {
    reference = nullptr;
    delete this;
}

void CPropAudioDevicesDlg::typeSelected() {
    if (!initializing)
        engine.stopAudio();
    for (int id : {IDC_AUDIO_INPUTDEVICE, IDC_AUDIO_OUTPUTDEVICE, IDC_AUDIO_LEFTINPUT,
                   IDC_AUDIO_RIGHTINPUT, IDC_AUDIO_LEFTOUTPUT, IDC_AUDIO_RIGHTOUTPUT})
        SendDlgItemMessageA(handle(), id, CB_RESETCONTENT, 0, 0);
    const int32_t code = selectedType();
    if (code == 0)
        return;
    const DriverTypeControls controls = driverTypeControls(code);
    for (int id : {IDC_AUDIO_OUTPUTSAMPLES, IDC_AUDIO_OUTPUTMS, IDC_AUDIO_OUTPUTSAMPLESSPIN,
                   IDC_AUDIO_OUTPUTMSSPIN})
        enable(id, controls.outputLatencyEnabled);
    enable(IDC_AUDIO_CONTROLPANEL, controls.controlPanelEnabled);
    KsAudioBase* driver = drivers.driverFor(code);
    if (driver == nullptr)
        return;
    fillDeviceList(IDC_AUDIO_INPUTDEVICE, devicesOfType(driver->devices, code, true),
                   settings.inputDevice);
    fillDeviceList(IDC_AUDIO_OUTPUTDEVICE, devicesOfType(driver->devices, code, false),
                   settings.outputDevice);
    inputDeviceSelected();
    outputDeviceSelected();
}

void CPropAudioDevicesDlg::inputDeviceSelected() {
    if (!takesAudioInput())
        return;
    if (!initializing)
        engine.stopAudio();
    SendDlgItemMessageA(handle(), IDC_AUDIO_LEFTINPUT, CB_RESETCONTENT, 0, 0);
    SendDlgItemMessageA(handle(), IDC_AUDIO_RIGHTINPUT, CB_RESETCONTENT, 0, 0);
    AudioDeviceSettings* device = selectedDevice(IDC_AUDIO_INPUTDEVICE);
    showInputLatency(nullptr);
    if (device == nullptr)
        return;
    // Probing loads the ASIO driver, which must not happen under a running stream.
    if (device->type == audioDeviceAsio && !device->infoValid)
        engine.stopAudio();
    probe(device);
    fillChannelLists(IDC_AUDIO_LEFTINPUT, IDC_AUDIO_RIGHTINPUT, *device,
                     device == settings.inputDevice);
    showInputLatency(device);
    enableApplyUnlessInitializing();
}

void CPropAudioDevicesDlg::outputDeviceSelected() {
    if (!initializing)
        engine.stopAudio();
    SendDlgItemMessageA(handle(), IDC_AUDIO_LEFTOUTPUT, CB_RESETCONTENT, 0, 0);
    SendDlgItemMessageA(handle(), IDC_AUDIO_RIGHTOUTPUT, CB_RESETCONTENT, 0, 0);
    AudioDeviceSettings* device = selectedDevice(IDC_AUDIO_OUTPUTDEVICE);
    if (device == nullptr)
        return;
    // Probing loads the ASIO driver, which must not happen under a running stream.
    if (device->type == audioDeviceAsio && !device->infoValid)
        engine.stopAudio();
    probe(device);
    fillChannelLists(IDC_AUDIO_LEFTOUTPUT, IDC_AUDIO_RIGHTOUTPUT, *device,
                     device == settings.outputDevice);
    outputSamples = device->bufferSize;
    outputMs = latencyMsFromSamples(outputSamples, device->sampleRate);
    showFields();
    enableApplyUnlessInitializing();
}

void CPropAudioDevicesDlg::channelSelected(int listId) {
    const bool isInput = listId == IDC_AUDIO_LEFTINPUT || listId == IDC_AUDIO_RIGHTINPUT;
    AudioDeviceSettings* device =
        selectedDevice(isInput ? IDC_AUDIO_INPUTDEVICE : IDC_AUDIO_OUTPUTDEVICE);
    if (device == nullptr)
        return;
    const auto index =
        static_cast<int32_t>(SendDlgItemMessageA(handle(), listId, CB_GETCURSEL, 0, 0));
    if (index < 0)
        return;
    if (listId == IDC_AUDIO_LEFTINPUT || listId == IDC_AUDIO_LEFTOUTPUT)
        device->leftChannel = index;
    else
        device->rightChannel = index;
    enableApplyUnlessInitializing();
}

void CPropAudioDevicesDlg::samplesArrow(int proposedChange) {
    readFields();
    outputSamples = samplesAfterArrow(outputSamples, proposedChange);
    takeOutputSamples();
}

void CPropAudioDevicesDlg::msArrow(int proposedChange) {
    readFields();
    outputMs = msAfterArrow(outputMs, proposedChange);
    takeOutputMs();
}

void CPropAudioDevicesDlg::samplesTyped() {
    readFields();
    takeOutputSamples();
}

void CPropAudioDevicesDlg::msTyped() {
    readFields();
    takeOutputMs();
}

// The samples field becomes the output's buffer size; the ms field follows.
void CPropAudioDevicesDlg::takeOutputSamples() {
    if (AudioDeviceSettings* device = selectedDevice(IDC_AUDIO_OUTPUTDEVICE)) {
        outputMs = latencyMsFromSamples(outputSamples, device->sampleRate);
        device->bufferSize = outputSamples;
    }
    showFields();
    enable(IDC_AUDIO_APPLY, true);
}

// The ms field, at the device's rate, becomes the output's buffer size.
void CPropAudioDevicesDlg::takeOutputMs() {
    AudioDeviceSettings* device = selectedDevice(IDC_AUDIO_OUTPUTDEVICE);
    probe(device);
    if (device != nullptr)
        setOutputSamples(device, latencySamplesFromMs(outputMs, device->sampleRate));
    showFields();
    enable(IDC_AUDIO_APPLY, true);
}

void CPropAudioDevicesDlg::controlPanel() {
    AudioDeviceSettings* device = selectedDevice(IDC_AUDIO_OUTPUTDEVICE);
    if (device == nullptr)
        return;
    auto* asio = dynamic_cast<KsASIO*>(drivers.asio.get());
    // A driver's panel may run a loop of its own without an owner: this
    // window waits disabled, as under a message box, so neither its own
    // buttons nor the main window close it under this handler.
    EnableWindow(handle(), FALSE);
    const bool shown = asio != nullptr && asio->showControlPanel(device);
    EnableWindow(handle(), TRUE);
    if (shown)
        enable(IDC_AUDIO_APPLY, true);
    else
        showUserMessage(handle(), kControlPanelFailedText, kErrorCaption);
}

void CPropAudioDevicesDlg::apply() {
    WaitCursor wait;
    engine.stopAudio();
    // A stream that would not end still reads the entries and the chosen pair.
    if (engine.running.load()) {
        showUserMessage(handle(), kAudioSettingsStartFailedText, kErrorCaption);
        return;
    }
    AudioDeviceSettings* output = selectedDevice(IDC_AUDIO_OUTPUTDEVICE);
    if (output != nullptr)
        output->infoValid = false; // the device is asked again
    const bool probed = probe(output);
    auto* asio = dynamic_cast<KsASIO*>(drivers.asio.get());
    // A failed probe leaves no preferred size to take.
    if (probed && output->type == audioDeviceAsio && asio != nullptr) {
        outputSamples = asio->preferredSize;
        output->bufferSize = outputSamples;
        outputMs = latencyMsFromSamples(outputSamples, output->sampleRate);
        showFields();
    }
    if (limitedBufferSamples(outputSamples) != outputSamples) {
        outputSamples = limitedBufferSamples(outputSamples);
        if (output != nullptr) {
            output->bufferSize = outputSamples;
            outputMs = latencyMsFromSamples(outputSamples, output->sampleRate);
        }
        showFields();
    }
    settings.inputDevice = selectedDevice(IDC_AUDIO_INPUTDEVICE);
    settings.outputDevice = output;
    settings.save();
    if (engine.startAudio())
        enable(IDC_AUDIO_APPLY, false);
    else
        showUserMessage(handle(), kAudioSettingsStartFailedText, kErrorCaption);
    if (takesAudioInput())
        showInputLatency(selectedDevice(IDC_AUDIO_INPUTDEVICE));
}

void CPropAudioDevicesDlg::okPressed() {
    if (IsWindowEnabled(GetDlgItem(handle(), IDC_AUDIO_APPLY)))
        apply();
    close();
}

bool CPropAudioDevicesDlg::takesAudioInput() const {
    const AEffect* effect = library.effect;
    return effect != nullptr && pluginTakesAudioInput(effect->flags, effect->numInputs);
}

int32_t CPropAudioDevicesDlg::selectedType() const {
    HWND list = GetDlgItem(handle(), IDC_AUDIO_TYPE);
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return 0;
    return static_cast<int32_t>(SendMessageA(list, CB_GETITEMDATA, WPARAM(index), 0));
}

AudioDeviceSettings* CPropAudioDevicesDlg::selectedDevice(int listId) const {
    HWND list = GetDlgItem(handle(), listId);
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return nullptr;
    const LRESULT data = SendMessageA(list, CB_GETITEMDATA, WPARAM(index), 0);
    return data == CB_ERR ? nullptr : reinterpret_cast<AudioDeviceSettings*>(data);
}

void CPropAudioDevicesDlg::fillDeviceList(int listId,
                                          const std::vector<AudioDeviceSettings*>& listed,
                                          const AudioDeviceSettings* stored) {
    HWND list = GetDlgItem(handle(), listId);
    for (AudioDeviceSettings* device : listed) {
        const LRESULT index = SendMessageA(list, CB_ADDSTRING, 0, LPARAM(device->name.c_str()));
        SendMessageA(list, CB_SETITEMDATA, WPARAM(index), reinterpret_cast<LPARAM>(device));
    }
    SendMessageA(list, CB_SETCURSEL, WPARAM(deviceSelection(listed, stored)), 0);
}

void CPropAudioDevicesDlg::fillChannelLists(int leftId, int rightId,
                                            const AudioDeviceSettings& device, bool isStored) {
    for (int id : {leftId, rightId})
        for (const std::string& name : device.channelNames)
            SendDlgItemMessageA(handle(), id, CB_ADDSTRING, 0, LPARAM(name.c_str()));
    const ChannelSelection selection = channelSelection(device, isStored);
    SendDlgItemMessageA(handle(), leftId, CB_SETCURSEL, WPARAM(selection.left), 0);
    SendDlgItemMessageA(handle(), rightId, CB_SETCURSEL, WPARAM(selection.right), 0);
}

// A probe asks the entry's driver for its channels, rate and buffer size.
bool CPropAudioDevicesDlg::probe(AudioDeviceSettings* device) {
    WaitCursor wait;
    KsAudioBase* driver = drivers.driverFor(device);
    const bool probed = device != nullptr && driver != nullptr && driver->open(device, true);
    if (!probed)
        showUserMessage(handle(), kDeviceInfoFailedText, kErrorCaption);
    return probed;
}

void CPropAudioDevicesDlg::setOutputSamples(AudioDeviceSettings* device, int32_t samples) {
    outputSamples = samples;
    device->bufferSize = samples;
}

void CPropAudioDevicesDlg::showInputLatency(const AudioDeviceSettings* device) {
    inputSamples = device != nullptr ? device->latency : 0;
    inputMs = device != nullptr ? latencyMsFromSamples(inputSamples, device->sampleRate) : 0.0;
    showFields();
}

// A field that holds no number keeps its value (the reader has said so).
void CPropAudioDevicesDlg::readFields() {
    if (std::optional<int32_t> samples = readInteger(IDC_AUDIO_OUTPUTSAMPLES))
        outputSamples = *samples;
    if (std::optional<double> ms = readNumber(IDC_AUDIO_OUTPUTMS))
        outputMs = *ms;
}

void CPropAudioDevicesDlg::showFields() {
    writingFields = true;
    showText(IDC_AUDIO_OUTPUTSAMPLES, formatInteger(outputSamples));
    showText(IDC_AUDIO_OUTPUTMS, formatNumber(outputMs));
    showText(IDC_AUDIO_INPUTSAMPLES, formatInteger(inputSamples));
    showText(IDC_AUDIO_INPUTMS, formatNumber(inputMs));
    writingFields = false;
}

// A field that already shows the text is left alone, so the caret of a
// field being typed in stays where it is.
void CPropAudioDevicesDlg::showText(int controlId, const std::string& text) {
    if (controlText(controlId) != text)
        setControlText(controlId, text);
}

void CPropAudioDevicesDlg::enable(int controlId, bool enabled) {
    EnableWindow(GetDlgItem(handle(), controlId), enabled ? TRUE : FALSE);
}

void CPropAudioDevicesDlg::enableApplyUnlessInitializing() {
    if (!initializing)
        enable(IDC_AUDIO_APPLY, true);
}
