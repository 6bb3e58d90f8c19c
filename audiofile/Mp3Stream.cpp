#include "Mp3Stream.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kId3v2HeaderBytes = 10;
constexpr size_t kId3v1Bytes = 128;
constexpr size_t kFrameHeaderBytes = 4;

// Layer III bitrates in kbit/s by index; 0 and 15 give 0.
constexpr int kBitratesMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitratesMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                    64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kRatesMpeg1[3] = {44100, 48000, 32000};
constexpr int kRatesMpeg2[3] = {22050, 24000, 16000};

constexpr uint32_t kSamplesPerFrameMpeg1 = 1152;
constexpr uint32_t kSamplesPerFrameMpeg2 = 576;

bool readFrameHeader(const unsigned char* h, Mp3Stream& stream) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (h[1] >> 3) & 3;
    const int layerBits = h[1] & 6;
    if ((versionBits != 3 && versionBits != 2) || layerBits != 2)
        return false;
    const int rateIndex = (h[2] >> 2) & 3;
    if (rateIndex == 3)
        return false;
    const bool mpeg1 = versionBits == 3;
    stream.version = mpeg1 ? 1 : 2;
    stream.bitrateKbps = (mpeg1 ? kBitratesMpeg1 : kBitratesMpeg2)[h[2] >> 4];
    stream.sampleRate = (mpeg1 ? kRatesMpeg1 : kRatesMpeg2)[rateIndex];
    stream.padding = (h[2] >> 1) & 1;
    stream.channels = (h[3] >> 6) == 3 ? 1 : 2;
    return true;
}

// Bytes of the frame whose header is at `h` (of the first frame's version),
// or 0 when no frame of this stream starts there or its length is unknown
// (a free bitrate).
size_t frameBytesAt(const unsigned char* h, const Mp3Stream& first) {
    Mp3Stream frame;
    if (!readFrameHeader(h, frame) || frame.version != first.version || frame.bitrateKbps == 0)
        return 0;
    const int factor = frame.version == 1 ? 144000 : 72000;
    return static_cast<size_t>(factor * frame.bitrateKbps / frame.sampleRate + frame.padding);
}

} // namespace

bool locateMp3Stream(const unsigned char* data, size_t size, Mp3Stream& stream) {
    stream = Mp3Stream{};
    stream.size = size;
    if (size >= 3 && std::memcmp(data, "ID3", 3) == 0) {
        if (size < kId3v2HeaderBytes)
            return false;
        const size_t tagBytes = size_t(data[6] & 0x7F) << 21 | size_t(data[7] & 0x7F) << 14 |
                                size_t(data[8] & 0x7F) << 7 | size_t(data[9] & 0x7F);
        if (kId3v2HeaderBytes + tagBytes > size)
            return false;
        stream.offset = kId3v2HeaderBytes + tagBytes;
        stream.size = size - stream.offset;
    } else if (size >= kId3v1Bytes && std::memcmp(data + size - kId3v1Bytes, "TAG", 3) == 0) {
        stream.size = size - kId3v1Bytes;
    }
    if (stream.size < kFrameHeaderBytes)
        return false;
    return readFrameHeader(data + stream.offset, stream);
}

// Steps from frame to frame; where the bytes hold no frame (junk, a broken
// frame) it searches on for the next header, so what follows still counts.
// A last frame cut short counts whole: the result is an upper bound.
uint64_t mp3SampleFrames(const unsigned char* data, const Mp3Stream& stream) {
    const uint32_t samplesPerFrame =
        stream.version == 1 ? kSamplesPerFrameMpeg1 : kSamplesPerFrameMpeg2;
    const unsigned char* at = data + stream.offset;
    const unsigned char* end = at + stream.size;
    uint64_t frames = 0;
    while (end - at >= static_cast<std::ptrdiff_t>(kFrameHeaderBytes)) {
        const size_t bytes = frameBytesAt(at, stream);
        if (bytes == 0) {
            ++at;
            continue;
        }
        frames += samplesPerFrame;
        at += std::min(bytes, static_cast<size_t>(end - at));
    }
    return frames;
}

uint32_t mp3BlockSize(const Mp3Stream& stream) {
    if (stream.sampleRate == 0)
        return 0;
    return static_cast<uint32_t>(stream.bitrateKbps * 1152000 / stream.sampleRate / 8 +
                                 stream.padding);
}
