// Eight frames a step for the commonest stereo conversions, on processors
// with AVX2 (chosen at run time). Only intrinsics live in this file, so no
// inline function compiled for AVX2 can stand in for a plain one elsewhere,
// and nothing here runs before it is chosen: no static initialiser, no
// processor check.
// Each function converts whole steps and returns how many frames it did;
// the caller finishes the rest.

#include "DeviceSamplesAvx2.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

// min(x, 1) takes its second operand when x is NaN, so NaN becomes +1.0.
inline __m256 clampToFullScale8(__m256 x) {
    return _mm256_max_ps(_mm256_min_ps(x, _mm256_set1_ps(1.0f)), _mm256_set1_ps(-1.0f));
}

} // namespace

size_t renderStereoInt16Avx2(const float* left, const float* right, size_t frames,
                             unsigned char* out) {
    const __m256 scale = _mm256_set1_ps(32767.0f);
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m256i l =
            _mm256_cvttps_epi32(_mm256_mul_ps(clampToFullScale8(_mm256_loadu_ps(left + i)), scale));
        const __m256i r = _mm256_cvttps_epi32(
            _mm256_mul_ps(clampToFullScale8(_mm256_loadu_ps(right + i)), scale));
        // Per 128-bit half: frames 0-3 (4-7) as pairs, packed to 16 bits in order.
        const __m256i packed =
            _mm256_packs_epi32(_mm256_unpacklo_epi32(l, r), _mm256_unpackhi_epi32(l, r));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), packed);
    }
    return i;
}

size_t renderStereoInt32Avx2(const float* left, const float* right, size_t frames,
                             unsigned char* out) {
    const __m256 scale = _mm256_set1_ps(2147483648.0f);
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m256 sl = _mm256_mul_ps(clampToFullScale8(_mm256_loadu_ps(left + i)), scale);
        const __m256 sr = _mm256_mul_ps(clampToFullScale8(_mm256_loadu_ps(right + i)), scale);
        // +1.0 scales to 2^31, which converts to 0x80000000: flip it to 0x7FFFFFFF.
        const __m256i l = _mm256_xor_si256(
            _mm256_cvttps_epi32(sl), _mm256_castps_si256(_mm256_cmp_ps(sl, scale, _CMP_GE_OQ)));
        const __m256i r = _mm256_xor_si256(
            _mm256_cvttps_epi32(sr), _mm256_castps_si256(_mm256_cmp_ps(sr, scale, _CMP_GE_OQ)));
        const __m256i low = _mm256_unpacklo_epi32(l, r);  // frames 0, 1 | 4, 5
        const __m256i high = _mm256_unpackhi_epi32(l, r); // frames 2, 3 | 6, 7
        auto* at = reinterpret_cast<__m256i*>(out + 8 * i);
        _mm256_storeu_si256(at, _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(at + 1, _mm256_permute2x128_si256(low, high, 0x31));
    }
    return i;
}

size_t renderStereoFloat32Avx2(const float* left, const float* right, size_t frames,
                               unsigned char* out) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m256 l = clampToFullScale8(_mm256_loadu_ps(left + i));
        const __m256 r = clampToFullScale8(_mm256_loadu_ps(right + i));
        const __m256 low = _mm256_unpacklo_ps(l, r);  // frames 0, 1 | 4, 5
        const __m256 high = _mm256_unpackhi_ps(l, r); // frames 2, 3 | 6, 7
        auto* at = reinterpret_cast<float*>(out + 8 * i);
        _mm256_storeu_ps(at, _mm256_permute2f128_ps(low, high, 0x20));
        _mm256_storeu_ps(at + 8, _mm256_permute2f128_ps(low, high, 0x31));
    }
    return i;
}

size_t captureStereoInt16Avx2(const unsigned char* packet, size_t frames, float* left,
                              float* right) {
    const __m256 scale = _mm256_set1_ps(1.0f / 32768.0f);
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        // One frame per 32-bit lane: left in the low half, right in the high.
        const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(packet + 4 * i));
        const __m256i l = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
        const __m256i r = _mm256_srai_epi32(pairs, 16);
        _mm256_storeu_ps(left + i, _mm256_mul_ps(_mm256_cvtepi32_ps(l), scale));
        _mm256_storeu_ps(right + i, _mm256_mul_ps(_mm256_cvtepi32_ps(r), scale));
    }
    return i;
}

size_t captureStereoInt32Avx2(const unsigned char* packet, size_t frames, float* left,
                              float* right) {
    const __m256 scale = _mm256_set1_ps(1.0f / 2147483648.0f);
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const auto* at = reinterpret_cast<const __m256i*>(packet + 8 * i);
        const __m256 a = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(at)), scale);
        const __m256 b = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(at + 1)), scale);
        // Per half: left (right) of frames 0, 1, 4, 5 | 2, 3, 6, 7; then put in order.
        const __m256 l = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 r = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        constexpr int kInOrder = _MM_SHUFFLE(3, 1, 2, 0);
        _mm256_storeu_ps(left + i,
                         _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(l), kInOrder)));
        _mm256_storeu_ps(right + i,
                         _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(r), kInOrder)));
    }
    return i;
}

#else
size_t renderStereoInt16Avx2(const float*, const float*, size_t, unsigned char*) {
    return 0;
}
size_t renderStereoInt32Avx2(const float*, const float*, size_t, unsigned char*) {
    return 0;
}
size_t renderStereoFloat32Avx2(const float*, const float*, size_t, unsigned char*) {
    return 0;
}
size_t captureStereoInt16Avx2(const unsigned char*, size_t, float*, float*) {
    return 0;
}
size_t captureStereoInt32Avx2(const unsigned char*, size_t, float*, float*) {
    return 0;
}
#endif
