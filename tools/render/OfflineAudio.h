#pragma once

#include "KsAudioBase.h"

// A driver that waits for no device: `start` keeps the callback, and the
// renderer runs each block itself with `runBlock`. One input and one output
// entry, of the type whose driver returns from `start` at once.
class KsOfflineAudio : public KsAudioBase {
public:
    KsOfflineAudio(uint32_t rate, uint32_t blockFrames);
    bool start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback cb,
               void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings* device, bool) override { return device != nullptr; }

    // Runs one block of silence as input; the output is in `channelBuffers`.
    bool runBlock(uint32_t frames);
    AudioDeviceSettings* input() const { return devices[0].get(); }
    AudioDeviceSettings* output() const { return devices[1].get(); }

private:
    AudioCallback callback = nullptr;
    void* userData = nullptr;
    uint32_t capacity = 0;
};
