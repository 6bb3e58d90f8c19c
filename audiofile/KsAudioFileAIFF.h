#pragma once

#include "KsAudioFileBase.h"

#include <cstdint>

// AIFF and AIFF-C ("NONE", "sowt", "fl32", "fl64") files: read in 8 to
// 64 bits, mono or stereo; written as 16-bit stereo AIFF after a 54-byte
// header.
class KsAudioFileAIFF : public KsAudioFileBase {
public:
    KsAudioFileAIFF();
    uint32_t openForReading(const std::string& path) override;
    bool writeHeader(uint32_t frames, uint32_t rate) override;

private:
    struct CommonChunk;
    bool readCommonChunk(uint32_t size, bool aiffC, CommonChunk& common);
};

// The 80-bit extended sample rate: the whole-number part of rates from 2 up
// to 2^30, else 0.
int32_t decodeExtendedRate(const unsigned char bytes[10]);
void encodeExtendedRate(uint32_t rate, unsigned char bytes[10]);
