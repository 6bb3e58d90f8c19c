#include "KsMidiBase.h"

MidiMessage MidiMessage::fromBytes(uint8_t first, uint8_t second, uint8_t third, double deltaMs) {
    MidiMessage m;
    m.status = first >= 0xF0 ? first : static_cast<uint8_t>(first & 0xF0);
    m.type = static_cast<uint8_t>(first & 0xF0);
    m.channel = static_cast<uint8_t>(first & 0x0F);
    m.data1 = static_cast<uint8_t>(second & 0x7F);
    m.data2 = static_cast<uint8_t>(third & 0x7F);
    m.deltaMs = deltaMs;
    return m;
}

MidiMessage MidiMessage::fromPacked(uint32_t packed) {
    return fromBytes(static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                     static_cast<uint8_t>(packed >> 16), 0.0);
}
