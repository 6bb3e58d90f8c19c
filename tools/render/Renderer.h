#pragma once

// Offline rendering: the real engine runs its real cycle back to back from
// one thread on a driver that waits for no device, feeding the plug-in from
// a file through the player and from a MIDI file through the event lists,
// and every block goes straight to the output file.

#include <cstdint>
#include <string>

struct RenderOptions {
    std::string pluginPath;
    std::string inputPath;
    std::string midiPath;
    std::string outputPath;
    std::string statePath;
    std::string saveStatePath;
    double seconds = 0.0; // 0: from the input or the MIDI file
    uint32_t rate = 48000;
    uint32_t block = 512;
    double tempo = 0.0; // 0: the MIDI file's tempo map
    bool floatOutput = false;
    bool progress = false;
};

// Reads the command line; false with a one-line reason.
bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options,
                          std::string& error);

struct RenderResult {
    bool ok = false;
    std::string error; // one line
    uint64_t frames = 0;
    double seconds = 0.0; // time spent rendering
};

RenderResult render(const RenderOptions& options);
