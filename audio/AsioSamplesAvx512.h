#pragma once

// AVX-512 steps of the ASIO sample conversions, sixteen samples a step (32
// for 16-bit samples), for processors with AVX-512 F, BW, DQ and VBMI only
// (checked by `tierFor` in AsioSamples.cpp, at the first conversion and in
// `chooseAsioSteps`). Each converts whole steps from the start of the block
// and returns how many samples it did; the caller converts the rest.
// Big-endian input is put into little-endian order in the buffer itself, as
// the per-sample rule does.

#include <cstddef>
#include <cstdint>

size_t asioToFloatAvx512(int32_t type, unsigned char* buffer, float* out, size_t frames);
size_t floatToAsioAvx512(int32_t type, const float* in, unsigned char* buffer, size_t frames);
