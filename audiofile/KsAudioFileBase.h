#pragma once

// Sample files for the player and the recorder. A reader delivers the whole
// file as two float arrays at the file's own rate (mono files give the same
// samples in both); a writer stores interleaved 16-bit stereo.
//
// Calling order: reading is `createReaderForPath`, one `readSamples` into
// arrays of at least the returned frame count, destruction. Writing is
// `createWriterForPath` with the final frame count, one `writeSamples16`
// with the close-after flag, destruction. Window thread only. Every failure
// is a 0 or false result; nothing is shown to the user here.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

enum SampleFormat : uint32_t {
    sampleFormatNone = 0,
    Mono8 = 1,
    Mono16 = 2,
    Mono24 = 3,
    Mono32 = 4,
    MonoFloat32 = 5,
    Mono64 = 6,
    MonoFloat64 = 7,
    Stereo8 = 8,
    Stereo16 = 9,
    Stereo24 = 10,
    Stereo32 = 11,
    StereoFloat32 = 12,
    Stereo64 = 13,
    StereoFloat64 = 14,
};

// Bytes one frame of a format takes; 0 for no format.
uint32_t bytesPerFrame(uint32_t format);

enum FileKind : int32_t { fileKindNone = 0, fileKindWAV = 1, fileKindAIFF = 2 };

// Two arrays owned by the caller, left then right.
struct StereoBuffer {
    float* left = nullptr;
    float* right = nullptr;
};

class KsAudioFileBase {
public:
    KsAudioFileBase() = default;
    virtual ~KsAudioFileBase();
    KsAudioFileBase(const KsAudioFileBase&) = delete;
    KsAudioFileBase& operator=(const KsAudioFileBase&) = delete;

    // Opens and parses the file; the frame count, 0 on failure.
    virtual uint32_t openForReading(const std::string& path) = 0;
    // Creates the file and writes the header of a 16-bit stereo file.
    virtual bool openForWriting(const std::string& path, uint32_t frames, uint32_t rate);
    virtual bool writeHeader(uint32_t frames, uint32_t rate) = 0;
    // Reads every frame, converted to float, into the buffer from index 0.
    virtual bool readSamples(const StereoBuffer& buffer);
    // Closes the file (flushed first when written); false when the flush or
    // the close failed, so the written file is incomplete.
    virtual bool close();

    // Appends frames as interleaved 16-bit stereo; closes the file after the
    // last block when asked. False when any write, flush or the close failed.
    bool writeSamples16(const StereoBuffer& buffer, uint32_t frames, bool closeAfter);

    std::FILE* file = nullptr;
    int32_t dataOffset = 0;
    int32_t frameCount = 0;
    uint32_t dataSize = 0;
    int32_t sampleRate = 0;
    int32_t channels = 0;
    uint32_t format = sampleFormatNone;
    int32_t bitsPerSample = 0;
    int32_t fileKind = fileKindNone;
    int32_t bigEndian = 0;
    bool writeMode = false;

protected:
    bool openFile(const std::string& path, bool forWriting);
    bool readAt(int64_t offset, void* bytes, size_t size);
    bool writeBytes(const void* bytes, size_t size);
    bool writeNumber32(uint32_t value);
    bool writeNumber16(uint16_t value);
    // The file's length in bytes, or -1.
    int64_t fileLength();
    // Checks what a parser found: a known format, at most two channels, a
    // rate, and sample data that lies within the file and within 32 bits.
    bool acceptParsedHeader(uint64_t offset, uint64_t size);
};

// Replaces the object in `slot` by the reader its path calls for (the last
// character, lower-cased: 'v' WAV, 'f' AIFF, else the decoder; an ending
// ".aifc" in any case is AIFF as well) and opens it.
// The frame count, 0 on failure; the object stays in the slot either way.
uint32_t createReaderForPath(std::unique_ptr<KsAudioFileBase>& slot, const std::string& path);

// Replaces the object in `slot` by the writer its path calls for ('v' WAV,
// 'f' AIFF, exactly as typed) and creates the file. False, with an empty
// slot, for any other path.
bool createWriterForPath(std::unique_ptr<KsAudioFileBase>& slot, const std::string& path,
                         uint32_t frames, uint32_t rate);
// Whether `createWriterForPath` has a writer for the path's last character.
bool hasWriterForPath(const std::string& path);
