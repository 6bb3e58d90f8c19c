// The Audio Settings dialog's decisions: types offered, selections,
// enabling, latency conversions and limits.

#include "AudioSettingsLogic.h"

#include "vst2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::vector<std::string> texts(const std::vector<DriverTypeItem>& items) {
    std::vector<std::string> result;
    for (const DriverTypeItem& item : items)
        result.push_back(item.text + "=" + std::to_string(item.code));
    return result;
}

std::unique_ptr<AudioDeviceSettings> entry(int32_t type, bool isInput, bool isDefault = false,
                                           size_t channels = 2) {
    auto device = std::make_unique<AudioDeviceSettings>();
    device->type = type;
    device->isInput = isInput;
    device->isDefault = isDefault;
    for (size_t k = 0; k < channels; ++k)
        device->channelNames.push_back("ch" + std::to_string(k));
    return device;
}

} // namespace

TEST(AudioSettingsLogic, OnlyPluginsWithoutAudioInputGetExclusiveMode) {
    struct Row {
        int32_t flags;
        int32_t inputs;
        bool takesInput;
    };
    for (const Row row : {Row{0, 2, true}, Row{effFlagsIsSynth, 2, false}, Row{0, 0, false},
                          Row{effFlagsHasEditor, 1, true}})
        EXPECT_EQ(pluginTakesAudioInput(row.flags, row.inputs), row.takesInput)
            << row.flags << " " << row.inputs;

    using List = std::vector<std::string>;
    EXPECT_EQ(texts(driverTypeItems(true, true, false)),
              (List{"WASAPI (Shared Mode)=4", "WASAPI (Exclusive Mode)=8", "ASIO=2"}));
    EXPECT_EQ(texts(driverTypeItems(true, true, true)), (List{"WASAPI (Shared Mode)=4", "ASIO=2"}));
    EXPECT_EQ(texts(driverTypeItems(false, true, false)), (List{"ASIO=2"}));
    EXPECT_EQ(texts(driverTypeItems(true, false, true)), (List{"WASAPI (Shared Mode)=4"}));
    EXPECT_TRUE(driverTypeItems(false, false, false).empty());
}

TEST(AudioSettingsLogic, TypeSelectionFollowsTheStoredOutput) {
    const auto items = driverTypeItems(true, true, false);
    struct Row {
        int32_t stored;
        int index;
    };
    for (const Row row : {Row{8, 1}, Row{2, 2}, Row{4, 0}, Row{0, 0}, Row{16, 0}})
        EXPECT_EQ(driverTypeSelection(items, row.stored), row.index) << row.stored;
    EXPECT_EQ(driverTypeSelection({}, 4), -1);
}

TEST(AudioSettingsLogic, OnlyExclusiveModeEditsLatencyAndOnlyAsioHasAControlPanel) {
    struct Row {
        int32_t code;
        bool latency;
        bool panel;
    };
    for (const Row row : {Row{2, false, true}, Row{4, false, false}, Row{8, true, false}}) {
        const DriverTypeControls controls = driverTypeControls(row.code);
        EXPECT_EQ(controls.outputLatencyEnabled, row.latency) << row.code;
        EXPECT_EQ(controls.controlPanelEnabled, row.panel) << row.code;
    }
}

TEST(AudioSettingsLogic, DeviceListsKeepListOrderAndPreferStoredThenDefault) {
    std::vector<std::unique_ptr<AudioDeviceSettings>> devices;
    devices.push_back(entry(8, false));
    devices.push_back(entry(4, false));
    devices.push_back(entry(4, true));
    devices.push_back(entry(4, false, true));
    devices.push_back(nullptr);
    devices.push_back(entry(4, false));
    const auto outputs = devicesOfType(devices, 4, false);
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0], devices[1].get());
    EXPECT_EQ(outputs[2], devices[5].get());
    EXPECT_EQ(devicesOfType(devices, 4, true).size(), 1u);

    EXPECT_EQ(deviceSelection(outputs, devices[5].get()), 2); // stored
    EXPECT_EQ(deviceSelection(outputs, devices[0].get()), 1); // not listed: default
    EXPECT_EQ(deviceSelection(outputs, nullptr), 1);
    EXPECT_EQ(deviceSelection({devices[1].get(), devices[5].get()}, nullptr), 0);
    EXPECT_EQ(deviceSelection({}, nullptr), -1);
}

TEST(AudioSettingsLogic, ChannelsShownAreTheStoredOnesOnlyForTheStoredDevice) {
    struct Row {
        size_t channels;
        int32_t left, right;
        bool stored;
        int shownLeft, shownRight;
    };
    for (const Row row :
         {Row{4, 3, 2, true, 3, 2}, Row{4, 3, 2, false, 0, 1}, Row{1, 0, 1, false, -1, -1},
          Row{0, 0, 1, false, -1, -1}, Row{2, 5, -1, true, -1, -1}, Row{2, 0, 1, true, 0, 1}}) {
        auto device = entry(4, false, false, row.channels);
        device->leftChannel = row.left;
        device->rightChannel = row.right;
        const ChannelSelection shown = channelSelection(*device, row.stored);
        EXPECT_EQ(shown.left, row.shownLeft) << row.channels << row.stored;
        EXPECT_EQ(shown.right, row.shownRight) << row.channels << row.stored;
    }
}

TEST(AudioSettingsLogic, MillisecondsHaveOneDecimalWithHalvesUp) {
    struct Row {
        double samples, rate, ms;
    };
    for (const Row row : {Row{256, 44100, 5.8}, Row{256, 48000, 5.3}, Row{240, 48000, 5.0},
                          Row{24, 48000, 0.5}, Row{9096, 48000, 189.5}, Row{2, 96000, 0.0},
                          Row{512, 0, 0.0}, Row{512, -48000, 0.0}, Row{512, std::nan(""), 0.0}})
        EXPECT_DOUBLE_EQ(latencyMsFromSamples(row.samples, row.rate), row.ms)
            << row.samples << " at " << row.rate;
}

TEST(AudioSettingsLogic, SamplesFromMillisecondsCutTowardZeroAndStayInRange) {
    constexpr int32_t most = std::numeric_limits<int32_t>::max();
    struct Row {
        double ms, rate;
        int32_t samples;
    };
    for (const Row row :
         {Row{5.8, 44100, 255}, Row{5.0, 48000, 240}, Row{0.2, 48000, 9}, Row{10.0, 0, 0},
          Row{1e12, 48000, most}, Row{-1e12, 48000, std::numeric_limits<int32_t>::min()},
          Row{std::numeric_limits<double>::infinity(), 48000, 0}})
        EXPECT_EQ(latencySamplesFromMs(row.ms, row.rate), row.samples)
            << row.ms << " at " << row.rate;
}

TEST(AudioSettingsLogic, ArrowsStopAtTheirLimits) {
    struct SamplesRow {
        int32_t samples, change, result;
    };
    for (const SamplesRow row :
         {SamplesRow{256, -1, 257}, SamplesRow{256, 1, 255}, SamplesRow{9096, -1, 9096},
          SamplesRow{9095, -1, 9096}, SamplesRow{2, 1, 2}, SamplesRow{3, 1, 2}, SamplesRow{4, 1, 3},
          SamplesRow{-50, -1, 2}, SamplesRow{std::numeric_limits<int32_t>::min(), 1, 2},
          SamplesRow{std::numeric_limits<int32_t>::max(), -1, 9096}})
        EXPECT_EQ(samplesAfterArrow(row.samples, row.change), row.result)
            << row.samples << " " << row.change;

    struct MsRow {
        double ms;
        int32_t change;
        double result;
    };
    for (const MsRow row :
         {MsRow{5.0, -1, 5.1}, MsRow{5.0, 1, 4.9}, MsRow{0.2, 1, 0.2}, MsRow{0.3, 1, 0.2},
          MsRow{0.25, 0, 0.3}, MsRow{-4.0, -1, 0.2}, MsRow{std::nan(""), 1, 0.2}})
        EXPECT_DOUBLE_EQ(msAfterArrow(row.ms, row.change), row.result) << row.ms;

    struct LimitRow {
        int32_t samples, result;
    };
    for (const LimitRow row : {LimitRow{1, 2}, LimitRow{2, 2}, LimitRow{9096, 9096},
                               LimitRow{9097, 9096}, LimitRow{-7, 2}, LimitRow{512, 512}})
        EXPECT_EQ(limitedBufferSamples(row.samples), row.result) << row.samples;
}
