#include "Mp3Stream.h"

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

uint32_t mp3BlockSize(const Mp3Stream& stream) {
    if (stream.sampleRate == 0)
        return 0;
    return static_cast<uint32_t>(stream.bitrateKbps * 1152000 / stream.sampleRate / 8 +
                                 stream.padding);
}
