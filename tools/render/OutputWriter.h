#pragma once

// Streams a render to disk: 16-bit WAV or AIFF through the program's own
// writers (chosen by the last character of the name), or 32-bit float WAV.

#include "KsAudioFileBase.h"

#include <cstdio>
#include <memory>
#include <string>

class OutputWriter {
public:
    ~OutputWriter();
    // The most frames one output file can hold (its sizes are 32-bit).
    static uint64_t mostFrames(bool asFloat);
    bool open(const std::string& path, uint64_t frames, uint32_t rate, bool asFloat);
    bool write(const float* left, const float* right, uint32_t frames);
    // Closes the file; false when any byte failed to reach it.
    bool finish();

private:
    bool writeFloatHeader(uint32_t frames, uint32_t rate);
    std::unique_ptr<KsAudioFileBase> writer;
    std::FILE* floatFile = nullptr;
};
