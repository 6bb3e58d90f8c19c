#pragma once

// Standard MIDI Files (format 0 and 1) as a list of timed short messages:
// notes, controllers, program changes, pitch bend and pressure; tempo meta
// events build the tempo map; everything else is skipped.

#include <cstdint>
#include <string>
#include <vector>

struct TimedMidiEvent {
    double seconds = 0.0;
    uint8_t bytes[3] = {0, 0, 0};
};

struct MidiFileContents {
    std::vector<TimedMidiEvent> events; // in time order
    double lengthSeconds = 0.0;         // time of the last event of any kind
};

// Parses the bytes of a file. With `fixedBpm` above 0 the file's tempo
// events are ignored. False with a reason for a malformed file.
bool parseMidiFile(const std::vector<unsigned char>& bytes, double fixedBpm,
                   MidiFileContents& contents, std::string& error);
