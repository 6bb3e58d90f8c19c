#include "DeviceSamples.h"
#include "DeviceSamplesAvx2.h"

#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

enum Avx2State : int { avx2Unknown, avx2Off, avx2On };
std::atomic<int> avx2State{avx2Unknown};

// Compiled for the baseline processor, so asking is safe on any of them.
bool processorHasAvx2() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

} // namespace

// Asked at the first conversion, never before the program's own code runs.
// Every thread that races here finds the same answer.
bool avx2StepsEnabled() {
    int state = avx2State.load(std::memory_order_relaxed);
    if (state == avx2Unknown) {
        state = processorHasAvx2() ? avx2On : avx2Off;
        avx2State.store(state, std::memory_order_relaxed);
    }
    return state == avx2On;
}

void enableAvx2Steps(bool enabled) {
    avx2State.store(enabled && processorHasAvx2() ? avx2On : avx2Off, std::memory_order_relaxed);
}

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr size_t kPlainFormatBytes = 16;
constexpr size_t kExtensibleFormatBytes = 40; // the sub-format starts at byte 24

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Full scale clamp of the render path: NaN compares false and becomes +1.0.
float clampToFullScale(float x) {
    return x < -1.0f ? -1.0f : (x <= 1.0f ? x : 1.0f);
}

struct Uint8Sample {
    static constexpr size_t size = 1;
    static float read(const unsigned char* p) { return (int(p[0]) - 128) * (1.0f / 128.0f); }
    static void write(unsigned char* p, float x) {
        p[0] = static_cast<unsigned char>(static_cast<int>(clampToFullScale(x) * 127.0f) + 128);
    }
};
struct Int16Sample {
    static constexpr size_t size = 2;
    static float read(const unsigned char* p) {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v * (1.0f / 32768.0f);
    }
    static void write(unsigned char* p, float x) {
        const auto v = static_cast<int16_t>(clampToFullScale(x) * 32767.0f);
        std::memcpy(p, &v, 2); // the machine is little-endian, like the device format
    }
};
struct Int24Sample {
    static constexpr size_t size = 3;
    static float read(const unsigned char* p) {
        const int32_t v = static_cast<int32_t>(
                              (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16) << 8) >>
                          8;
        return static_cast<float>(v * (1.0 / 8388608.0));
    }
    static void write(unsigned char* p, float x) {
        double scaled = static_cast<double>(clampToFullScale(x)) * 8388608.0;
        const auto v =
            static_cast<uint32_t>(scaled >= 8388607.0 ? 8388607 : static_cast<int32_t>(scaled));
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v >> 16);
    }
};
struct Int32Sample {
    static constexpr size_t size = 4;
    static float read(const unsigned char* p) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return static_cast<float>(v) * (1.0f / 2147483648.0f);
    }
    static void write(unsigned char* p, float x) {
        // +1.0 scales to 2^31, one past the largest sample.
        const float scaled = clampToFullScale(x) * 2147483648.0f;
        const int32_t v = scaled >= 2147483648.0f ? 2147483647 : static_cast<int32_t>(scaled);
        std::memcpy(p, &v, 4);
    }
};
struct Float32Sample {
    static constexpr size_t size = 4;
    static float read(const unsigned char* p) {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static void write(unsigned char* p, float x) {
        const float v = clampToFullScale(x);
        std::memcpy(p, &v, 4);
    }
};

bool inRange(int32_t channel, uint16_t count) {
    return channel >= 0 && channel < count;
}

// The common case, a stereo device on channels 0 and 1, as straight loops
// the compiler can vectorise.
bool isPlainStereo(const ChannelMap& map) {
    return map.channelCount == 2 && map.left == 0 && map.right == 1;
}

#if defined(__SSE2__)
// Both targets are x86-64, so SSE2 is always there: four frames a step,
// the same arithmetic as the scalar samples (multiply in float, truncate).
// The tail of a block that is not a multiple of four goes the scalar way.

// min(x, 1) takes its second operand when x is NaN, so NaN becomes +1.0.
inline __m128 clampToFullScale4(__m128 x) {
    return _mm_max_ps(_mm_min_ps(x, _mm_set1_ps(1.0f)), _mm_set1_ps(-1.0f));
}

inline __m128i toInt32Saturated4(__m128 x) {
    const __m128 scaled = _mm_mul_ps(clampToFullScale4(x), _mm_set1_ps(2147483648.0f));
    // +1.0 scales to 2^31, which converts to 0x80000000: flip it to 0x7FFFFFFF.
    const __m128 overflow = _mm_cmpge_ps(scaled, _mm_set1_ps(2147483648.0f));
    return _mm_xor_si128(_mm_cvttps_epi32(scaled), _mm_castps_si128(overflow));
}

template <typename Sample>
size_t renderStereoVector(const float*, const float*, size_t, unsigned char*) {
    return 0;
}

template <>
size_t renderStereoVector<Float32Sample>(const float* left, const float* right, size_t frames,
                                         unsigned char* out) {
    size_t i = avx2StepsEnabled() ? renderStereoFloat32Avx2(left, right, frames, out) : 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128 l = clampToFullScale4(_mm_loadu_ps(left + i));
        const __m128 r = clampToFullScale4(_mm_loadu_ps(right + i));
        _mm_storeu_ps(reinterpret_cast<float*>(out + 8 * i), _mm_unpacklo_ps(l, r));
        _mm_storeu_ps(reinterpret_cast<float*>(out + 8 * i + 16), _mm_unpackhi_ps(l, r));
    }
    return i;
}

template <>
size_t renderStereoVector<Int16Sample>(const float* left, const float* right, size_t frames,
                                       unsigned char* out) {
    const __m128 scale = _mm_set1_ps(32767.0f);
    size_t i = avx2StepsEnabled() ? renderStereoInt16Avx2(left, right, frames, out) : 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128i l =
            _mm_cvttps_epi32(_mm_mul_ps(clampToFullScale4(_mm_loadu_ps(left + i)), scale));
        const __m128i r =
            _mm_cvttps_epi32(_mm_mul_ps(clampToFullScale4(_mm_loadu_ps(right + i)), scale));
        const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), packed);
    }
    return i;
}

template <>
size_t renderStereoVector<Int32Sample>(const float* left, const float* right, size_t frames,
                                       unsigned char* out) {
    size_t i = avx2StepsEnabled() ? renderStereoInt32Avx2(left, right, frames, out) : 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128i l = toInt32Saturated4(_mm_loadu_ps(left + i));
        const __m128i r = toInt32Saturated4(_mm_loadu_ps(right + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), _mm_unpacklo_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i + 16), _mm_unpackhi_epi32(l, r));
    }
    return i;
}

template <typename Sample>
size_t captureStereoVector(const unsigned char*, size_t, float*, float*) {
    return 0;
}

// Splits four interleaved frames (as floats) into left and right.
inline void storeDeinterleaved(__m128 low, __m128 high, float* left, float* right) {
    _mm_storeu_ps(left, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(right, _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
}

template <>
size_t captureStereoVector<Int16Sample>(const unsigned char* packet, size_t frames, float* left,
                                        float* right) {
    const __m128 scale = _mm_set1_ps(1.0f / 32768.0f);
    size_t i = avx2StepsEnabled() ? captureStereoInt16Avx2(packet, frames, left, right) : 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 4 * i));
        // Each 16-bit sample to the top of a 32-bit lane, then shifted down with its sign.
        const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(samples, samples), 16);
        const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(samples, samples), 16);
        storeDeinterleaved(_mm_mul_ps(_mm_cvtepi32_ps(low), scale),
                           _mm_mul_ps(_mm_cvtepi32_ps(high), scale), left + i, right + i);
    }
    return i;
}

template <>
size_t captureStereoVector<Int32Sample>(const unsigned char* packet, size_t frames, float* left,
                                        float* right) {
    const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
    size_t i = avx2StepsEnabled() ? captureStereoInt32Avx2(packet, frames, left, right) : 0;
    for (; i + 4 <= frames; i += 4) {
        const auto* at = reinterpret_cast<const __m128i*>(packet + 8 * i);
        storeDeinterleaved(_mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(at)), scale),
                           _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(at + 1)), scale), left + i,
                           right + i);
    }
    return i;
}

template <>
size_t captureStereoVector<Float32Sample>(const unsigned char* packet, size_t frames, float* left,
                                          float* right) {
    size_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const auto* at = reinterpret_cast<const float*>(packet + 8 * i);
        storeDeinterleaved(_mm_loadu_ps(at), _mm_loadu_ps(at + 4), left + i, right + i);
    }
    return i;
}
#else
template <typename Sample>
size_t renderStereoVector(const float*, const float*, size_t, unsigned char*) {
    return 0;
}
template <typename Sample>
size_t captureStereoVector(const unsigned char*, size_t, float*, float*) {
    return 0;
}
#endif

template <typename Sample>
void captureStereo(const unsigned char* packet, uint32_t n, float* left, float* right) {
    for (size_t i = captureStereoVector<Sample>(packet, n, left, right); i < n; ++i) {
        left[i] = Sample::read(packet + 2 * Sample::size * i);
        right[i] = Sample::read(packet + 2 * Sample::size * i + Sample::size);
    }
}

template <typename Sample>
void renderStereo(const float* left, const float* right, uint32_t frames, unsigned char* out) {
    for (size_t i = renderStereoVector<Sample>(left, right, frames, out); i < frames; ++i) {
        Sample::write(out + 2 * Sample::size * i, left[i]);
        Sample::write(out + 2 * Sample::size * i + Sample::size, right[i]);
    }
}

template <typename Sample>
uint32_t capture(const unsigned char* packet, uint32_t frames, const ChannelMap& map, float* left,
                 float* right, uint32_t capacity) {
    const uint32_t n = frames < capacity ? frames : capacity;
    if (isPlainStereo(map)) {
        captureStereo<Sample>(packet, n, left, right);
        return n;
    }
    const size_t stride = Sample::size * map.channelCount;
    const int32_t l = map.channelCount == 1 ? 0 : map.left;
    const int32_t r = map.channelCount == 1 ? 0 : map.right;
    const bool hasLeft = inRange(l, map.channelCount);
    const bool hasRight = inRange(r, map.channelCount);
    for (uint32_t i = 0; i < n; ++i, packet += stride) {
        left[i] = hasLeft ? Sample::read(packet + Sample::size * size_t(l)) : 0.0f;
        right[i] = hasRight ? Sample::read(packet + Sample::size * size_t(r)) : 0.0f;
    }
    return n;
}

template <typename Sample>
void render(const float* left, const float* right, uint32_t frames, const ChannelMap& map,
            unsigned char* out) {
    if (isPlainStereo(map)) {
        renderStereo<Sample>(left, right, frames, out);
        return;
    }
    for (uint32_t i = 0; i < frames; ++i) {
        for (int32_t c = 0; c < map.channelCount; ++c, out += Sample::size) {
            const float value = c == map.left ? left[i] : c == map.right ? right[i] : 0.0f;
            Sample::write(out, value);
        }
    }
}

} // namespace

bool readDeviceFormat(const unsigned char* bytes, size_t size, DeviceFormat& format) {
    if (size < kPlainFormatBytes)
        return false;
    format = DeviceFormat{};
    format.formatTag = le16(bytes);
    format.channels = le16(bytes + 2);
    format.sampleRate = le32(bytes + 4);
    format.bitsPerSample = le16(bytes + 14);
    if (format.formatTag == kTagExtensible && size >= kExtensibleFormatBytes)
        format.subFormatTag = le16(bytes + 24);
    return true;
}

DeviceSampleType deviceSampleType(const DeviceFormat& format) {
    const uint16_t tag =
        format.formatTag == kTagExtensible ? format.subFormatTag : format.formatTag;
    if (tag == kTagFloat)
        return format.bitsPerSample == 32 ? DeviceSampleType::float32
                                          : DeviceSampleType::unsupported;
    if (tag != kTagPcm)
        return DeviceSampleType::unsupported;
    switch (format.bitsPerSample) {
    case 8:
        return DeviceSampleType::uint8;
    case 16:
        return DeviceSampleType::int16;
    case 24:
        return DeviceSampleType::int24;
    case 32:
        return DeviceSampleType::int32;
    default:
        return DeviceSampleType::unsupported;
    }
}

size_t bytesPerDeviceSample(DeviceSampleType type) {
    switch (type) {
    case DeviceSampleType::uint8:
        return 1;
    case DeviceSampleType::int16:
        return 2;
    case DeviceSampleType::int24:
        return 3;
    case DeviceSampleType::int32:
    case DeviceSampleType::float32:
        return 4;
    default:
        return 0;
    }
}

uint32_t convertCapture(DeviceSampleType type, const unsigned char* packet, uint32_t frames,
                        const ChannelMap& map, float* left, float* right, uint32_t capacity) {
    if (map.channelCount == 0)
        return 0;
    switch (type) {
    case DeviceSampleType::uint8:
        return capture<Uint8Sample>(packet, frames, map, left, right, capacity);
    case DeviceSampleType::int16:
        return capture<Int16Sample>(packet, frames, map, left, right, capacity);
    case DeviceSampleType::int24:
        return capture<Int24Sample>(packet, frames, map, left, right, capacity);
    case DeviceSampleType::int32:
        return capture<Int32Sample>(packet, frames, map, left, right, capacity);
    case DeviceSampleType::float32:
        return capture<Float32Sample>(packet, frames, map, left, right, capacity);
    default:
        return 0;
    }
}

bool convertRender(DeviceSampleType type, const float* left, const float* right, uint32_t frames,
                   const ChannelMap& map, unsigned char* out) {
    switch (type) {
    case DeviceSampleType::uint8:
        render<Uint8Sample>(left, right, frames, map, out);
        return true;
    case DeviceSampleType::int16:
        render<Int16Sample>(left, right, frames, map, out);
        return true;
    case DeviceSampleType::int24:
        render<Int24Sample>(left, right, frames, map, out);
        return true;
    case DeviceSampleType::int32:
        render<Int32Sample>(left, right, frames, map, out);
        return true;
    case DeviceSampleType::float32:
        render<Float32Sample>(left, right, frames, map, out);
        return true;
    default:
        return false;
    }
}
