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
    bool open(const std::string& path, uint64_t frames, uint32_t rate, bool asFloat);
    bool write(const float* left, const float* right, uint32_t frames);
    bool finish();

private:
    bool writeFloatHeader(uint32_t frames, uint32_t rate);
    std::unique_ptr<KsAudioFileBase> writer;
    std::FILE* floatFile = nullptr;
};
