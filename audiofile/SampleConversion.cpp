#include "SampleConversion.h"

#include "KsAudioFileBase.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr float kScale8 = 1.0f / 128.0f;
constexpr float kScale16 = 1.0f / 32768.0f;
constexpr double kScale24 = 1.0 / 8388608.0;
constexpr double kScale32 = 1.0 / 2147483648.0;

// Each decoder reads one stored value at `p` and gives a float.
struct Uint8ToFloat {
    static constexpr size_t size = 1;
    static float read(const unsigned char* p) { return (static_cast<int>(p[0]) - 128) * kScale8; }
};
struct Int8ToFloat {
    static constexpr size_t size = 1;
    static float read(const unsigned char* p) { return static_cast<int8_t>(p[0]) * kScale8; }
};
template <bool msb> struct Int16ToFloat {
    static constexpr size_t size = 2;
    static float read(const unsigned char* p) {
        const auto value = static_cast<int16_t>(msb ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
        return value * kScale16;
    }
};
template <bool msb> struct Int24ToFloat {
    static constexpr size_t size = 3;
    static float read(const unsigned char* p) {
        const uint32_t bits = msb ? (uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2])
                                  : (uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        const int32_t value = static_cast<int32_t>(bits << 8) >> 8;
        return static_cast<float>(value * kScale24);
    }
};
template <bool msb> uint32_t load32(const unsigned char* p) {
    return msb ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}
template <bool msb> struct Int32ToFloat {
    static constexpr size_t size = 4;
    static float read(const unsigned char* p) {
        return static_cast<float>(static_cast<int32_t>(load32<msb>(p)) * kScale32);
    }
};
// A NaN or infinity in a damaged float file (or a double beyond the float
// range) would poison the plug-in's filters for good, so it reads as silence.
// Finite values pass unclipped; the selects keep the loops branch-free.
template <bool msb> struct Float32ToFloat {
    static constexpr size_t size = 4;
    static float read(const unsigned char* p) {
        const uint32_t bits = load32<msb>(p);
        float value;
        std::memcpy(&value, &bits, 4);
        return std::fabs(value) <= std::numeric_limits<float>::max() ? value : 0.0f;
    }
};
template <bool msb> struct Float64ToFloat {
    static constexpr size_t size = 8;
    static float read(const unsigned char* p) {
        const uint64_t high = load32<msb>(msb ? p : p + 4);
        const uint64_t low = load32<msb>(msb ? p + 4 : p);
        const uint64_t bits = high << 32 | low;
        double value;
        std::memcpy(&value, &bits, 8);
        const double limit = std::numeric_limits<float>::max();
        return static_cast<float>(std::fabs(value) <= limit ? value : 0.0);
    }
};

template <typename Decoder>
void convert(bool stereo, const unsigned char* bytes, size_t frames, float* left, float* right) {
    if (stereo) {
        for (size_t i = 0; i < frames; ++i, bytes += 2 * Decoder::size) {
            left[i] = Decoder::read(bytes);
            right[i] = Decoder::read(bytes + Decoder::size);
        }
    } else {
        for (size_t i = 0; i < frames; ++i, bytes += Decoder::size)
            left[i] = right[i] = Decoder::read(bytes);
    }
}

template <template <bool> class Decoder>
void convertOrdered(bool bigEndian, bool stereo, const unsigned char* bytes, size_t frames,
                    float* left, float* right) {
    if (bigEndian)
        convert<Decoder<true>>(stereo, bytes, frames, left, right);
    else
        convert<Decoder<false>>(stereo, bytes, frames, left, right);
}

} // namespace

void convertFrames(uint32_t format, bool bigEndian, int32_t fileKind, const unsigned char* bytes,
                   size_t frames, float* left, float* right, size_t at) {
    left += at;
    right += at;
    const bool stereo = format >= Stereo8;
    switch (format) {
    case Mono8:
    case Stereo8:
        if (fileKind == fileKindWAV)
            convert<Uint8ToFloat>(stereo, bytes, frames, left, right);
        else
            convert<Int8ToFloat>(stereo, bytes, frames, left, right);
        break;
    case Mono16:
    case Stereo16:
        convertOrdered<Int16ToFloat>(bigEndian, stereo, bytes, frames, left, right);
        break;
    case Mono24:
    case Stereo24:
        convertOrdered<Int24ToFloat>(bigEndian, stereo, bytes, frames, left, right);
        break;
    case Mono32:
    case Stereo32:
        convertOrdered<Int32ToFloat>(bigEndian, stereo, bytes, frames, left, right);
        break;
    case MonoFloat32:
    case StereoFloat32:
        convertOrdered<Float32ToFloat>(bigEndian, stereo, bytes, frames, left, right);
        break;
    case MonoFloat64:
    case StereoFloat64:
        convertOrdered<Float64ToFloat>(bigEndian, stereo, bytes, frames, left, right);
        break;
    default: // 64-bit integers are not converted
        break;
    }
}

int16_t floatToInt16(float sample) {
    if (sample != sample)
        return 0; // a plug-in's NaN records as silence, never as undefined behaviour
    if (sample > 1.0f)
        return 32767;
    if (sample < -1.0f)
        return -32767;
    return static_cast<int16_t>(sample * 32767.0f);
}

void interleaveInt16(const float* left, const float* right, size_t frames, bool bigEndian,
                     unsigned char* out) {
    auto store = [bigEndian](unsigned char* p, int16_t value) {
        const auto bits = static_cast<uint16_t>(value);
        p[bigEndian ? 1 : 0] = static_cast<unsigned char>(bits);
        p[bigEndian ? 0 : 1] = static_cast<unsigned char>(bits >> 8);
    };
    for (size_t i = 0; i < frames; ++i, out += 4) {
        store(out, floatToInt16(left[i]));
        store(out + 2, floatToInt16(right[i]));
    }
}
