// Any bytes as a Standard MIDI File: parsed or refused with a reason, and
// what is parsed is in time order.

#include "MidiFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> bytes(data, data + size);
    MidiFileContents contents;
    std::string error;
    for (double tempo : {0.0, 97.0}) {
        if (!parseMidiFile(bytes, tempo, contents, error)) {
            if (error.empty())
                std::abort();
            continue;
        }
        for (size_t i = 1; i < contents.events.size(); ++i) {
            if (contents.events[i].seconds < contents.events[i - 1].seconds)
                std::abort();
        }
    }
    return 0;
}
