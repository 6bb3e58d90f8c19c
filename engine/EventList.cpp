#include "EventList.h"

namespace {

// The fields no producer writes: what the plug-in reads besides the message.
void stampFixedFields(VstMidiEvent& event) {
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.flags = kVstMidiEventIsRealtime;
    event.noteLength = 0;
    event.noteOffset = 0;
    event.midiData[3] = 0;
    event.detune = 0;
    event.noteOffVelocity = 0;
    event.reserved1 = 0;
    event.reserved2 = 0;
}

} // namespace

EventList::EventList() : block{} {
    restoreRecords(kCapacity);
}

void EventList::restoreRecords(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        VstMidiEvent& event = block.records[i];
        stampFixedFields(event);
        block.events[i] = reinterpret_cast<VstEvent*>(&event);
    }
}
