// Only intrinsics live in this file (compiled for AVX-512), so no inline
// function compiled for it can stand in for a plain one elsewhere. The
// arithmetic is that of the per-sample rule, in the same order, but where a
// fused or rescaled form gives the same samples (said at each).

#include "AsioSamplesAvx512.h"

#include "AsioInterface.h"

#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

const float kInt16Scale = std::bit_cast<float>(0x3800007Fu);
const float kInt16Offset = std::bit_cast<float>(0x3780007Fu);
const float kInt24Scale = 1.0f / 8388608.0f;
const float kInt24Offset = 1.0f / 16777216.0f;
const float kClamp = std::bit_cast<float>(0x3F7FFFFEu);
const float kOutput16Scale = std::bit_cast<float>(0x467FFF03u);
const float kOutput24Scale = 4194304.0f;

// Byte orders reversed within each 2, 4 or 8-byte sample.
inline __m512i reversed(__m512i v, int width) {
    const __m512i swap16 = _mm512_set4_epi32(0x0E0F0C0D, 0x0A0B0809, 0x06070405, 0x02030001);
    const __m512i swap32 = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
    const __m512i swap64 = _mm512_set4_epi32(0x08090A0B, 0x0C0D0E0F, 0x00010203, 0x04050607);
    return _mm512_shuffle_epi8(v, width == 2 ? swap16 : (width == 4 ? swap32 : swap64));
}

// Loads 64 bytes; a big-endian block is reversed and written back in place.
inline __m512i loadLittleEndian(unsigned char* p, int width, bool bigEndian) {
    __m512i v = _mm512_loadu_si512(p);
    if (bigEndian) {
        v = reversed(v, width);
        _mm512_storeu_si512(p, v);
    }
    return v;
}

inline void storeInOrder(unsigned char* p, __m512i v, int width, bool bigEndian) {
    _mm512_storeu_si512(p, bigEndian ? reversed(v, width) : v);
}

// The lanes converted (exactly: none holds more than 24 significant bits),
// scaled, then offset, each step rounded as the rule rounds it.
inline __m512 fromLanes(__m512i lanes, float scale, float offset) {
    return _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(lanes), _mm512_set1_ps(scale)),
                         _mm512_set1_ps(offset));
}

inline __m512 fromInt24(__m512i s) {
    return fromLanes(s, kInt24Scale, kInt24Offset);
}

// Sixteen samples, each in the top half of its 32-bit lane, so the lane
// holds s x 2^16: converted exactly, and scaled by 2^-16 x a, the product
// is the rule's s x a to the bit.
inline __m512 fromInt16High(__m512i sTimes65536) {
    return fromLanes(sTimes65536, kInt16Scale / 65536.0f, kInt16Offset);
}

inline __m512 twiceClamped(__m512 x) {
    const __m512 c = _mm512_set1_ps(kClamp);
    return _mm512_sub_ps(_mm512_abs_ps(_mm512_add_ps(x, c)), _mm512_abs_ps(_mm512_sub_ps(x, c)));
}

// The multiply and the half-step subtraction are fused into one rounding,
// which saves one of the eight operations a vector takes and changes no
// sample: with the 24-bit scale (a power of two) the product is exact, and
// with the 16-bit one no float of the 2^32 gives another sample (tried when
// this was written; the tests try both sides of every step and every float
// up to twice full scale).
inline __m512i scaledOutput(__m512 x, float scale) {
    return _mm512_cvttps_epi32(
        _mm512_fmadd_ps(twiceClamped(x), _mm512_set1_ps(scale), _mm512_set1_ps(-0.5f)));
}

// The 32-bit layouts: left shift for positive `shift`, arithmetic right
// shift for negative; a constant, so each layout's loop shifts by an
// immediate and takes no branch.
template <int shift> inline __m512i shifted(__m512i v) {
    if constexpr (shift > 0)
        return _mm512_slli_epi32(v, shift);
    else if constexpr (shift < 0)
        return _mm512_srai_epi32(v, -shift);
    else
        return v;
}

template <int shift> size_t readInt32(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16)
        _mm512_storeu_ps(out + i,
                         fromInt24(shifted<shift>(loadLittleEndian(p + 4 * i, 4, bigEndian))));
    return i;
}

template <int shift>
size_t writeInt32(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16)
        storeInOrder(p + 4 * i,
                     shifted<shift>(scaledOutput(_mm512_loadu_ps(in + i), kOutput24Scale)), 4,
                     bigEndian);
    return i;
}

// Byte indexes that move sample 16h + i of a vector into the top half of
// lane i, for the two halves h. Every table of this file is aligned to a
// cache line: a 64-byte load across two lines costs twice one within a line
// (24-bit output at 256 frames took 15 ns instead of 12 with its tables 32
// bytes off a line).
struct alignas(64) Int16Spread {
    unsigned char half[2][64];
};

constexpr Int16Spread int16Spread() {
    Int16Spread t{};
    for (int h = 0; h < 2; ++h)
        for (int i = 0; i < 16; ++i)
            for (int b = 0; b < 2; ++b)
                t.half[h][4 * i + 2 + b] = static_cast<unsigned char>(2 * (16 * h + i) + b);
    return t;
}

constexpr Int16Spread kSpread16 = int16Spread();

size_t readInt16(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    constexpr __mmask64 kTopHalves = 0xCCCCCCCCCCCCCCCCull;
    const __m512i low = _mm512_loadu_si512(kSpread16.half[0]);
    const __m512i high = _mm512_loadu_si512(kSpread16.half[1]);
    size_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        const __m512i v = loadLittleEndian(p + 2 * i, 2, bigEndian);
        _mm512_storeu_ps(out + i, fromInt16High(_mm512_maskz_permutexvar_epi8(kTopHalves, low, v)));
        _mm512_storeu_ps(out + i + 16,
                         fromInt16High(_mm512_maskz_permutexvar_epi8(kTopHalves, high, v)));
    }
    return i;
}

size_t writeInt16(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    // packs works per 128-bit lane: the 64-bit groups back in order after.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    size_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        const __m512i low = scaledOutput(_mm512_loadu_ps(in + i), kOutput16Scale);
        const __m512i high = scaledOutput(_mm512_loadu_ps(in + i + 16), kOutput16Scale);
        const __m512i packed = _mm512_permutexvar_epi64(order, _mm512_packs_epi32(low, high));
        storeInOrder(p + 2 * i, packed, 2, bigEndian);
    }
    return i;
}

size_t readFloat32(unsigned char* p, float* out, size_t frames) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16)
        _mm512_storeu_si512(out + i, loadLittleEndian(p + 4 * i, 4, true));
    return i;
}

size_t writeFloat32(const float* in, unsigned char* p, size_t frames) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16)
        storeInOrder(p + 4 * i, _mm512_loadu_si512(in + i), 4, true);
    return i;
}

size_t readFloat64(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        const __m256 low =
            _mm512_cvtpd_ps(_mm512_castsi512_pd(loadLittleEndian(p + 8 * i, 8, bigEndian)));
        const __m256 high =
            _mm512_cvtpd_ps(_mm512_castsi512_pd(loadLittleEndian(p + 8 * i + 64, 8, bigEndian)));
        _mm512_storeu_ps(out + i, _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1));
    }
    return i;
}

size_t writeFloat64(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        const __m512 half =
            _mm512_mul_ps(twiceClamped(_mm512_loadu_ps(in + i)), _mm512_set1_ps(0.5f));
        storeInOrder(p + 8 * i, _mm512_castpd_si512(_mm512_cvtps_pd(_mm512_castps512_ps256(half))),
                     8, bigEndian);
        storeInOrder(p + 8 * i + 64,
                     _mm512_castpd_si512(_mm512_cvtps_pd(_mm512_extractf32x8_ps(half, 1))), 8,
                     bigEndian);
    }
    return i;
}

// 3-byte samples go 64 at a time: 192 bytes, three whole vectors A, B, C,
// so every load and store is a plain full one. Sample group g (16 samples,
// 48 bytes) lies in the pair (A, B) for g < 2 and (B, C) otherwise; output
// vector v takes its bytes from the pair of groups (v, v + 1).
struct alignas(64) Int24Tables {
    unsigned char spread[4][64]; // group's samples to the top 3 bytes of 32-bit lanes
    unsigned char pack[3][64];   // bytes 0 to 2 of the groups' lanes to stored samples
};

constexpr int storedByte(int valueByte, bool bigEndian) {
    return bigEndian ? 2 - valueByte : valueByte;
}

constexpr Int24Tables int24Tables(bool bigEndian) {
    Int24Tables t{};
    for (int g = 0; g < 4; ++g)
        for (int s = 0; s < 16; ++s)
            for (int b = 0; b < 3; ++b)
                t.spread[g][4 * s + 1 + b] = static_cast<unsigned char>(
                    48 * g + 3 * s + storedByte(b, bigEndian) - (g < 2 ? 0 : 64));
    for (int at = 0; at < 192; ++at) {
        const int g = at / 48, s = at % 48 / 3, b = storedByte(at % 3, bigEndian);
        t.pack[at / 64][at % 64] = static_cast<unsigned char>((g - at / 64) * 64 + 4 * s + b);
    }
    return t;
}

// Byte order of each sample reversed: vectors A and C from the pairs (A, B)
// and (B, C); vector B from (B, C) except its byte 1, which is A's byte 63.
struct alignas(64) Int24Swap {
    unsigned char fromPair[3][64];
};

constexpr Int24Swap int24Swap() {
    Int24Swap t{};
    for (int at = 0; at < 192; ++at) {
        const int from = 3 * (at / 3) + 2 - at % 3;
        const int base = at < 64 ? 0 : 64;
        t.fromPair[at / 64][at % 64] = static_cast<unsigned char>(from < base ? 0 : from - base);
    }
    return t;
}

constexpr Int24Tables kLittleEndian24 = int24Tables(false);
constexpr Int24Tables kBigEndian24 = int24Tables(true);
constexpr Int24Swap kSwap24 = int24Swap();

inline __m512i table(const unsigned char* bytes) {
    return _mm512_loadu_si512(bytes);
}

// A and B reversed sample by sample; C is the vector after B.
inline __m512i swappedA(__m512i a, __m512i b) {
    return _mm512_permutex2var_epi8(a, table(kSwap24.fromPair[0]), b);
}
inline __m512i swappedB(__m512i a, __m512i b, __m512i c) {
    const __m512i fromBC = _mm512_permutex2var_epi8(b, table(kSwap24.fromPair[1]), c);
    return _mm512_mask_permutexvar_epi8(fromBC, __mmask64(2), _mm512_set1_epi8(63), a);
}

// The samples of group g, from the pair of vectors its bytes lie in.
inline __m512 groupToFloat(const Int24Tables& t, int g, __m512i low, __m512i high) {
    constexpr __mmask64 kValueBytes = 0xEEEEEEEEEEEEEEEEull; // bytes 1 to 3 of each lane
    const __m512i top = _mm512_maskz_permutex2var_epi8(kValueBytes, low, table(t.spread[g]), high);
    // The lane holds s x 2^8; scaled by 2^-31 it is the rule's s x 2^-23.
    return fromLanes(top, kInt24Scale / 256.0f, kInt24Offset);
}

// The 48 bytes of sixteen 3-byte samples.
constexpr __mmask64 kSixteenSamples = (__mmask64(1) << 48) - 1;

// 64 samples a step, then one step of 32 (A and half of B), then 16 at a
// time; only these last ones need masked loads and stores.
size_t readInt24(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    const Int24Tables& t = bigEndian ? kBigEndian24 : kLittleEndian24;
    size_t i = 0;
    for (; i + 64 <= frames; i += 64) {
        unsigned char* at = p + 3 * i;
        const __m512i a = _mm512_loadu_si512(at);
        const __m512i b = _mm512_loadu_si512(at + 64);
        const __m512i c = _mm512_loadu_si512(at + 128);
        for (int g = 0; g < 4; ++g)
            _mm512_storeu_ps(out + i + 16 * g, groupToFloat(t, g, g < 2 ? a : b, g < 2 ? b : c));
        if (bigEndian) {
            _mm512_storeu_si512(at, swappedA(a, b));
            _mm512_storeu_si512(at + 64, swappedB(a, b, c));
            _mm512_storeu_si512(at + 128,
                                _mm512_permutex2var_epi8(b, table(kSwap24.fromPair[2]), c));
        }
    }
    if (i + 32 <= frames) {
        unsigned char* at = p + 3 * i;
        const __m512i a = _mm512_loadu_si512(at);
        const __m512i b =
            _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 64)));
        _mm512_storeu_ps(out + i, groupToFloat(t, 0, a, b));
        _mm512_storeu_ps(out + i + 16, groupToFloat(t, 1, a, b));
        if (bigEndian) {
            _mm512_storeu_si512(at, swappedA(a, b));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 64),
                                _mm512_castsi512_si256(swappedB(a, b, _mm512_setzero_si512())));
        }
        i += 32;
    }
    for (; i + 16 <= frames; i += 16) {
        unsigned char* at = p + 3 * i;
        const __m512i a = _mm512_maskz_loadu_epi8(kSixteenSamples, at);
        _mm512_storeu_ps(out + i, groupToFloat(t, 0, a, a));
        if (bigEndian)
            _mm512_mask_storeu_epi8(at, kSixteenSamples, swappedA(a, a));
    }
    return i;
}

size_t writeInt24(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    const Int24Tables& t = bigEndian ? kBigEndian24 : kLittleEndian24;
    size_t i = 0;
    for (; i + 64 <= frames; i += 64) {
        __m512i q[4];
        for (int g = 0; g < 4; ++g)
            q[g] = scaledOutput(_mm512_loadu_ps(in + i + 16 * g), kOutput24Scale);
        for (int v = 0; v < 3; ++v)
            _mm512_storeu_si512(p + 3 * i + 64 * v,
                                _mm512_permutex2var_epi8(q[v], table(t.pack[v]), q[v + 1]));
    }
    for (; i + 16 <= frames; i += 16) {
        const __m512i q = scaledOutput(_mm512_loadu_ps(in + i), kOutput24Scale);
        _mm512_mask_storeu_epi8(p + 3 * i, kSixteenSamples,
                                _mm512_permutexvar_epi8(table(t.pack[0]), q));
    }
    return i;
}

// The 32-bit layouts, by their little-endian type; 0 for any other type.
size_t readInt32Layout(int32_t plain, unsigned char* p, float* out, size_t frames, bool bigEndian) {
    switch (plain) {
    case ASIOSTInt32LSB:
        return readInt32<-8>(p, out, frames, bigEndian);
    case ASIOSTInt32LSB16:
        return readInt32<8>(p, out, frames, bigEndian);
    case ASIOSTInt32LSB18:
        return readInt32<6>(p, out, frames, bigEndian);
    case ASIOSTInt32LSB20:
        return readInt32<4>(p, out, frames, bigEndian);
    case ASIOSTInt32LSB24:
        return readInt32<0>(p, out, frames, bigEndian);
    default:
        return 0;
    }
}

size_t writeInt32Layout(int32_t plain, const float* in, unsigned char* p, size_t frames,
                        bool bigEndian) {
    switch (plain) {
    case ASIOSTInt32LSB:
        return writeInt32<8>(in, p, frames, bigEndian);
    case ASIOSTInt32LSB16:
        return writeInt32<-8>(in, p, frames, bigEndian);
    case ASIOSTInt32LSB18:
        return writeInt32<-6>(in, p, frames, bigEndian);
    case ASIOSTInt32LSB20:
        return writeInt32<-4>(in, p, frames, bigEndian);
    case ASIOSTInt32LSB24:
        return writeInt32<0>(in, p, frames, bigEndian);
    default:
        return 0;
    }
}

size_t wideStepsToFloat(int32_t type, unsigned char* p, float* out, size_t frames) {
    const bool bigEndian = type < ASIOSTInt16LSB;
    const int32_t plain = bigEndian ? type + ASIOSTInt16LSB : type;
    switch (plain) {
    case ASIOSTInt16LSB:
        return readInt16(p, out, frames, bigEndian);
    case ASIOSTInt24LSB:
        return readInt24(p, out, frames, bigEndian);
    case ASIOSTFloat32LSB:
        return bigEndian ? readFloat32(p, out, frames) : 0;
    case ASIOSTFloat64LSB:
        return readFloat64(p, out, frames, bigEndian);
    default:
        return readInt32Layout(plain, p, out, frames, bigEndian);
    }
}

size_t wideStepsToAsio(int32_t type, const float* in, unsigned char* p, size_t frames) {
    const bool bigEndian = type < ASIOSTInt16LSB;
    const int32_t plain = bigEndian ? type + ASIOSTInt16LSB : type;
    switch (plain) {
    case ASIOSTInt16LSB:
        return writeInt16(in, p, frames, bigEndian);
    case ASIOSTInt24LSB:
        return writeInt24(in, p, frames, bigEndian);
    case ASIOSTFloat32LSB:
        return bigEndian ? writeFloat32(in, p, frames) : 0;
    case ASIOSTFloat64LSB:
        return writeFloat64(in, p, frames, bigEndian);
    default:
        return writeInt32Layout(plain, in, p, frames, bigEndian);
    }
}

} // namespace

void asioToFloatAvx512(int32_t type, unsigned char* p, float* out, size_t frames) {
    const size_t done = wideStepsToFloat(type, p, out, frames);
    if (done < frames)
        finishAsioToFloat(type, p, out, frames, done);
}

void floatToAsioAvx512(int32_t type, const float* in, unsigned char* p, size_t frames) {
    const size_t done = wideStepsToAsio(type, in, p, frames);
    if (done < frames)
        finishFloatToAsio(type, in, p, frames, done);
}

#else
void asioToFloatAvx512(int32_t type, unsigned char* p, float* out, size_t frames) {
    finishAsioToFloat(type, p, out, frames, 0);
}
void floatToAsioAvx512(int32_t type, const float* in, unsigned char* p, size_t frames) {
    finishFloatToAsio(type, in, p, frames, 0);
}
#endif
