#pragma once

// MIDI events for driving the demo instrument in tests.

#include "vst2.h"

#include <vector>

inline VstMidiEvent midiEvent(int status, int first, int second, int frame = 0) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = frame;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(first);
    event.midiData[2] = static_cast<char>(second);
    return event;
}

inline VstMidiEvent noteOn(int note, int frame = 0, int velocity = 100, int channel = 0) {
    return midiEvent(0x90 | channel, note, velocity, frame);
}

inline VstMidiEvent noteOff(int note, int frame = 0, int channel = 0) {
    return midiEvent(0x80 | channel, note, 0, frame);
}

// A VstEvents block over copies of the given events, laid out as the
// interface expects (header, then one pointer per event).
class EventBlock {
public:
    explicit EventBlock(std::vector<VstMidiEvent> list)
        : events(std::move(list)), storage(2 + events.size() + 2, nullptr) {
        auto* block = get();
        block->numEvents = static_cast<VstInt32>(events.size());
        for (size_t i = 0; i < events.size(); ++i)
            block->events[i] = reinterpret_cast<VstEvent*>(&events[i]);
    }
    VstEvents* get() { return reinterpret_cast<VstEvents*>(storage.data()); }

private:
    std::vector<VstMidiEvent> events;
    std::vector<void*> storage; // pointer-aligned room for header and pointers
};
