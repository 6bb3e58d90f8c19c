#include "KsAudioFileWAV.h"

#include <cstring>

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr size_t kPlainFmtBytes = 16;
constexpr size_t kExtensibleFmtBytes = 40; // the sub-format's tag sits at byte 24

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct FmtChunk {
    bool seen = false;
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
};

} // namespace

// Only plain integers and IEEE floats are samples this reader can convert;
// mu-law, A-law, ADPCM and the like would play as noise.
uint32_t wavSampleFormat(uint16_t formatTag, uint16_t channels, uint16_t blockAlign) {
    if (formatTag != kTagPcm && formatTag != kTagFloat)
        return sampleFormatNone;
    if (channels < 1 || channels > 2 || blockAlign % channels != 0)
        return sampleFormatNone;
    const bool isFloat = formatTag == kTagFloat;
    const uint32_t monoOrStereo = channels == 2 ? Stereo8 - Mono8 : 0;
    switch (blockAlign / channels) {
    case 1:
        return isFloat ? sampleFormatNone : Mono8 + monoOrStereo;
    case 2:
        return isFloat ? sampleFormatNone : Mono16 + monoOrStereo;
    case 3:
        return isFloat ? sampleFormatNone : Mono24 + monoOrStereo;
    case 4:
        return (isFloat ? MonoFloat32 : Mono32) + monoOrStereo;
    case 8:
        return (isFloat ? MonoFloat64 : Mono64) + monoOrStereo;
    default:
        return sampleFormatNone;
    }
}

KsAudioFileWAV::KsAudioFileWAV() {
    fileKind = fileKindWAV;
    bigEndian = 0;
}

// Walks the chunks from offset 12 up to the first "data" chunk, which must
// come after a "fmt " chunk: without one its samples have no known format.
uint32_t KsAudioFileWAV::openForReading(const std::string& path) {
    if (!openFile(path, false))
        return 0;
    unsigned char riff[12];
    if (!readAt(0, riff, sizeof(riff))) {
        close();
        return 0;
    }
    FmtChunk fmt;
    for (int64_t position = 12;;) {
        unsigned char header[8];
        if (!readAt(position, header, sizeof(header)))
            break;
        const uint32_t size = le32(header + 4);
        if (std::memcmp(header, "fmt ", 4) == 0) {
            unsigned char body[kExtensibleFmtBytes] = {};
            const size_t wanted =
                size >= kExtensibleFmtBytes ? kExtensibleFmtBytes : kPlainFmtBytes;
            if (size < kPlainFmtBytes || std::fread(body, 1, wanted, file) != wanted)
                break;
            fmt = {true,           le16(body),      le16(body + 2),
                   le32(body + 4), le16(body + 12), le16(body + 14)};
            if (fmt.tag == kTagExtensible)
                fmt.tag = wanted == kExtensibleFmtBytes ? le16(body + 24) : 0;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!fmt.seen)
                break;
            channels = fmt.channels;
            sampleRate = static_cast<int32_t>(fmt.rate);
            bitsPerSample = fmt.bits;
            format = wavSampleFormat(fmt.tag, fmt.channels, fmt.blockAlign);
            if (fmt.rate > 0x7FFFFFFF) {
                close();
                return 0;
            }
            if (!acceptParsedHeader(position + 8, size))
                return 0;
            return static_cast<uint32_t>(frameCount);
        }
        position += 8 + int64_t(size) + (size & 1);
    }
    close();
    return 0;
}

bool KsAudioFileWAV::writeHeader(uint32_t frames, uint32_t rate) {
    constexpr uint32_t kMostFrames = (0xFFFFFFFFu - 36) / 4; // sizes must fit 32 bits
    if (file == nullptr || frames > kMostFrames || std::fseek(file, 0, SEEK_SET) != 0) {
        close();
        return false;
    }
    const uint32_t dataBytes = frames * 4;
    sampleRate = static_cast<int32_t>(rate);
    return writeBytes("RIFF", 4) && writeNumber32(dataBytes + 36) && writeBytes("WAVE", 4) &&
           writeBytes("fmt ", 4) && writeNumber32(16) && writeNumber16(1) && writeNumber16(2) &&
           writeNumber32(rate) && writeNumber32(rate * 4) && writeNumber16(4) &&
           writeNumber16(16) && writeBytes("data", 4) && writeNumber32(dataBytes);
}
