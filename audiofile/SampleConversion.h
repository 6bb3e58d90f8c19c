#pragma once

// Stored samples to the engine's floats and back. One converter per stored
// type, chosen once per read from the format, the byte order and the kind of
// file (8-bit samples are unsigned in WAV, signed in AIFF).

#include <cstddef>
#include <cstdint>

// Converts `frames` whole frames of `format` from `bytes` into left[at...] and
// right[at...]. Mono formats give both arrays the same samples. 64-bit integer
// formats are not converted: the arrays keep what they held.
void convertFrames(uint32_t format, bool bigEndian, int32_t fileKind, const unsigned char* bytes,
                   size_t frames, float* left, float* right, size_t at);

// One float to a 16-bit sample: beyond full scale clips to +-32767, the rest
// is scaled by 32767 and truncated toward zero; NaN gives 0.
int16_t floatToInt16(float sample);

// Writes `frames` frames of the pair as interleaved 16-bit values, left first,
// each little- or big-endian.
void interleaveInt16(const float* left, const float* right, size_t frames, bool bigEndian,
                     unsigned char* out);
