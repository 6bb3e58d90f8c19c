#include "AsioSamples.h"

#include "AsioInterface.h"
#include "AsioSamplesAvx2.h"
#include "AsioSamplesAvx512.h"
#include "DeviceSamples.h"
#include "DeviceSamplesAvx2.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

// Both targets are x86-64, so SSE2 is always there. Every vector step does
// the single-precision arithmetic of the per-sample rule in the same order
// (but for the AVX-512 steps' fused output scaling and their 16 and 24-bit
// inputs scaled from the top of the lane, which give the same samples), and
// the scalar tail uses the same instructions (cvttss2si for truncation), so
// a block gives the same bits whatever its length.

namespace {

const float kInt16Scale = std::bit_cast<float>(0x3800007Fu);    // 3.05180401483085e-5
const float kInt16Offset = std::bit_cast<float>(0x3780007Fu);   // 1.525902007415425e-5
const float kInt24Scale = 1.0f / 8388608.0f;                    // 2^-23
const float kInt24Offset = 1.0f / 16777216.0f;                  // 2^-24
const float kClamp = std::bit_cast<float>(0x3F7FFFFEu);         // 0.99999988
const float kOutput16Scale = std::bit_cast<float>(0x467FFF03u); // 16383.7529296875
const float kOutput24Scale = 4194304.0f;                        // 2^22

// ---- output: the shared arithmetic -------------------------------------

// Twice x clamped to +-kClamp: |x + c| - |x - c|.
float twiceClamped(float x) {
    return std::fabs(x + kClamp) - std::fabs(x - kClamp);
}
inline __m128 twiceClamped4(__m128 x) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 c = _mm_set1_ps(kClamp);
    return _mm_sub_ps(_mm_andnot_ps(sign, _mm_add_ps(x, c)), _mm_andnot_ps(sign, _mm_sub_ps(x, c)));
}

// trunc(v) as cvttss2si gives it: out of range and NaN become INT32_MIN.
int32_t truncated(float v) {
    return _mm_cvttss_si32(_mm_set_ss(v));
}

int32_t scaledOutput(float x, float scale) {
    return truncated(twiceClamped(x) * scale - 0.5f);
}
inline __m128i scaledOutput4(__m128 x, float scale) {
    return _mm_cvttps_epi32(
        _mm_sub_ps(_mm_mul_ps(twiceClamped4(x), _mm_set1_ps(scale)), _mm_set1_ps(0.5f)));
}

int16_t limited16(int32_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

inline __m128i byteSwap16x8(__m128i v) {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
inline __m128i byteSwap32x4(__m128i v) {
    const __m128i halvesSwapped =
        _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1); // 16-bit halves of each lane
    return byteSwap16x8(halvesSwapped);
}
inline __m128i byteSwap64x2(__m128i v) {
    return byteSwap32x4(_mm_shuffle_epi32(v, 0xB1)); // 32-bit halves of each 64-bit lane
}

void store32(unsigned char* p, uint32_t v, bool bigEndian) {
    if (bigEndian)
        v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

// ---- output: one writer per sample layout --------------------------------
// Each writer converts four frames a step and then the rest one by one.

void writeInt16(const float* in, unsigned char* out, uint32_t frames, bool bigEndian) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128i low = scaledOutput4(_mm_loadu_ps(in + i), kOutput16Scale);
        const __m128i high = scaledOutput4(_mm_loadu_ps(in + i + 4), kOutput16Scale);
        __m128i packed = _mm_packs_epi32(low, high); // saturates to -32768..32767
        if (bigEndian)
            packed = byteSwap16x8(packed);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), packed);
    }
    for (; i < frames; ++i) {
        auto v = static_cast<uint16_t>(limited16(scaledOutput(in[i], kOutput16Scale)));
        if (bigEndian)
            v = static_cast<uint16_t>(v << 8 | v >> 8);
        std::memcpy(out + 2 * i, &v, 2);
    }
}

void writeInt24(const float* in, unsigned char* out, uint32_t frames, bool bigEndian) {
    uint32_t i = 0;
    alignas(16) int32_t q[4];
    auto put = [bigEndian](unsigned char* p, int32_t v) {
        const auto u = static_cast<uint32_t>(v);
        p[bigEndian ? 2 : 0] = static_cast<unsigned char>(u);
        p[1] = static_cast<unsigned char>(u >> 8);
        p[bigEndian ? 0 : 2] = static_cast<unsigned char>(u >> 16);
    };
    for (; i + 4 <= frames; i += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(q),
                        scaledOutput4(_mm_loadu_ps(in + i), kOutput24Scale));
        for (int k = 0; k < 4; ++k)
            put(out + 3 * (i + k), q[k]);
    }
    for (; i < frames; ++i)
        put(out + 3 * i, scaledOutput(in[i], kOutput24Scale));
}

// The 32-bit integer layouts: the 24-bit value shifted left (positive
// `shift`) or right (negative, arithmetic).
template <int Shift>
void writeInt32(const float* in, unsigned char* out, uint32_t frames, bool bigEndian) {
    auto shifted = [](int32_t v) {
        if constexpr (Shift >= 0)
            return static_cast<uint32_t>(v) << Shift;
        else
            return static_cast<uint32_t>(v >> -Shift);
    };
    auto shifted4 = [](__m128i v) {
        if constexpr (Shift >= 0)
            return _mm_slli_epi32(v, Shift);
        else
            return _mm_srai_epi32(v, -Shift);
    };
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        __m128i v = shifted4(scaledOutput4(_mm_loadu_ps(in + i), kOutput24Scale));
        if (bigEndian)
            v = byteSwap32x4(v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), v);
    }
    for (; i < frames; ++i)
        store32(out + 4 * i, shifted(scaledOutput(in[i], kOutput24Scale)), bigEndian);
}

void writeFloat32(const float* in, unsigned char* out, uint32_t frames, bool bigEndian) {
    if (!bigEndian) {
        std::memcpy(out, in, size_t(frames) * 4);
        return;
    }
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i),
                         byteSwap32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
    for (; i < frames; ++i)
        store32(out + 4 * i, std::bit_cast<uint32_t>(in[i]), true);
}

void writeFloat64(const float* in, unsigned char* out, uint32_t frames, bool bigEndian) {
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128 half = _mm_mul_ps(twiceClamped4(_mm_loadu_ps(in + i)), _mm_set1_ps(0.5f));
        __m128i low = _mm_castpd_si128(_mm_cvtps_pd(half));
        __m128i high = _mm_castpd_si128(_mm_cvtps_pd(_mm_movehl_ps(half, half)));
        if (bigEndian) {
            low = byteSwap64x2(low);
            high = byteSwap64x2(high);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i + 16), high);
    }
    for (; i < frames; ++i) {
        uint64_t v = std::bit_cast<uint64_t>(static_cast<double>(twiceClamped(in[i]) * 0.5f));
        if (bigEndian)
            v = __builtin_bswap64(v);
        std::memcpy(out + 8 * i, &v, 8);
    }
}

// ---- input ------------------------------------------------------------

void swapInPlace(unsigned char* p, uint32_t frames, size_t width) {
    uint32_t i = 0;
    if (width == 2) {
        for (; i + 8 <= frames; i += 8) {
            auto* at = reinterpret_cast<__m128i*>(p + 2 * i);
            _mm_storeu_si128(at, byteSwap16x8(_mm_loadu_si128(at)));
        }
    } else if (width == 4) {
        for (; i + 4 <= frames; i += 4) {
            auto* at = reinterpret_cast<__m128i*>(p + 4 * i);
            _mm_storeu_si128(at, byteSwap32x4(_mm_loadu_si128(at)));
        }
    } else if (width == 8) {
        for (; i + 2 <= frames; i += 2) {
            auto* at = reinterpret_cast<__m128i*>(p + 8 * i);
            _mm_storeu_si128(at, byteSwap64x2(_mm_loadu_si128(at)));
        }
    }
    for (; i < frames; ++i) {
        unsigned char* sample = p + width * i;
        for (size_t a = 0, b = width - 1; a < b; ++a, --b) {
            const unsigned char t = sample[a];
            sample[a] = sample[b];
            sample[b] = t;
        }
    }
}

void readInt16(const unsigned char* p, float* out, uint32_t frames) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
        const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        const __m128 scale = _mm_set1_ps(kInt16Scale);
        const __m128 offset = _mm_set1_ps(kInt16Offset);
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(low), scale), offset));
        _mm_storeu_ps(out + i + 4, _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(high), scale), offset));
    }
    for (; i < frames; ++i) {
        int16_t s;
        std::memcpy(&s, p + 2 * i, 2);
        out[i] = static_cast<float>(s) * kInt16Scale + kInt16Offset;
    }
}

float fromInt24(int32_t s) {
    return static_cast<float>(s) * kInt24Scale + kInt24Offset;
}
inline __m128 fromInt24x4(__m128i s) {
    return _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(s), _mm_set1_ps(kInt24Scale)),
                      _mm_set1_ps(kInt24Offset));
}

void readInt24(const unsigned char* p, float* out, uint32_t frames) {
    uint32_t i = 0;
    // Four samples a step, each read as 4 bytes from its start: the fourth
    // byte of the last one lies inside the buffer while a fifth sample follows.
    for (; i + 5 <= frames; i += 4) {
        alignas(16) int32_t s[4];
        for (int k = 0; k < 4; ++k) {
            uint32_t u;
            std::memcpy(&u, p + 3 * (i + k), 4);
            s[k] = static_cast<int32_t>(u << 8) >> 8;
        }
        _mm_storeu_ps(out + i, fromInt24x4(_mm_load_si128(reinterpret_cast<const __m128i*>(s))));
    }
    for (; i < frames; ++i) {
        const unsigned char* b = p + 3 * i;
        const uint32_t u = uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24;
        out[i] = fromInt24(static_cast<int32_t>(u) >> 8);
    }
}

template <int Shift> void readInt32(const unsigned char* p, float* out, uint32_t frames) {
    auto shifted = [](int32_t s) {
        if constexpr (Shift >= 0)
            return static_cast<int32_t>(static_cast<uint32_t>(s) << Shift);
        else
            return s >> -Shift;
    };
    auto shifted4 = [](__m128i v) {
        if constexpr (Shift >= 0)
            return _mm_slli_epi32(v, Shift);
        else
            return _mm_srai_epi32(v, -Shift);
    };
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4)
        _mm_storeu_ps(out + i, fromInt24x4(shifted4(
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i)))));
    for (; i < frames; ++i) {
        int32_t s;
        std::memcpy(&s, p + 4 * i, 4);
        out[i] = fromInt24(shifted(s));
    }
}

void readFloat64(const unsigned char* p, float* out, uint32_t frames) {
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128 low = _mm_cvtpd_ps(_mm_loadu_pd(reinterpret_cast<const double*>(p + 8 * i)));
        const __m128 high =
            _mm_cvtpd_ps(_mm_loadu_pd(reinterpret_cast<const double*>(p + 8 * i + 16)));
        _mm_storeu_ps(out + i, _mm_movelh_ps(low, high));
    }
    for (; i < frames; ++i) {
        double d;
        std::memcpy(&d, p + 8 * i, 8);
        out[i] = static_cast<float>(d);
    }
}

bool isBigEndian(int32_t type) {
    return type < ASIOSTInt16LSB;
}

// The little-endian type a big-endian one is read as after its bytes are
// reversed.
int32_t littleEndianOf(int32_t type) {
    return isBigEndian(type) ? type + ASIOSTInt16LSB : type;
}

// The widest steps the conversions take, found at the first conversion
// and then read with one load per block.
enum StepTier : int { tierUnknown, tierBaseline, tierAvx2, tierAvx512 };
std::atomic<int> stepTier{tierUnknown};

// Compiled for the baseline processor, so asking is safe on any of them;
// the answer includes the system's saving of the wide registers.
bool processorHasAvx512() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

int tierFor(bool avx512, bool avx2) {
    if (!avx2StepsEnabled() || !avx2)
        return tierBaseline;
    return avx512 && processorHasAvx512() ? tierAvx512 : tierAvx2;
}

int currentTier() {
    int tier = stepTier.load(std::memory_order_relaxed);
    if (tier == tierUnknown) {
        tier = tierFor(true, true);
        stepTier.store(tier, std::memory_order_relaxed);
    }
    return tier;
}

// The per-sample rules, for what the vector steps leave.
[[gnu::noinline]] void samplesToFloat(int32_t type, unsigned char* p, float* out, uint32_t frames) {
    if (isBigEndian(type))
        swapInPlace(p, frames, asioSampleBytes(type));
    switch (littleEndianOf(type)) {
    case ASIOSTInt16LSB:
        readInt16(p, out, frames);
        break;
    case ASIOSTInt24LSB:
        readInt24(p, out, frames);
        break;
    case ASIOSTInt32LSB:
        readInt32<-8>(p, out, frames);
        break;
    case ASIOSTFloat32LSB:
        std::memcpy(out, p, size_t(frames) * 4);
        break;
    case ASIOSTFloat64LSB:
        readFloat64(p, out, frames);
        break;
    case ASIOSTInt32LSB16:
        readInt32<8>(p, out, frames);
        break;
    case ASIOSTInt32LSB18:
        readInt32<6>(p, out, frames);
        break;
    case ASIOSTInt32LSB20:
        readInt32<4>(p, out, frames);
        break;
    default: // ASIOSTInt32LSB24
        readInt32<0>(p, out, frames);
        break;
    }
}

[[gnu::noinline]] void floatsToSamples(int32_t type, const float* in, unsigned char* out,
                                       uint32_t frames) {
    const bool bigEndian = isBigEndian(type);
    switch (littleEndianOf(type)) {
    case ASIOSTInt16LSB:
        writeInt16(in, out, frames, bigEndian);
        break;
    case ASIOSTInt24LSB:
        writeInt24(in, out, frames, bigEndian);
        break;
    case ASIOSTInt32LSB:
        writeInt32<8>(in, out, frames, bigEndian);
        break;
    case ASIOSTFloat32LSB:
        writeFloat32(in, out, frames, bigEndian);
        break;
    case ASIOSTFloat64LSB:
        writeFloat64(in, out, frames, bigEndian);
        break;
    case ASIOSTInt32LSB16:
        writeInt32<-8>(in, out, frames, bigEndian);
        break;
    case ASIOSTInt32LSB18:
        writeInt32<-6>(in, out, frames, bigEndian);
        break;
    case ASIOSTInt32LSB20:
        writeInt32<-4>(in, out, frames, bigEndian);
        break;
    default: // ASIOSTInt32LSB24
        writeInt32<0>(in, out, frames, bigEndian);
        break;
    }
}

} // namespace

void finishAsioToFloat(int32_t type, unsigned char* p, float* out, size_t frames, size_t done) {
    if (currentTier() >= tierAvx2)
        done += asioToFloatAvx2(type, p + done * asioSampleBytes(type), out + done, frames - done);
    if (done < frames)
        samplesToFloat(type, p + done * asioSampleBytes(type), out + done, uint32_t(frames - done));
}

void finishFloatToAsio(int32_t type, const float* in, unsigned char* p, size_t frames,
                       size_t done) {
    if (currentTier() >= tierAvx2)
        done += floatToAsioAvx2(type, in + done, p + done * asioSampleBytes(type), frames - done);
    if (done < frames)
        floatsToSamples(type, in + done, p + done * asioSampleBytes(type), uint32_t(frames - done));
}

AsioSteps chooseAsioSteps(bool avx512, bool avx2) {
    const int tier = tierFor(avx512, avx2);
    stepTier.store(tier, std::memory_order_relaxed);
    if (tier == tierAvx512)
        return AsioSteps::avx512;
    return tier == tierAvx2 ? AsioSteps::avx2 : AsioSteps::baseline;
}

size_t asioSampleBytes(int32_t type) {
    switch (type) {
    case ASIOSTInt16LSB:
    case ASIOSTInt16MSB:
        return 2;
    case ASIOSTInt24LSB:
    case ASIOSTInt24MSB:
        return 3;
    case ASIOSTInt32LSB:
    case ASIOSTInt32MSB:
    case ASIOSTFloat32LSB:
    case ASIOSTFloat32MSB:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32MSB16:
    case ASIOSTInt32LSB18:
    case ASIOSTInt32MSB18:
    case ASIOSTInt32LSB20:
    case ASIOSTInt32MSB20:
    case ASIOSTInt32LSB24:
    case ASIOSTInt32MSB24:
        return 4;
    case ASIOSTFloat64LSB:
    case ASIOSTFloat64MSB:
        return 8;
    default:
        return 0;
    }
}

// The block goes to the widest steps with no other work before them (at
// 256 frames the steps themselves take a few nanoseconds); the tier is
// found by the narrower path, which the first block takes.
bool asioToFloat(int32_t type, void* buffer, float* out, uint32_t frames) {
    if (asioSampleBytes(type) == 0)
        return false;
    auto* p = static_cast<unsigned char*>(buffer);
    if (stepTier.load(std::memory_order_relaxed) == tierAvx512)
        asioToFloatAvx512(type, p, out, frames);
    else
        finishAsioToFloat(type, p, out, frames, 0);
    return true;
}

bool floatToAsio(int32_t type, const float* in, void* buffer, uint32_t frames) {
    if (asioSampleBytes(type) == 0)
        return false;
    auto* p = static_cast<unsigned char*>(buffer);
    if (stepTier.load(std::memory_order_relaxed) == tierAvx512)
        floatToAsioAvx512(type, in, p, frames);
    else
        finishFloatToAsio(type, in, p, frames, 0);
    return true;
}
