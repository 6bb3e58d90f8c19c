#pragma once

// Conversions between an ASIO driver's half-buffers (one channel each, in
// the channel's sample type) and the engine's float arrays. Every handled
// type has one rule for each direction; the vectorised steps give exactly
// the results of the per-sample rule.

#include <cstddef>
#include <cstdint>

// Bytes per sample of a handled type (2, 3, 4 or 8); 0 for any other code.
size_t asioSampleBytes(int32_t type);

// Converts `frames` samples of a driver buffer into `out`. Big-endian
// samples are put into little-endian order in the buffer itself first.
// False, with nothing read or written, for an unhandled type.
bool asioToFloat(int32_t type, void* buffer, float* out, uint32_t frames);

// Converts `frames` floats into a driver buffer of the given type. Integer
// types take twice the input clamped to just inside full scale (so +1.0 and
// -1.0 both fit). False, with nothing written, for an unhandled type.
bool floatToAsio(int32_t type, const float* in, void* buffer, uint32_t frames);

// The conversions take their widest steps (AVX-512 F, BW, DQ and VBMI, then
// AVX2) where the processor has them, asked at the first conversion. Tests
// narrow the choice to check each width; no width is ever chosen without
// the processor's support, nor AVX2 when `avx2StepsEnabled` says no at the
// moment of the choice (a later change takes effect at the next choice).
// Returns the width taken, so a test can tell a width it could not check.
enum class AsioSteps { baseline, avx2, avx512 };
AsioSteps chooseAsioSteps(bool avx512, bool avx2);
