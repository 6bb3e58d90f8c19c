#pragma once

// The abstract audio driver the engine talks to, its device entries and the
// per-block callback.
//
// Contract between the engine and a driver:
// - Construction enumerates the devices into `devices`; entries are never
//   added or removed afterwards and belong to the driver.
// - `open`, `stop`, `matchFormats` run on the window thread; so does `start`
//   of a driver whose callbacks come from its own thread (`running` is set
//   while it streams). A driver whose stream loop runs in the calling thread
//   returns from `start` only when the stream ends: true when the callback
//   asked to end, false on any failure.
// - The callback gets the driver's own `channelBuffers` pair as inputs and as
//   outputs: on entry it holds the converted input, on return the output.
//   No driver passes more frames than an array holds, and none allocates
//   while streaming.
// - Every failure is reported only through the boolean result.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Device type codes, bit values so callers can test them with masks.
enum AudioDeviceType : int32_t {
    audioDeviceNone = 0,
    audioDeviceAsio = 2,
    audioDeviceWasapiShared = 4,
    audioDeviceWasapiExclusive = 8,
};

// One selectable direction of one device, seen through one driver type.
struct AudioDeviceSettings {
    int32_t index = 0; // position of an ASIO driver in the driver list
    std::string id;    // WASAPI endpoint identifier
    int32_t type = audioDeviceNone;
    std::string name;
    bool isInput = false;
    bool isDefault = false;
    bool infoValid = false; // channelCount, sampleRate, bufferSize, channelNames are current
    uint16_t channelCount = 0;
    double sampleRate = 0.0;
    uint16_t bitsPerSample = 0;
    int32_t bufferSize = 0;
    std::vector<std::string> channelNames;
    int32_t leftChannel = 0;
    int32_t rightChannel = 1;
    // The latency the device reports in the entry's direction, in frames;
    // 0 while unknown.
    int32_t latency = 0;
};

// The engine's per-block function. `inputs` and `outputs` are the same
// pair; the result false ends a stream loop or skips a block's output.
using AudioCallback = bool (*)(float** inputs, float** outputs, uint32_t frames, void* userData);

class KsAudioBase {
public:
    KsAudioBase() = default;
    virtual ~KsAudioBase();
    KsAudioBase(const KsAudioBase&) = delete;
    KsAudioBase& operator=(const KsAudioBase&) = delete;

    virtual bool start(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice,
                       AudioCallback callback, void* userData) = 0;
    virtual void stop() = 0;
    virtual bool matchFormats(AudioDeviceSettings* inputDevice,
                              AudioDeviceSettings* outputDevice) = 0;
    virtual bool open(AudioDeviceSettings* device, bool probeOnly) = 0;
    // Lets go of any stream `open` prepared for a start that is not coming
    // (an exclusive stream holds its device until then).
    virtual void releasePreparedStreams() {}

    // A flag the caller raises to end a stream whose loop runs in `start`.
    // The loop looks at it while it waits for the device, so a stream whose
    // device has stopped delivering still ends: it hands the request to the
    // callback in a block of no frames and ends in order. Set by the thread
    // that calls `start`, before it; none: only the callback ends the stream.
    void watchStopRequest(const std::atomic<bool>* request) { stopWatch = request; }

    std::vector<std::unique_ptr<AudioDeviceSettings>> devices;
    float* channelBuffers[2] = {nullptr, nullptr};
    bool running = false;

protected:
    bool stopRequested() const {
        return stopWatch != nullptr && stopWatch->load(std::memory_order_acquire);
    }

    // Replaces `channelBuffers` by two zeroed arrays of `frames` floats,
    // aligned to 64 bytes (a cache line). False (and no arrays) when memory runs out.
    bool allocateChannelBuffers(size_t frames);
    void freeChannelBuffers();
    size_t channelBufferFrames = 0;

private:
    const std::atomic<bool>* stopWatch = nullptr;
};

// The main window's two drivers: WASAPI first, ASIO second, destroyed in
// reverse order. Until the real drivers exist any two drivers can stand in.
class AudioDriverPair {
public:
    AudioDriverPair(std::unique_ptr<KsAudioBase> wasapiDriver,
                    std::unique_ptr<KsAudioBase> asioDriver);

    // The driver of an entry's type: ASIO for 2, WASAPI for 4 and 8, none
    // for any other code (or no entry).
    KsAudioBase* driverFor(int32_t type) const;
    KsAudioBase* driverFor(const AudioDeviceSettings* device) const;

    std::unique_ptr<KsAudioBase> wasapi;
    std::unique_ptr<KsAudioBase> asio;
};
