// Any bytes through the MP3 tag and frame-header stage: a stream found lies
// within the bytes, and so does the walk over its frames.

#include "Mp3Stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Mp3Stream stream;
    if (locateMp3Stream(data, size, stream)) {
        if (stream.offset + stream.size > size || stream.sampleRate == 0 || stream.channels < 1)
            std::abort();
        mp3BlockSize(stream);
        mp3SampleFrames(data, stream); // the frame walk stays within the bytes
    }
    return 0;
}
