#pragma once

// Conversions between an audio endpoint's interleaved samples and the
// engine's pair of float arrays, one per stored sample type, chosen once per
// stream from the device format.

#include <cstddef>
#include <cstdint>

enum class DeviceSampleType { unsupported, uint8, int16, int24, int32, float32 };

// The facts of a WAVEFORMATEX / WAVEFORMATEXTENSIBLE that decide the type.
struct DeviceFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    uint16_t subFormatTag = 0; // first two bytes of an extensible format's sub-format
};

// Reads the first bytes (at most 40) of a stored format; false when fewer
// than the 16 bytes of a plain format are given.
bool readDeviceFormat(const unsigned char* bytes, size_t size, DeviceFormat& format);

// Float when the tag (or an extensible format's sub-format) says IEEE float
// and the samples are 32 bits; else integers of 8 (unsigned), 16, 24 (packed)
// or 32 bits; anything else is unsupported.
DeviceSampleType deviceSampleType(const DeviceFormat& format);
size_t bytesPerDeviceSample(DeviceSampleType type);

// The channels a stream takes: `left` and `right` index the device's
// channels; a device with one channel gives both from channel 0, and an index
// beyond the device's channels reads silence and is never written.
struct ChannelMap {
    uint16_t channelCount = 2;
    int32_t left = 0;
    int32_t right = 1;
};

// Whether the stereo conversions take their AVX2 steps: the processor is
// asked at the first conversion (never at static start-up, where a processor
// without AVX2 must not meet code built for it). Tests turn the steps off
// to check the baseline ones; they are never turned on without AVX2.
bool avx2StepsEnabled();
void enableAvx2Steps(bool enabled);

// Converts at most `capacity` frames of a captured packet into the arrays;
// the number of frames written.
uint32_t convertCapture(DeviceSampleType type, const unsigned char* packet, uint32_t frames,
                        const ChannelMap& map, float* left, float* right, uint32_t capacity);

// Converts `frames` frames of the arrays into a render buffer of the device's
// channels: the left value on the left channel, the right value on the right
// one, silence elsewhere. Integer samples: clamped to full scale (NaN becomes
// +1.0) and truncated toward zero. False for an unsupported type.
bool convertRender(DeviceSampleType type, const float* left, const float* right, uint32_t frames,
                   const ChannelMap& map, unsigned char* out);
