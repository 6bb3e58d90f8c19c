#pragma once

// The audio driver over the Windows audio session API. Every active render
// endpoint, then every active capture endpoint, is listed twice: for
// exclusive mode (type 8) and for shared mode (type 4). `start` runs an
// event-driven stream loop in the calling thread and returns when it ends.

#include "DeviceSamples.h"
#include "KsAudioBase.h"
#include "WasapiSystem.h"

#include <memory>

class KsWASAPI : public KsAudioBase {
public:
    KsWASAPI();
    explicit KsWASAPI(std::unique_ptr<wasapi::System> system);
    ~KsWASAPI() override;

    bool start(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice,
               AudioCallback callback, void* userData) override;
    void stop() override;
    bool matchFormats(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice) override;
    bool open(AudioDeviceSettings* device, bool probeOnly) override;
    void releasePreparedStreams() override { releaseStreams(); }

    // The exclusive-mode buffer duration for `frames` at `sampleRate`, cut
    // down to whole half-milliseconds, in 100-nanosecond units.
    static wasapi::Duration exclusiveBufferDuration(int32_t frames, uint32_t sampleRate);
    // The duration that holds `frames` at `sampleRate`, in 100-nanosecond units.
    static wasapi::Duration durationOfFrames(uint32_t frames, uint32_t sampleRate);

    std::unique_ptr<wasapi::AudioClient> captureClient;
    std::unique_ptr<wasapi::AudioClient> renderClient;
    std::unique_ptr<wasapi::CaptureService> captureService;
    std::unique_ptr<wasapi::RenderService> renderService;

private:
    // What the loop needs of one direction, fixed before the stream starts.
    struct StreamSide {
        DeviceSampleType sampleType = DeviceSampleType::unsupported;
        ChannelMap channels;
        uint32_t bufferFrames = 0;
        bool shared = true;
    };
    enum class LoopEnd { orderly, failure };
    enum class Wake { signalled, stopRequested, timedOut };
    // The entry a direction's kept stream objects were made for.
    struct StreamOwner {
        std::string id;
        int32_t type = 0;
        bool is(const AudioDeviceSettings& device) const;
    };

    void enumerate(wasapi::Flow flow);
    void listEndpoint(wasapi::Endpoint& endpoint, wasapi::Flow flow, const std::wstring& defaultId,
                      bool& endEnumeration);
    std::unique_ptr<wasapi::Endpoint> findEndpoint(const AudioDeviceSettings& device);
    bool readStreamFormat(wasapi::Endpoint& endpoint, std::vector<unsigned char>& format);
    bool initializeCapture(const AudioDeviceSettings& device, wasapi::AudioClient& client,
                           const std::vector<unsigned char>& format,
                           std::unique_ptr<wasapi::CaptureService>& service);
    bool initializeRender(const AudioDeviceSettings& device, wasapi::AudioClient& client,
                          const std::vector<unsigned char>& format,
                          std::unique_ptr<wasapi::RenderService>& service);
    bool openShared(AudioDeviceSettings& device, bool probeOnly);
    bool openExclusiveRender(AudioDeviceSettings& device);
    bool prepareStream(const AudioDeviceSettings& device, bool capture, StreamSide& side);
    bool preRoll(const StreamSide& output);
    LoopEnd runCaptureLoop(wasapi::StreamEvent& event, const StreamSide& input,
                           const StreamSide& output, AudioCallback callback, void* userData);
    LoopEnd runRenderLoop(wasapi::StreamEvent& event, const StreamSide& output,
                          AudioCallback callback, void* userData);
    Wake waitForDevice(wasapi::StreamEvent& event) const;
    LoopEnd handOverStopRequest(AudioCallback callback, void* userData);
    bool renderPacket(const StreamSide& output, uint32_t frames);
    uint32_t silenceChannelBuffers(uint32_t frames);
    bool endInOrder();
    void releaseStreams();
    void releaseCapture();
    void releaseRender();
    void keepStreamsOnlyFor(const AudioDeviceSettings& device, bool capture);
    bool rewriteFormat(const AudioDeviceSettings& target, const AudioDeviceSettings& source,
                       AudioDeviceSettings& targetEntry);

    std::unique_ptr<wasapi::System> system;
    StreamOwner captureOwner;
    StreamOwner renderOwner;
};

// Rewrites a stored device format for another rate and container size: the
// first 40 bytes at most, as an extensible format of 40 bytes.
std::vector<unsigned char> rewrittenDeviceFormat(const std::vector<unsigned char>& stored,
                                                 uint32_t sampleRate, uint16_t bitsPerSample);
