// Any bytes as a WAV or AIFF file ("AIF" at offset 8 picks AIFF): the reader
// opens or refuses it, and reading what it accepted stays within the arrays.

#include "KsAudioFileBase.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool aiff = size >= 12 && std::memcmp(data + 8, "AIF", 3) == 0;
    const std::string path =
        "/tmp/ks-audio-fuzz-" + std::to_string(::getpid()) + (aiff ? ".aif" : ".wav");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    std::unique_ptr<KsAudioFileBase> reader;
    const uint32_t frames = createReaderForPath(reader, path);
    if (frames > 0) {
        std::vector<float> left(frames), right(frames);
        reader->readSamples({left.data(), right.data()});
    }
    reader.reset();
    std::remove(path.c_str());
    return 0;
}
