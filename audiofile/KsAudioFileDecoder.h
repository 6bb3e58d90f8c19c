#pragma once

// MP3 files through a codec of the Windows Audio Compression Manager: the
// whole file is read, its first frame header describes the stream to the
// codec, the codec converts it to 16-bit PCM in one call. Read only.

#include "KsAudioFileBase.h"

#include <string>

class KsAudioFileDecoder : public KsAudioFileBase {
public:
    KsAudioFileDecoder();
    uint32_t openForReading(const std::string& path) override;
    bool openForWriting(const std::string&, uint32_t, uint32_t) override { return false; }
    bool writeHeader(uint32_t, uint32_t) override { return false; }
    bool readSamples(const StereoBuffer& buffer) override;
    bool close() override { return true; }

    bool mp3CodecFound = false;
    std::string sourcePath;

private:
    bool findCodec();
    // Decodes the file at `sourcePath`; stores at most `maxFrames` frames
    // when `out` is given. The frame count, 0 on failure.
    uint32_t decode(const StereoBuffer* out, uint32_t maxFrames);
    uint32_t openedFrames = 0;
};
