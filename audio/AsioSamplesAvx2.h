#pragma once

// AVX2 steps of the ASIO sample conversions, eight samples a step, for
// processors with AVX2 only (`avx2StepsEnabled`). Each converts whole steps
// from the start of the block and returns how many samples it did; the
// caller converts the rest. Big-endian input is put into little-endian
// order in the buffer itself, as the per-sample rule does.

#include <cstddef>
#include <cstdint>

size_t asioToFloatAvx2(int32_t type, unsigned char* buffer, float* out, size_t frames);
size_t floatToAsioAvx2(int32_t type, const float* in, unsigned char* buffer, size_t frames);
