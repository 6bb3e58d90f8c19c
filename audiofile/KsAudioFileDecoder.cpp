#include "KsAudioFileDecoder.h"

#include "Mp3Stream.h"

#include <windows.h>

#include <mmreg.h>
#include <mmsystem.h>
#include <msacm.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr WORD kMp3FormatTag = 0x55;
constexpr WORD kMp3CodecDelay = 1393;

BOOL CALLBACK checkDriver(HACMDRIVERID driverId, DWORD_PTR instance, DWORD support) {
    auto* found = reinterpret_cast<bool*>(instance);
    if ((support & ACMDRIVERDETAILS_SUPPORTF_CODEC) == 0)
        return TRUE;
    ACMDRIVERDETAILSA details{};
    details.cbStruct = sizeof(details);
    HACMDRIVER driver = nullptr;
    if (acmDriverDetailsA(driverId, &details, 0) != 0 || acmDriverOpen(&driver, driverId, 0) != 0)
        return TRUE;
    for (DWORD index = 0; index < details.cFormatTags && !*found; ++index) {
        ACMFORMATTAGDETAILSA tag{};
        tag.cbStruct = sizeof(tag);
        tag.dwFormatTagIndex = index;
        if (acmFormatTagDetailsA(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) == 0 &&
            tag.dwFormatTag == kMp3FormatTag)
            *found = true;
    }
    acmDriverClose(driver, 0);
    return *found ? FALSE : TRUE;
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    HMMIO file = mmioOpenA(name.data(), nullptr, MMIO_READ);
    if (file == nullptr)
        return false;
    const LONG size = mmioSeek(file, 0, SEEK_END);
    bool complete = false;
    if (size > 0 && mmioSeek(file, 0, SEEK_SET) == 0) {
        try {
            bytes.resize(static_cast<size_t>(size));
            complete = mmioRead(file, reinterpret_cast<HPSTR>(bytes.data()), size) == size;
        } catch (const std::bad_alloc&) {
            complete = false;
        }
    }
    mmioClose(file, 0);
    return complete;
}

MPEGLAYER3WAVEFORMAT sourceFormat(const Mp3Stream& stream) {
    MPEGLAYER3WAVEFORMAT format{};
    format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    format.wfx.nChannels = static_cast<WORD>(stream.channels);
    format.wfx.nSamplesPerSec = static_cast<DWORD>(stream.sampleRate);
    format.wfx.nAvgBytesPerSec = static_cast<DWORD>(stream.bitrateKbps) * 128;
    format.wfx.nBlockAlign = 1;
    format.wfx.wBitsPerSample = 0;
    format.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    format.wID = MPEGLAYER3_ID_MPEG;
    format.fdwFlags = stream.padding ? MPEGLAYER3_FLAG_PADDING_ON : MPEGLAYER3_FLAG_PADDING_OFF;
    format.nBlockSize = static_cast<WORD>(mp3BlockSize(stream));
    format.nFramesPerBlock = 1;
    format.nCodecDelay = kMp3CodecDelay;
    return format;
}

struct AcmStream {
    HACMSTREAM handle = nullptr;
    ~AcmStream() {
        if (handle != nullptr)
            acmStreamClose(handle, 0);
    }
};

// The codec sizes the destination from the bit rate of the first frame,
// which in a file of variable bit rate falls short: the frames present set
// the size it needs at least (and one more frame for the codec's delay).
DWORD destinationBytes(DWORD codecSize, uint64_t streamFrames, const WAVEFORMATEX& pcm) {
    constexpr uint64_t kDelayFrames = 1152;
    const uint64_t needed = (streamFrames + kDelayFrames) * pcm.nChannels * 2u;
    if (needed > std::numeric_limits<DWORD>::max())
        return 0; // more than one conversion can deliver
    return std::max(codecSize, static_cast<DWORD>(needed));
}

// Converts the whole source in one call; the PCM bytes it produced.
bool convertToPcm(MPEGLAYER3WAVEFORMAT& source, uint64_t streamFrames, WAVEFORMATEX& pcm,
                  unsigned char* bytes, size_t size, std::unique_ptr<unsigned char[]>& out,
                  DWORD& used) {
    pcm = WAVEFORMATEX{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, &source.wfx, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG) !=
        0)
        return false;
    if (pcm.nChannels < 1 || pcm.nChannels > 2 || pcm.wBitsPerSample != 16 ||
        size > std::numeric_limits<DWORD>::max())
        return false;
    AcmStream stream;
    if (acmStreamOpen(&stream.handle, nullptr, &source.wfx, &pcm, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != 0)
        return false;
    DWORD outSize = 0;
    if (acmStreamSize(stream.handle, static_cast<DWORD>(size), &outSize, ACM_STREAMSIZEF_SOURCE) !=
        0)
        return false;
    outSize = destinationBytes(outSize, streamFrames, pcm);
    if (outSize == 0)
        return false;
    out.reset(new (std::nothrow) unsigned char[outSize]);
    if (!out)
        return false; // the decoded file does not fit in memory
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof(header);
    header.pbSrc = bytes;
    header.cbSrcLength = static_cast<DWORD>(size);
    header.pbDst = out.get();
    header.cbDstLength = outSize;
    if (acmStreamPrepareHeader(stream.handle, &header, 0) != 0)
        return false;
    const bool converted =
        acmStreamConvert(stream.handle, &header, ACM_STREAMCONVERTF_BLOCKALIGN) == 0;
    used = header.cbDstLengthUsed;
    acmStreamUnprepareHeader(stream.handle, &header, 0);
    return converted && used <= outSize;
}

void pcmToFloat(const unsigned char* pcm, uint32_t frames, int channels, const StereoBuffer& out) {
    constexpr double kScale = 1.0 / 32768.0;
    for (uint32_t i = 0; i < frames; ++i) {
        const unsigned char* frame = pcm + size_t(i) * channels * 2;
        const auto left = static_cast<int16_t>(frame[0] | frame[1] << 8);
        out.left[i] = static_cast<float>(left * kScale);
        if (channels == 2) {
            const auto right = static_cast<int16_t>(frame[2] | frame[3] << 8);
            out.right[i] = static_cast<float>(right * kScale);
        } else {
            out.right[i] = out.left[i];
        }
    }
}

} // namespace

KsAudioFileDecoder::KsAudioFileDecoder() {
    sampleRate = 44100;
    channels = 2;
    format = Stereo16;
    bitsPerSample = 16;
}

bool KsAudioFileDecoder::findCodec() {
    bool found = false;
    acmDriverEnum(checkDriver, reinterpret_cast<DWORD_PTR>(&found), 0);
    mp3CodecFound = found;
    return found;
}

uint32_t KsAudioFileDecoder::openForReading(const std::string& path) {
    openedFrames = 0;
    if (!findCodec() || path.empty())
        return 0;
    sourcePath = path;
    openedFrames = decode(nullptr, 0);
    return openedFrames;
}

bool KsAudioFileDecoder::readSamples(const StereoBuffer& buffer) {
    if (!mp3CodecFound || sourcePath.empty() || buffer.left == nullptr || buffer.right == nullptr)
        return false;
    return decode(&buffer, openedFrames) > 0;
}

uint32_t KsAudioFileDecoder::decode(const StereoBuffer* out, uint32_t maxFrames) {
    std::vector<unsigned char> bytes;
    Mp3Stream stream;
    if (!readWholeFile(sourcePath, bytes) || !locateMp3Stream(bytes.data(), bytes.size(), stream))
        return 0;
    sampleRate = stream.sampleRate;
    MPEGLAYER3WAVEFORMAT source = sourceFormat(stream);
    WAVEFORMATEX pcm{};
    std::unique_ptr<unsigned char[]> decoded;
    DWORD used = 0;
    if (!convertToPcm(source, mp3SampleFrames(bytes.data(), stream), pcm,
                      bytes.data() + stream.offset, stream.size, decoded, used))
        return 0;
    const uint32_t frames = used / (pcm.nChannels * 2u);
    if (out != nullptr && frames > 0)
        pcmToFloat(decoded.get(), maxFrames < frames ? maxFrames : frames, pcm.nChannels, *out);
    return frames;
}
