#pragma once

// The demo instrument's parameters: their names, how a normalised value (0 to
// 1, as the host sees it) maps to what the sound uses, how it reads, and the
// chunk that carries them all.
//
// Threads: every value is an atomic of its own. The window thread sets values
// and reads or writes the chunk while the audio thread reads the values once
// per block; a block may see a chunk half applied, never a torn value.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace demo {

enum ParameterIndex : int {
    kVolume,
    kAttack,
    kRelease,
    kWaveform,
    kDetune,
    kParameterCount,
};

enum class Waveform { sine, triangle, saw, square };

struct ParameterInfo {
    const char* name;
    const char* label;
    float defaultValue;
};

// Null for an index out of range.
const ParameterInfo* parameterInfo(int index);

float volumeGain(float value);      // 0 to 1, square law
double attackSeconds(float value);  // 1 ms to 2 s
double releaseSeconds(float value); // 5 ms to 4 s
Waveform waveformOf(float value);   // four equal steps
double detuneCents(float value);    // 0 to 50 cents between the two oscillators

// The most characters a parameter's name, label or display text has; the
// buffers hosts hand over for them hold this plus the terminating zero.
constexpr size_t kParameterTextLength = 8;

// Writes the display text of `value` for parameter `index` (at most
// kParameterTextLength characters and a zero). False for a bad index or a
// buffer of size 0.
bool formatParameter(int index, float value, char* out, size_t size);

// The chunk: "KsDS", a little-endian version (1) and parameter count (5),
// then each value as a little-endian 32-bit float.
constexpr size_t kChunkHeaderSize = 12;
constexpr size_t kChunkSize = kChunkHeaderSize + 4 * kParameterCount;
constexpr uint32_t kChunkVersion = 1;
using ChunkBytes = std::array<unsigned char, kChunkSize>;

class DemoParameters {
public:
    DemoParameters();

    // 0 for a bad index.
    float get(int index) const;
    // Clamps to 0..1; a bad index or a value that is not a number changes
    // nothing and answers false.
    bool set(int index, float value);
    void resetToDefaults();

    ChunkBytes chunk() const;
    // Takes every value of a well-formed chunk, or none: a chunk that is
    // missing, short, long, of another version or count, or holds a value
    // outside 0..1, leaves the parameters as they were and answers false.
    bool setChunk(const void* data, size_t size);

private:
    std::array<std::atomic<float>, kParameterCount> values;
};

} // namespace demo
