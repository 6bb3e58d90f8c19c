#include "AudioSettingsLogic.h"

#include "vst2.h"

#include <cmath>
#include <limits>

bool pluginTakesAudioInput(int32_t effectFlags, int32_t numInputs) {
    return (effectFlags & effFlagsIsSynth) == 0 && numInputs != 0;
}

std::vector<DriverTypeItem> driverTypeItems(bool wasapiHasEntries, bool asioHasEntries,
                                            bool takesAudioInput) {
    std::vector<DriverTypeItem> items;
    if (wasapiHasEntries) {
        items.push_back({"WASAPI (Shared Mode)", audioDeviceWasapiShared});
        if (!takesAudioInput)
            items.push_back({"WASAPI (Exclusive Mode)", audioDeviceWasapiExclusive});
    }
    if (asioHasEntries)
        items.push_back({"ASIO", audioDeviceAsio});
    return items;
}

int driverTypeSelection(const std::vector<DriverTypeItem>& items, int32_t storedType) {
    for (size_t k = 0; k < items.size(); ++k)
        if (items[k].code == storedType)
            return static_cast<int>(k);
    return items.empty() ? -1 : 0;
}

DriverTypeControls driverTypeControls(int32_t code) {
    return {code == audioDeviceWasapiExclusive, code == audioDeviceAsio};
}

std::vector<AudioDeviceSettings*>
devicesOfType(const std::vector<std::unique_ptr<AudioDeviceSettings>>& devices, int32_t code,
              bool isInput) {
    std::vector<AudioDeviceSettings*> listed;
    for (const auto& device : devices)
        if (device && device->type == code && device->isInput == isInput)
            listed.push_back(device.get());
    return listed;
}

int deviceSelection(const std::vector<AudioDeviceSettings*>& listed,
                    const AudioDeviceSettings* stored) {
    for (size_t k = 0; k < listed.size(); ++k)
        if (listed[k] == stored)
            return static_cast<int>(k);
    for (size_t k = 0; k < listed.size(); ++k)
        if (listed[k]->isDefault)
            return static_cast<int>(k);
    return listed.empty() ? -1 : 0;
}

ChannelSelection channelSelection(const AudioDeviceSettings& device, bool isStoredDevice) {
    const auto count = static_cast<int64_t>(device.channelNames.size());
    auto shown = [count](int32_t channel) {
        return channel >= 0 && channel < count ? static_cast<int>(channel) : -1;
    };
    if (isStoredDevice)
        return {shown(device.leftChannel), shown(device.rightChannel)};
    if (count >= 2)
        return {0, 1};
    return {-1, -1};
}

double latencyMsFromSamples(double samples, double sampleRate) {
    if (!(sampleRate > 0.0) || !std::isfinite(samples))
        return 0.0;
    return std::floor(samples / sampleRate * 1000.0 * 10.0 + 0.5) / 10.0;
}

int32_t latencySamplesFromMs(double ms, double sampleRate) {
    if (!(sampleRate > 0.0) || !std::isfinite(ms))
        return 0;
    const double samples = std::trunc(ms * sampleRate / 1000.0);
    if (samples >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (samples <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(samples);
}

int32_t samplesAfterArrow(int32_t samples, int32_t proposedChange) {
    const int64_t moved = int64_t(samples) - int64_t(proposedChange);
    if (moved > kLargestBufferSamples)
        return kLargestBufferSamples;
    if (moved < 3)
        return kSmallestBufferSamples;
    return static_cast<int32_t>(moved);
}

double msAfterArrow(double ms, int32_t proposedChange) {
    double moved = ms + proposedChange * -0.1;
    if (!(moved >= kSmallestBufferMs))
        moved = kSmallestBufferMs;
    return std::floor(moved * 10.0 + 0.5) / 10.0;
}

int32_t limitedBufferSamples(int32_t samples) {
    if (samples < kSmallestBufferSamples)
        return kSmallestBufferSamples;
    if (samples > kLargestBufferSamples)
        return kLargestBufferSamples;
    return samples;
}
