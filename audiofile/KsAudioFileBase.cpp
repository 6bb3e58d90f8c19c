#include "KsAudioFileBase.h"

#include "SampleConversion.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

namespace {
constexpr size_t kReadBlockBytes = 1024;
constexpr uint32_t kWriteBlockFrames = 256;
constexpr size_t kStreamBufferBytes = 64 * 1024;
} // namespace

uint32_t bytesPerFrame(uint32_t format) {
    static const uint32_t sizes[] = {0, 1, 2, 3, 4, 4, 8, 8, 2, 4, 6, 8, 8, 16, 16};
    return format < std::size(sizes) ? sizes[format] : 0;
}

KsAudioFileBase::~KsAudioFileBase() {
    KsAudioFileBase::close();
}

bool KsAudioFileBase::openFile(const std::string& path, bool forWriting) {
    close();
    file = std::fopen(path.c_str(), forWriting ? "wb" : "rb");
    writeMode = forWriting;
    if (file != nullptr && !forWriting)
        std::setvbuf(file, nullptr, _IOFBF, kStreamBufferBytes); // fewer system reads
    return file != nullptr;
}

bool KsAudioFileBase::openForWriting(const std::string& path, uint32_t frames, uint32_t rate) {
    if (!openFile(path, true))
        return false;
    return writeHeader(frames, rate);
}

bool KsAudioFileBase::readAt(int64_t offset, void* bytes, size_t size) {
    if (file == nullptr || offset < 0 || offset > std::numeric_limits<long>::max())
        return false;
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    return std::fread(bytes, 1, size, file) == size;
}

int64_t KsAudioFileBase::fileLength() {
    if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return std::ftell(file);
}

bool KsAudioFileBase::writeBytes(const void* bytes, size_t size) {
    if (file != nullptr && std::fwrite(bytes, 1, size, file) == size)
        return true;
    close();
    return false;
}

bool KsAudioFileBase::writeNumber32(uint32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[bigEndian ? 3 - i : i] = static_cast<unsigned char>(value >> (8 * i));
    return writeBytes(bytes, 4);
}

bool KsAudioFileBase::writeNumber16(uint16_t value) {
    unsigned char bytes[2];
    bytes[bigEndian ? 1 : 0] = static_cast<unsigned char>(value);
    bytes[bigEndian ? 0 : 1] = static_cast<unsigned char>(value >> 8);
    return writeBytes(bytes, 2);
}

bool KsAudioFileBase::acceptParsedHeader(uint64_t offset, uint64_t size) {
    const int64_t length = fileLength();
    const bool fits = length >= 0 && offset + size <= static_cast<uint64_t>(length) &&
                      offset <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) &&
                      size <= std::numeric_limits<uint32_t>::max();
    const uint32_t frameBytes = bytesPerFrame(format);
    if (!fits || frameBytes == 0 || channels < 1 || channels > 2 || sampleRate <= 0 ||
        size / frameBytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        close();
        return false;
    }
    dataOffset = static_cast<int32_t>(offset);
    dataSize = static_cast<uint32_t>(size);
    frameCount = static_cast<int32_t>(size / frameBytes);
    return true;
}

// Reads block by block through one local buffer; a block holds whole frames
// (972 bytes for 3- and 6-byte frames, 1024 otherwise).
bool KsAudioFileBase::readSamples(const StereoBuffer& buffer) {
    const uint32_t frameBytes = bytesPerFrame(format);
    if (file == nullptr || buffer.left == nullptr || buffer.right == nullptr || frameBytes == 0)
        return false;
    if (std::fseek(file, dataOffset, SEEK_SET) != 0)
        return false;
    unsigned char block[kReadBlockBytes];
    const size_t blockBytes = kReadBlockBytes / frameBytes * frameBytes;
    size_t remaining = dataSize;
    size_t at = 0;
    while (remaining > 0) {
        const size_t piece = std::min(remaining, blockBytes);
        if (std::fread(block, 1, piece, file) != piece)
            return false;
        const size_t frames = piece / frameBytes;
        convertFrames(format, bigEndian != 0, fileKind, block, frames, buffer.left, buffer.right,
                      at);
        at += frames;
        remaining -= piece;
    }
    return true;
}

// A full disk often shows only when the last bytes are flushed or the file
// is closed: both results count.
bool KsAudioFileBase::close() {
    if (file == nullptr)
        return true;
    const bool flushed = !writeMode || std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    bitsPerSample = 0;
    dataOffset = 0;
    frameCount = 0;
    return flushed && closed;
}

bool KsAudioFileBase::writeSamples16(const StereoBuffer& buffer, uint32_t frames, bool closeAfter) {
    if (file == nullptr || buffer.left == nullptr || buffer.right == nullptr)
        return false;
    unsigned char block[kWriteBlockFrames * 4];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = std::min(kWriteBlockFrames, frames - done);
        interleaveInt16(buffer.left + done, buffer.right + done, count, bigEndian != 0, block);
        if (!writeBytes(block, count * 4u))
            return false;
        if (std::fflush(file) != 0) {
            close();
            return false;
        }
        done += count;
    }
    return !closeAfter || close();
}
