#pragma once

// The Midi Settings dialog's decisions that need no window: the texts of the
// channel and keyboard range lists, the status icon of an input, which
// devices are listed, the one active output, the single clock-synced input,
// the list's selection tracking and the delay arrows.

#include "MidiDeviceSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// "C-2" for note 0 up to "G8" for note 127; "" outside 0 to 127.
std::string midiNoteName(int note);
// The keyboard range lists: the item index is the note number.
std::vector<std::string> midiNoteNames();
// The channel list: "all", then "1" to "16"; the item index is the channel.
std::vector<std::string> midiChannelNames();

enum class MidiDeviceIcon { inactive, active, synced };
MidiDeviceIcon midiDeviceIcon(const MidiDeviceSettings& settings);

// From a driver record to its settings record, none when the device is
// unknown to the settings.
using MidiSettingsLookup = std::function<MidiDeviceSettings*(const MidiDeviceSettings&)>;

// The driver records the dialog lists, in the driver's order: only those
// with a settings record.
struct MidiDeviceChoices {
    std::vector<MidiDeviceSettings*> inputs;
    std::vector<MidiDeviceSettings*> outputs;
    // The output list's item to select: 0 is "No Output", 1 + i is
    // outputs[i]. The first active output is the one the engine opens.
    int outputItem = 0;
};
MidiDeviceChoices listMidiDevices(const std::vector<std::unique_ptr<MidiDeviceSettings>>& driver,
                                  const MidiSettingsLookup& lookup);

// Makes `chosen` (a listed output's driver record, or none) the only active
// output, in the settings records and in the driver records.
void commitMidiOutput(const std::vector<MidiDeviceSettings*>& outputs,
                      const MidiDeviceSettings* chosen, const MidiSettingsLookup& lookup);

// Midi Clock Sync turned on for input `selected`: every other listed input's
// settings record loses `sync` (a record shared with the selected input
// keeps it).
void clearOtherSyncs(const std::vector<MidiDeviceSettings*>& inputs, size_t selected,
                     const MidiSettingsLookup& lookup);

// The icon each listed input shows now.
std::vector<MidiDeviceIcon> inputIcons(const std::vector<MidiDeviceSettings*>& inputs,
                                       const MidiSettingsLookup& lookup);

// The delay after an arrow: the spin reports -1 for up, which raises it.
// No limits, but it never wraps around.
int32_t delayAfterSpin(int32_t delay, int delta);

// Item height in processes that scale for the screen: a third of the
// list's outer height, so three items fill it.
inline int dpiAwareItemHeight(int listOuterHeight) {
    return listOuterHeight / 3;
}

enum class ListKey { up, down };

// The item the user last chose in the input list, -1 before any.
class ListSelectionTracker {
public:
    int selected() const { return current; }
    // Moves the choice; the items to redraw, the one that lost the choice
    // and the one that gained it (none when it stayed).
    std::vector<int> moveTo(int index);
    // Where an arrow key takes the choice: down to the next item when there
    // is one, up to the previous one and from the first to none.
    int afterKey(ListKey key, int itemCount) const;

private:
    int current = -1;
};
