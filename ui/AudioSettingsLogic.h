#pragma once

// The Audio Settings dialog's decisions that need no window: the driver
// types it offers, which device and channels it selects, which controls it
// enables, and the latency conversions and limits.

#include "KsAudioBase.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kDeviceInfoFailedText = "Error getting Device Info!";
constexpr const char* kControlPanelFailedText = "Unable to open ASIO Controlpanel!";
constexpr const char* kAudioSettingsStartFailedText = "Couldn't start Audioengine";

constexpr int32_t kSmallestBufferSamples = 2;
constexpr int32_t kLargestBufferSamples = 9096;
constexpr double kSmallestBufferMs = 0.2;

// An instrument, or a plug-in without inputs, takes no audio input.
bool pluginTakesAudioInput(int32_t effectFlags, int32_t numInputs);

struct DriverTypeItem {
    std::string text;
    int32_t code;
};
// The type list: WASAPI shared (and exclusive, only for a plug-in without
// audio input) when WASAPI has entries, then ASIO when ASIO has entries.
std::vector<DriverTypeItem> driverTypeItems(bool wasapiHasEntries, bool asioHasEntries,
                                            bool takesAudioInput);
// The item whose code is `storedType`, else 0; -1 for an empty list.
int driverTypeSelection(const std::vector<DriverTypeItem>& items, int32_t storedType);

// What the type puts on the dialog.
struct DriverTypeControls {
    bool outputLatencyEnabled;
    bool controlPanelEnabled;
};
DriverTypeControls driverTypeControls(int32_t code);

// The entries of one direction and type, in list order.
std::vector<AudioDeviceSettings*>
devicesOfType(const std::vector<std::unique_ptr<AudioDeviceSettings>>& devices, int32_t code,
              bool isInput);
// The stored entry when listed, else the default one, else item 0; -1 for
// an empty list.
int deviceSelection(const std::vector<AudioDeviceSettings*>& listed,
                    const AudioDeviceSettings* stored);

struct ChannelSelection {
    int left;
    int right;
};
// The stored entry shows its own channels; any other shows 0 and 1 when
// there are channels to show, nothing (-1) otherwise. A stored channel past
// the names shows nothing.
ChannelSelection channelSelection(const AudioDeviceSettings& device, bool isStoredDevice);

// One decimal, halves going up; 0 for a rate that is not known yet.
double latencyMsFromSamples(double samples, double sampleRate);
// Cut toward zero, held within the 32-bit range.
int32_t latencySamplesFromMs(double ms, double sampleRate);
// The samples arrows: `proposedChange` is -1 for up, +1 for down.
int32_t samplesAfterArrow(int32_t samples, int32_t proposedChange);
// The milliseconds arrows: a tenth per step, at least 0.2.
double msAfterArrow(double ms, int32_t proposedChange);
// Apply holds the buffer size within 2..9096.
int32_t limitedBufferSamples(int32_t samples);
