#pragma once

// Finding the MPEG Layer III stream inside a file's bytes: skipping an ID3v2
// tag at the start or an ID3v1 tag at the end, and reading the first frame
// header, which must come right after the tag (there is no search).

#include <cstddef>
#include <cstdint>

struct Mp3Stream {
    size_t offset = 0; // first byte of the first frame
    size_t size = 0;   // bytes of audio data from there
    int version = 0;   // 1 = MPEG-1, 2 = MPEG-2
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 0;
    int padding = 0;
};

// False when the bytes hold no stream the decoder takes: too short for a
// tag or header, a tag that claims more than the file, MPEG-2.5, another
// layer, a reserved rate.
bool locateMp3Stream(const unsigned char* data, size_t size, Mp3Stream& stream);

// The sample frames (per channel) of every MPEG frame in the stream: 1152
// per MPEG-1 frame, 576 per MPEG-2 frame. The first frame's bit rate says
// nothing about the others in a file of variable bit rate, whose first
// frame (an information frame) often claims far more than the average.
uint64_t mp3SampleFrames(const unsigned char* data, const Mp3Stream& stream);

// Bytes of one frame as the codec's block size: bitrate × 1152000 / rate / 8
// plus the padding byte.
uint32_t mp3BlockSize(const Mp3Stream& stream);
