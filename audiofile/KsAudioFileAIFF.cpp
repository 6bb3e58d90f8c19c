#include "KsAudioFileAIFF.h"

#include <cstring>

namespace {

uint16_t be16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

enum class Compression { none, littleEndian, float32, float64 };

bool compressionOf(const unsigned char type[4], Compression& compression) {
    static const struct {
        const char* id;
        Compression compression;
    } known[] = {{"NONE", Compression::none},
                 {"sowt", Compression::littleEndian},
                 {"fl32", Compression::float32},
                 {"fl64", Compression::float64}};
    for (const auto& k : known) {
        if (std::memcmp(type, k.id, 4) == 0) {
            compression = k.compression;
            return true;
        }
    }
    return false;
}

uint32_t aiffSampleFormat(int32_t bits, int32_t channels, Compression compression) {
    const uint32_t monoOrStereo = channels == 1 ? 0 : Stereo8 - Mono8;
    switch (bits) {
    case 8:
        return Mono8 + monoOrStereo;
    case 16:
        return Mono16 + monoOrStereo;
    case 24:
        return Mono24 + monoOrStereo;
    case 32:
        return (compression == Compression::float32 ? MonoFloat32 : Mono32) + monoOrStereo;
    case 64:
        return (compression == Compression::float64 ? MonoFloat64 : Mono64) + monoOrStereo;
    default:
        return sampleFormatNone;
    }
}

} // namespace

struct KsAudioFileAIFF::CommonChunk {
    bool seen = false;
    uint32_t frames = 0;
    Compression compression = Compression::none;
};

int32_t decodeExtendedRate(const unsigned char b[10]) {
    if (b[0] != 0x40 || b[1] > 28)
        return 0;
    const uint32_t mantissa =
        uint32_t(b[2]) << 23 | uint32_t(b[3]) << 15 | uint32_t(b[4]) << 7 | uint32_t(b[5]) >> 1;
    return static_cast<int32_t>(mantissa >> (29 - b[1]));
}

void encodeExtendedRate(uint32_t rate, unsigned char b[10]) {
    std::memset(b, 0, 10);
    if (rate <= 1) {
        b[0] = 0x3F;
        b[1] = 0xFF;
        b[2] = 0x80;
        return;
    }
    int highest = 31;
    while ((rate >> highest) == 0)
        --highest;
    const uint32_t exponent = 16383u + static_cast<uint32_t>(highest);
    const uint32_t mantissa = rate << (31 - highest);
    b[0] = static_cast<unsigned char>(exponent >> 8);
    b[1] = static_cast<unsigned char>(exponent);
    for (int i = 0; i < 4; ++i)
        b[2 + i] = static_cast<unsigned char>(mantissa >> (24 - 8 * i));
}

KsAudioFileAIFF::KsAudioFileAIFF() {
    fileKind = fileKindAIFF;
    bigEndian = 1;
}

// A truncated "COMM" chunk is refused: its fields would be partly unset.
bool KsAudioFileAIFF::readCommonChunk(uint32_t size, bool aiffC, CommonChunk& common) {
    unsigned char body[22];
    const size_t wanted = aiffC && size >= 22 ? 22 : 18;
    if (size < 18 || std::fread(body, 1, wanted, file) != wanted)
        return false;
    channels = be16(body);
    common.frames = be32(body + 2);
    bitsPerSample = be16(body + 6);
    sampleRate = decodeExtendedRate(body + 8);
    common.compression = Compression::none;
    if (aiffC && size >= 19) {
        if (wanted != 22 || !compressionOf(body + 18, common.compression))
            return false;
    }
    bigEndian = common.compression == Compression::littleEndian ? 0 : 1;
    common.seen = true;
    return true;
}

uint32_t KsAudioFileAIFF::openForReading(const std::string& path) {
    if (!openFile(path, false))
        return 0;
    unsigned char form[12];
    if (!readAt(0, form, sizeof(form))) {
        close();
        return 0;
    }
    const bool aiffC = std::memcmp(form + 8, "AIF", 3) == 0 && form[11] == 'C';
    CommonChunk common;
    for (int64_t position = 12;;) {
        unsigned char header[8];
        if (!readAt(position, header, sizeof(header)))
            break;
        const uint32_t size = be32(header + 4);
        if (std::memcmp(header, "COMM", 4) == 0) {
            if (!readCommonChunk(size, aiffC, common))
                break;
        } else if (std::memcmp(header, "SSND", 4) == 0) {
            unsigned char offset[4];
            if (!common.seen || std::fread(offset, 1, 4, file) != 4)
                break;
            format = aiffSampleFormat(bitsPerSample, channels, common.compression);
            const uint64_t dataStart = uint64_t(position) + 16 + be32(offset);
            const uint64_t bytes = uint64_t(common.frames) * bytesPerFrame(format);
            if (!acceptParsedHeader(dataStart, bytes))
                return 0;
            return static_cast<uint32_t>(frameCount);
        }
        position += 8 + int64_t(size) + (size & 1);
    }
    close();
    return 0;
}

bool KsAudioFileAIFF::writeHeader(uint32_t frames, uint32_t rate) {
    constexpr uint32_t kMostFrames = (0xFFFFFFFFu - 46) / 4; // sizes must fit 32 bits
    if (file == nullptr || frames > kMostFrames || std::fseek(file, 0, SEEK_SET) != 0) {
        close();
        return false;
    }
    unsigned char extended[10];
    encodeExtendedRate(rate, extended);
    sampleRate = static_cast<int32_t>(rate);
    return writeBytes("FORM", 4) && writeNumber32(frames * 4 + 46) && writeBytes("AIFF", 4) &&
           writeBytes("COMM", 4) && writeNumber32(18) && writeNumber16(2) &&
           writeNumber32(frames) && writeNumber16(16) && writeBytes(extended, 10) &&
           writeBytes("SSND", 4) && writeNumber32(frames * 4 + 8) && writeNumber32(0) &&
           writeNumber32(0);
}
