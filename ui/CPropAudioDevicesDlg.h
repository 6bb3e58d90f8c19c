#pragma once

// The modeless "Audio Settings" window: the driver type, the input and
// output devices with their channels, and the output buffer size in
// samples and milliseconds. It works on the drivers' own device entries;
// Apply stores the chosen pair in the settings and starts the engine again.
//
// The object lives as long as its window: it clears the owner's reference
// and deletes itself when the window is destroyed, so it must be created
// with `new` (see `open`).

#include "Dialog.h"
#include "HostSettings.h"
#include "KsAudioBase.h"
#include "KsVSTHostInterface.h"
#include "KsVSTHostLib.h"

#include <cstdint>
#include <string>

class CPropAudioDevicesDlg : public Dialog {
public:
    // Creates the window; on success `reference` points to it until the
    // window is destroyed. Nothing is created when `reference` is set.
    static CPropAudioDevicesDlg* open(AudioDriverPair& drivers, KsVSTHostLib& library,
                                      HostSettings& settings, KsVSTHostInterface& engine,
                                      bool atStartup, HWND parent, Dialog*& reference);

    // The fields as the window shows them.
    int32_t outputSamplesField() const { return outputSamples; }
    double outputMsField() const { return outputMs; }
    int32_t inputSamplesField() const { return inputSamples; }
    double inputMsField() const { return inputMs; }

protected:
    bool onInitDialog() override;
    bool onCommand(int controlId, int notification) override;
    std::optional<INT_PTR> onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onClose() override;
    void onDestroyed() override;

private:
    CPropAudioDevicesDlg(AudioDriverPair& drivers, KsVSTHostLib& library, HostSettings& settings,
                         KsVSTHostInterface& engine, bool atStartup, Dialog*& reference);

    // Handlers.
    void typeSelected();
    void inputDeviceSelected();
    void outputDeviceSelected();
    void channelSelected(int listId);
    void samplesArrow(int proposedChange);
    void msArrow(int proposedChange);
    void samplesTyped();
    void msTyped();
    void takeOutputSamples();
    void takeOutputMs();
    void controlPanel();
    void apply();
    void okPressed();
    void close();

    // Helpers.
    bool takesAudioInput() const;
    int32_t selectedType() const;
    AudioDeviceSettings* selectedDevice(int listId) const;
    void fillDeviceList(int listId, const std::vector<AudioDeviceSettings*>& listed,
                        const AudioDeviceSettings* stored);
    void fillChannelLists(int leftId, int rightId, const AudioDeviceSettings& device,
                          bool isStored);
    bool probe(AudioDeviceSettings* device);
    void setOutputSamples(AudioDeviceSettings* device, int32_t samples);
    void showInputLatency(const AudioDeviceSettings* device);
    void readFields();
    void showFields();
    void showText(int controlId, const std::string& text);
    void enable(int controlId, bool enabled);
    void enableApplyUnlessInitializing();

    AudioDriverPair& drivers;
    KsVSTHostLib& library;
    HostSettings& settings;
    KsVSTHostInterface& engine;
    bool atStartup;
    Dialog*& reference;

    bool initializing = false;
    int32_t outputSamples = 0;
    double outputMs = 0.0;
    int32_t inputSamples = 0;
    double inputMs = 0.0;
    // Set while the dialog itself writes the fields, which is no user edit.
    bool writingFields = false;
};
