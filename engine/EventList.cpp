#include "EventList.h"

#include <cstring>

EventList::EventList() : block{} {
    VstEvent** pointers = block.header.events;
    for (uint32_t i = 0; i < kCapacity; ++i) {
        VstMidiEvent& event = block.records[i];
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.flags = kVstMidiEventIsRealtime;
        pointers[i] = reinterpret_cast<VstEvent*>(&event);
    }
}
