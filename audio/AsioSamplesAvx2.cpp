// Only intrinsics live in this file (compiled for AVX2), so no inline
// function compiled for AVX2 can stand in for a plain one elsewhere. The
// arithmetic is that of the per-sample rule, in the same order.

#include "AsioSamplesAvx2.h"

#include "AsioInterface.h"

#include <bit>
#include <cstring>

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
inline __m256i reversed(__m256i v, size_t width) {
    const __m256i swap16 = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1,
                                            0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m256i swap32 = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                            2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m256i swap64 = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7,
                                            6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    return _mm256_shuffle_epi8(v, width == 2 ? swap16 : (width == 4 ? swap32 : swap64));
}

// Loads 32 bytes; a big-endian block is reversed and written back in place.
inline __m256i loadLittleEndian(unsigned char* p, size_t width, bool bigEndian) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    if (bigEndian) {
        v = reversed(v, width);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    return v;
}

inline void storeInOrder(unsigned char* p, __m256i v, size_t width, bool bigEndian) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), bigEndian ? reversed(v, width) : v);
}

inline __m256 fromInt24(__m256i s) {
    return _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(s), _mm256_set1_ps(kInt24Scale)),
                         _mm256_set1_ps(kInt24Offset));
}

inline __m256 twiceClamped(__m256 x) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    const __m256 c = _mm256_set1_ps(kClamp);
    return _mm256_sub_ps(_mm256_andnot_ps(sign, _mm256_add_ps(x, c)),
                         _mm256_andnot_ps(sign, _mm256_sub_ps(x, c)));
}

inline __m256i scaledOutput(__m256 x, float scale) {
    return _mm256_cvttps_epi32(
        _mm256_sub_ps(_mm256_mul_ps(twiceClamped(x), _mm256_set1_ps(scale)), _mm256_set1_ps(0.5f)));
}

// The 32-bit layouts: left shift for positive `shift`, arithmetic right
// shift for negative.
inline __m256i shifted(__m256i v, int shift) {
    return shift >= 0 ? _mm256_sll_epi32(v, _mm_cvtsi32_si128(shift))
                      : _mm256_sra_epi32(v, _mm_cvtsi32_si128(-shift));
}

size_t readInt32(unsigned char* p, float* out, size_t frames, int shift, bool bigEndian) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8)
        _mm256_storeu_ps(out + i,
                         fromInt24(shifted(loadLittleEndian(p + 4 * i, 4, bigEndian), shift)));
    return i;
}

size_t writeInt32(const float* in, unsigned char* p, size_t frames, int shift, bool bigEndian) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8)
        storeInOrder(p + 4 * i,
                     shifted(scaledOutput(_mm256_loadu_ps(in + i), kOutput24Scale), shift), 4,
                     bigEndian);
    return i;
}

size_t readInt16(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    const __m256 scale = _mm256_set1_ps(kInt16Scale);
    const __m256 offset = _mm256_set1_ps(kInt16Offset);
    size_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        const __m256i v = loadLittleEndian(p + 2 * i, 2, bigEndian);
        const __m256i low = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(v));
        const __m256i high = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1));
        _mm256_storeu_ps(out + i,
                         _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(low), scale), offset));
        _mm256_storeu_ps(out + i + 8,
                         _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(high), scale), offset));
    }
    return i;
}

size_t writeInt16(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 16 <= frames; i += 16) {
        const __m256i low = scaledOutput(_mm256_loadu_ps(in + i), kOutput16Scale);
        const __m256i high = scaledOutput(_mm256_loadu_ps(in + i + 8), kOutput16Scale);
        // packs works per 128-bit half: put the halves back in order after.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
        storeInOrder(p + 2 * i, packed, 2, bigEndian);
    }
    return i;
}

size_t readFloat32(unsigned char* p, float* out, size_t frames) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            loadLittleEndian(p + 4 * i, 4, true));
    return i;
}

size_t writeFloat32(const float* in, unsigned char* p, size_t frames) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8)
        storeInOrder(p + 4 * i, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), 4,
                     true);
    return i;
}

size_t readFloat64(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128 low =
            _mm256_cvtpd_ps(_mm256_castsi256_pd(loadLittleEndian(p + 8 * i, 8, bigEndian)));
        const __m128 high =
            _mm256_cvtpd_ps(_mm256_castsi256_pd(loadLittleEndian(p + 8 * i + 32, 8, bigEndian)));
        _mm256_storeu_ps(out + i, _mm256_set_m128(high, low));
    }
    return i;
}

size_t writeFloat64(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m256 half =
            _mm256_mul_ps(twiceClamped(_mm256_loadu_ps(in + i)), _mm256_set1_ps(0.5f));
        storeInOrder(p + 8 * i, _mm256_castpd_si256(_mm256_cvtps_pd(_mm256_castps256_ps128(half))),
                     8, bigEndian);
        storeInOrder(p + 8 * i + 32,
                     _mm256_castpd_si256(_mm256_cvtps_pd(_mm256_extractf128_ps(half, 1))), 8,
                     bigEndian);
    }
    return i;
}

// Eight packed 3-byte samples (24 bytes) to the top of eight 32-bit lanes;
// loads 32 bytes, so 8 bytes past the samples must lie inside the buffer.
inline __m256i loadInt24(const unsigned char* p, bool bigEndian) {
    const __m256i lanes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                              reinterpret_cast<const __m128i*>(p));
    const __m256i little = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,
                                            -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    const __m256i big = _mm256_setr_epi8(-1, 2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,
                                         2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9);
    return _mm256_srai_epi32(_mm256_shuffle_epi8(lanes, bigEndian ? big : little), 8);
}

// Exactly 12 bytes: the samples that follow are still to be read.
inline void store12(unsigned char* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    const int32_t last = _mm_extract_epi32(v, 2);
    std::memcpy(p + 8, &last, 4);
}

size_t readInt24(unsigned char* p, float* out, size_t frames, bool bigEndian) {
    size_t i = 0;
    for (; i + 8 <= frames && 3 * (i + 8) + 8 <= 3 * frames; i += 8) {
        const __m256i s = loadInt24(p + 3 * i, bigEndian);
        if (bigEndian) {
            // The samples in little-endian order, back into the buffer.
            const __m256i order =
                _mm256_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1, 1, 2, 3,
                                 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1);
            const __m256i packed = _mm256_shuffle_epi8(_mm256_slli_epi32(s, 8), order);
            store12(p + 3 * i, _mm256_castsi256_si128(packed));
            store12(p + 3 * i + 12, _mm256_extracti128_si256(packed, 1));
        }
        _mm256_storeu_ps(out + i, fromInt24(s));
    }
    return i;
}

size_t writeInt24(const float* in, unsigned char* p, size_t frames, bool bigEndian) {
    const __m256i little = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i big = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                         1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    size_t i = 0;
    // Each half stores 16 bytes for its 12: 4 bytes past the block's end
    // are written and then overwritten by the next step or the tail.
    for (; i + 8 <= frames && 3 * (i + 8) + 4 <= 3 * frames; i += 8) {
        const __m256i q = scaledOutput(_mm256_loadu_ps(in + i), kOutput24Scale);
        const __m256i packed = _mm256_shuffle_epi8(q, bigEndian ? big : little);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3 * i), _mm256_castsi256_si128(packed));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3 * i + 12),
                         _mm256_extracti128_si256(packed, 1));
    }
    return i;
}

int shiftOfInput(int32_t plain) {
    switch (plain) {
    case ASIOSTInt32LSB:
        return -8;
    case ASIOSTInt32LSB16:
        return 8;
    case ASIOSTInt32LSB18:
        return 6;
    case ASIOSTInt32LSB20:
        return 4;
    default:
        return 0;
    }
}

bool isInt32Layout(int32_t plain) {
    return plain == ASIOSTInt32LSB || (plain >= ASIOSTInt32LSB16 && plain <= ASIOSTInt32LSB24);
}

} // namespace

size_t asioToFloatAvx2(int32_t type, unsigned char* p, float* out, size_t frames) {
    const bool bigEndian = type < ASIOSTInt16LSB;
    const int32_t plain = bigEndian ? type + ASIOSTInt16LSB : type;
    if (isInt32Layout(plain))
        return readInt32(p, out, frames, shiftOfInput(plain), bigEndian);
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
        return 0;
    }
}

size_t floatToAsioAvx2(int32_t type, const float* in, unsigned char* p, size_t frames) {
    const bool bigEndian = type < ASIOSTInt16LSB;
    const int32_t plain = bigEndian ? type + ASIOSTInt16LSB : type;
    if (isInt32Layout(plain))
        return writeInt32(in, p, frames, -shiftOfInput(plain), bigEndian);
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
        return 0;
    }
}

#else
size_t asioToFloatAvx2(int32_t, unsigned char*, float*, size_t) {
    return 0;
}
size_t floatToAsioAvx2(int32_t, const float*, unsigned char*, size_t) {
    return 0;
}
#endif
