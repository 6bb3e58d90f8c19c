#pragma once

#include "KsAudioFileBase.h"

// RIFF WAVE files: read in 8, 16, 24, 32-bit integer and 32, 64-bit float,
// mono or stereo (plain and extensible format tags); written as 16-bit
// stereo after a 44-byte header.
class KsAudioFileWAV : public KsAudioFileBase {
public:
    KsAudioFileWAV();
    uint32_t openForReading(const std::string& path) override;
    bool writeHeader(uint32_t frames, uint32_t rate) override;
};

// The sample format of a WAV "fmt " description, or 0 when it is none the
// reader takes: tags other than PCM (1) and IEEE float (3) are refused.
// `formatTag` is the real tag (taken from the sub-format of an extensible
// description).
uint32_t wavSampleFormat(uint16_t formatTag, uint16_t channels, uint16_t blockAlign);
