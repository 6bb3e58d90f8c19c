#pragma once

// AVX-512 steps of the ASIO sample conversions, sixteen samples a step (32
// for 16-bit samples), for processors with AVX-512 F, BW, DQ and VBMI only
// (checked by `tierFor` in AsioSamples.cpp, at the first conversion and in
// `chooseAsioSteps`). Each converts whole steps from the start of the block
// and hands the rest to the narrower steps (defined in AsioSamples.cpp).
// Big-endian input is put into little-endian order in the buffer itself, as
// the per-sample rule does.

#include <cstddef>
#include <cstdint>

void asioToFloatAvx512(int32_t type, unsigned char* buffer, float* out, size_t frames);
void floatToAsioAvx512(int32_t type, const float* in, unsigned char* buffer, size_t frames);

// The samples from `done` on: the AVX2 steps where they may be taken, then
// the per-sample rule.
void finishAsioToFloat(int32_t type, unsigned char* buffer, float* out, size_t frames, size_t done);
void finishFloatToAsio(int32_t type, const float* in, unsigned char* buffer, size_t frames,
                       size_t done);
