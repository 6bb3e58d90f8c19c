#pragma once

// The queue of MIDI events for the next block: two lists, one filled by the
// producers (MIDI thread, window thread) while the audio thread delivers the
// other.

#include "vst2.h"

#include <atomic>
#include <cstdint>

class EventList {
public:
    static constexpr uint32_t kCapacity = 256;

    EventList();
    EventList(const EventList&) = delete;
    EventList& operator=(const EventList&) = delete;

    VstEvents* header() { return reinterpret_cast<VstEvents*>(&block); }
    VstMidiEvent& record(uint32_t i) { return block.records[i]; }
    // Points the first `count` entries at their records again and restores
    // the records' fixed fields: the plug-in may have rearranged or written
    // over what it was handed. Only while no producer fills this list.
    void restoreRecords(uint32_t count);

    const uint32_t capacity = kCapacity;
    // Slots claimed by producers; may run past `capacity`, whose claims drop.
    std::atomic<uint32_t> count{0};

private:
    // Laid out as a VstEvents header with room for every pointer.
    struct Block {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[kCapacity];
        VstMidiEvent records[kCapacity];
    };
    Block block;
};
