#include "EventList.h"

EventList::EventList() : block{} {
    for (uint32_t i = 0; i < kCapacity; ++i) {
        VstMidiEvent& event = block.records[i];
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.flags = kVstMidiEventIsRealtime;
        block.events[i] = reinterpret_cast<VstEvent*>(&event);
    }
}
