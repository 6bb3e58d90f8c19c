#include "OutputWriter.h"

#include <cstring>

namespace {

void putLe(unsigned char* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

constexpr uint64_t kMostFloatFrames = (0xFFFFFFFFu - 36) / 8;
constexpr uint64_t kMost16BitFrames = (0xFFFFFFFFu - 46) / 4;

} // namespace

OutputWriter::~OutputWriter() {
    if (floatFile != nullptr)
        std::fclose(floatFile);
}

uint64_t OutputWriter::mostFrames(bool asFloat) {
    return asFloat ? kMostFloatFrames : kMost16BitFrames;
}

bool OutputWriter::open(const std::string& path, uint64_t frames, uint32_t rate, bool asFloat) {
    if (!asFloat) {
        return frames <= kMost16BitFrames &&
               createWriterForPath(writer, path, static_cast<uint32_t>(frames), rate);
    }
    if (frames > kMostFloatFrames)
        return false;
    floatFile = std::fopen(path.c_str(), "wb");
    return floatFile != nullptr && writeFloatHeader(static_cast<uint32_t>(frames), rate);
}

// The plain 44-byte header with format tag 3 (IEEE float), 32 bits, stereo.
bool OutputWriter::writeFloatHeader(uint32_t frames, uint32_t rate) {
    unsigned char header[44];
    const uint32_t dataBytes = frames * 8;
    std::memcpy(header, "RIFF", 4);
    putLe(header + 4, dataBytes + 36, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe(header + 16, 16, 4);
    putLe(header + 20, 3, 2);
    putLe(header + 22, 2, 2);
    putLe(header + 24, rate, 4);
    putLe(header + 28, rate * 8, 4);
    putLe(header + 32, 8, 2);
    putLe(header + 34, 32, 2);
    std::memcpy(header + 36, "data", 4);
    putLe(header + 40, dataBytes, 4);
    return std::fwrite(header, 1, sizeof(header), floatFile) == sizeof(header);
}

bool OutputWriter::write(const float* left, const float* right, uint32_t frames) {
    if (writer)
        return writer->writeSamples16({const_cast<float*>(left), const_cast<float*>(right)}, frames,
                                      false);
    if (floatFile == nullptr)
        return false;
    float interleaved[2 * 1024];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = frames - done < 1024 ? frames - done : 1024;
        for (uint32_t i = 0; i < count; ++i) {
            interleaved[2 * i] = left[done + i];
            interleaved[2 * i + 1] = right[done + i];
        }
        if (std::fwrite(interleaved, sizeof(float) * 2, count, floatFile) != count)
            return false;
        done += count;
    }
    return true;
}

bool OutputWriter::finish() {
    if (writer) {
        const bool open = writer->file != nullptr;
        return writer->close() && open;
    }
    if (floatFile == nullptr)
        return false;
    const bool flushed = std::fflush(floatFile) == 0;
    const bool closed = std::fclose(floatFile) == 0;
    floatFile = nullptr;
    return flushed && closed;
}
