#pragma once

// AVX2 steps of the stereo conversions; call them only when the processor
// has AVX2 (`avx2StepsEnabled`, asked by code built for the baseline). Each
// returns the frames it converted.

#include <cstddef>

size_t renderStereoInt16Avx2(const float* left, const float* right, size_t frames,
                             unsigned char* out);
size_t renderStereoInt32Avx2(const float* left, const float* right, size_t frames,
                             unsigned char* out);
size_t renderStereoFloat32Avx2(const float* left, const float* right, size_t frames,
                               unsigned char* out);
size_t captureStereoInt16Avx2(const unsigned char* packet, size_t frames, float* left,
                              float* right);
size_t captureStereoInt32Avx2(const unsigned char* packet, size_t frames, float* left,
                              float* right);
