#include "DemoParameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace demo {

namespace {

constexpr ParameterInfo kInfos[kParameterCount] = {
    {"Volume", "dB", 0.7f}, {"Attack", "ms", 0.2f},    {"Release", "ms", 0.35f},
    {"Waveform", "", 0.5f}, {"Detune", "cents", 0.2f},
};

constexpr unsigned char kChunkMagic[4] = {'K', 's', 'D', 'S'};

const char* waveformName(Waveform waveform) {
    switch (waveform) {
    case Waveform::sine:
        return "Sine";
    case Waveform::triangle:
        return "Triangle";
    case Waveform::saw:
        return "Saw";
    case Waveform::square:
        return "Square";
    }
    return "";
}

void putUint32(unsigned char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t getUint32(const unsigned char* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

float getFloat(const unsigned char* in) {
    const uint32_t bits = getUint32(in);
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

bool isValidValue(float value) {
    return value >= 0.0f && value <= 1.0f; // false for NaN as well
}

bool isWellFormedChunk(const unsigned char* bytes, size_t size) {
    if (bytes == nullptr || size != kChunkSize)
        return false;
    if (std::memcmp(bytes, kChunkMagic, sizeof(kChunkMagic)) != 0)
        return false;
    if (getUint32(bytes + 4) != kChunkVersion || getUint32(bytes + 8) != kParameterCount)
        return false;
    for (int i = 0; i < kParameterCount; ++i) {
        if (!isValidValue(getFloat(bytes + kChunkHeaderSize + 4 * i)))
            return false;
    }
    return true;
}

} // namespace

const ParameterInfo* parameterInfo(int index) {
    if (index < 0 || index >= kParameterCount)
        return nullptr;
    return &kInfos[index];
}

float volumeGain(float value) {
    return value * value;
}

double attackSeconds(float value) {
    return 0.001 * std::pow(2000.0, static_cast<double>(value));
}

double releaseSeconds(float value) {
    return 0.005 * std::pow(800.0, static_cast<double>(value));
}

Waveform waveformOf(float value) {
    const int step = std::clamp(static_cast<int>(value * 4.0f), 0, 3);
    return static_cast<Waveform>(step);
}

double detuneCents(float value) {
    return 50.0 * static_cast<double>(value);
}

bool formatParameter(int index, float value, char* out, size_t size) {
    if (parameterInfo(index) == nullptr || out == nullptr || size == 0)
        return false;
    char text[32];
    switch (index) {
    case kVolume:
        if (volumeGain(value) <= 0.0f)
            std::snprintf(text, sizeof(text), "-inf");
        else
            std::snprintf(text, sizeof(text), "%.1f", 20.0 * std::log10(volumeGain(value)));
        break;
    case kAttack:
        std::snprintf(text, sizeof(text), "%.0f", 1000.0 * attackSeconds(value));
        break;
    case kRelease:
        std::snprintf(text, sizeof(text), "%.0f", 1000.0 * releaseSeconds(value));
        break;
    case kWaveform:
        std::snprintf(text, sizeof(text), "%s", waveformName(waveformOf(value)));
        break;
    default:
        std::snprintf(text, sizeof(text), "%.1f", detuneCents(value));
        break;
    }
    const size_t length = std::min({std::strlen(text), kParameterTextLength, size - 1});
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

DemoParameters::DemoParameters() {
    resetToDefaults();
}

float DemoParameters::get(int index) const {
    if (parameterInfo(index) == nullptr)
        return 0.0f;
    return values[static_cast<size_t>(index)].load(std::memory_order_relaxed);
}

bool DemoParameters::set(int index, float value) {
    if (parameterInfo(index) == nullptr || std::isnan(value))
        return false;
    values[static_cast<size_t>(index)].store(std::clamp(value, 0.0f, 1.0f),
                                             std::memory_order_relaxed);
    return true;
}

void DemoParameters::resetToDefaults() {
    for (int i = 0; i < kParameterCount; ++i)
        values[static_cast<size_t>(i)].store(kInfos[i].defaultValue, std::memory_order_relaxed);
}

ChunkBytes DemoParameters::chunk() const {
    ChunkBytes bytes{};
    std::memcpy(bytes.data(), kChunkMagic, sizeof(kChunkMagic));
    putUint32(bytes.data() + 4, kChunkVersion);
    putUint32(bytes.data() + 8, kParameterCount);
    for (int i = 0; i < kParameterCount; ++i) {
        const float value = get(i);
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        putUint32(bytes.data() + kChunkHeaderSize + 4 * i, bits);
    }
    return bytes;
}

bool DemoParameters::setChunk(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!isWellFormedChunk(bytes, size))
        return false;
    for (int i = 0; i < kParameterCount; ++i)
        set(i, getFloat(bytes + kChunkHeaderSize + 4 * i));
    return true;
}

} // namespace demo
