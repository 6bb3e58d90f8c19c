#include "MidiSettingsLogic.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int kLowestNote = 0;
constexpr int kHighestNote = 127;
constexpr int kChannels = 16;
constexpr const char* kPitchClasses[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};

} // namespace

std::string midiNoteName(int note) {
    if (note < kLowestNote || note > kHighestNote)
        return "";
    return std::string(kPitchClasses[note % 12]) + std::to_string(note / 12 - 2);
}

std::vector<std::string> midiNoteNames() {
    std::vector<std::string> names;
    for (int note = kLowestNote; note <= kHighestNote; ++note)
        names.push_back(midiNoteName(note));
    return names;
}

std::vector<std::string> midiChannelNames() {
    std::vector<std::string> names{"all"};
    for (int channel = 1; channel <= kChannels; ++channel)
        names.push_back(std::to_string(channel));
    return names;
}

MidiDeviceIcon midiDeviceIcon(const MidiDeviceSettings& settings) {
    if (!settings.active)
        return MidiDeviceIcon::inactive;
    return settings.sync ? MidiDeviceIcon::synced : MidiDeviceIcon::active;
}

MidiDeviceChoices listMidiDevices(const std::vector<std::unique_ptr<MidiDeviceSettings>>& driver,
                                  const MidiSettingsLookup& lookup) {
    MidiDeviceChoices choices;
    for (const auto& record : driver) {
        const MidiDeviceSettings* settings = lookup(*record);
        if (settings == nullptr)
            continue;
        if (record->isInput) {
            choices.inputs.push_back(record.get());
            continue;
        }
        choices.outputs.push_back(record.get());
        if (settings->active && choices.outputItem == 0)
            choices.outputItem = static_cast<int>(choices.outputs.size());
    }
    return choices;
}

void commitMidiOutput(const std::vector<MidiDeviceSettings*>& outputs,
                      const MidiDeviceSettings* chosen, const MidiSettingsLookup& lookup) {
    // Cleared first, so a settings record two listed outputs share stays on
    // when either is chosen.
    for (MidiDeviceSettings* output : outputs) {
        writeSharedOption(output->active, false);
        if (MidiDeviceSettings* settings = lookup(*output))
            writeSharedOption(settings->active, false);
    }
    if (chosen == nullptr)
        return;
    for (MidiDeviceSettings* output : outputs) {
        if (output != chosen)
            continue;
        writeSharedOption(output->active, true);
        if (MidiDeviceSettings* settings = lookup(*output))
            writeSharedOption(settings->active, true);
    }
}

void clearOtherSyncs(const std::vector<MidiDeviceSettings*>& inputs, size_t selected,
                     const MidiSettingsLookup& lookup) {
    if (selected >= inputs.size())
        return;
    const MidiDeviceSettings* kept = lookup(*inputs[selected]);
    for (MidiDeviceSettings* input : inputs)
        if (MidiDeviceSettings* settings = lookup(*input); settings != nullptr && settings != kept)
            writeSharedOption(settings->sync, false);
}

std::vector<MidiDeviceIcon> inputIcons(const std::vector<MidiDeviceSettings*>& inputs,
                                       const MidiSettingsLookup& lookup) {
    std::vector<MidiDeviceIcon> icons;
    for (const MidiDeviceSettings* input : inputs) {
        const MidiDeviceSettings* settings = lookup(*input);
        icons.push_back(settings != nullptr ? midiDeviceIcon(*settings) : MidiDeviceIcon::inactive);
    }
    return icons;
}

int32_t delayAfterSpin(int32_t delay, int delta) {
    const int64_t next = int64_t{delay} - delta;
    return static_cast<int32_t>(std::clamp<int64_t>(next, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::vector<int> ListSelectionTracker::moveTo(int index) {
    if (index == current)
        return {};
    std::vector<int> redraw;
    if (current >= 0)
        redraw.push_back(current);
    if (index >= 0)
        redraw.push_back(index);
    current = index;
    return redraw;
}

int ListSelectionTracker::afterKey(ListKey key, int itemCount) const {
    if (key == ListKey::up)
        return current >= 0 ? current - 1 : -1;
    return current + 1 < itemCount ? current + 1 : current;
}
