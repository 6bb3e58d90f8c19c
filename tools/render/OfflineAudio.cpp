#include "OfflineAudio.h"

#include <algorithm>
#include <cstring>

KsOfflineAudio::KsOfflineAudio(uint32_t rate, uint32_t blockFrames) {
    for (bool isInput : {true, false}) {
        auto entry = std::make_unique<AudioDeviceSettings>();
        entry->type = audioDeviceAsio;
        entry->name = "Offline";
        entry->isInput = isInput;
        entry->infoValid = true;
        entry->channelCount = 2;
        entry->sampleRate = rate;
        entry->bufferSize = static_cast<int32_t>(blockFrames);
        entry->channelNames = {"Left", "Right"};
        devices.push_back(std::move(entry));
    }
}

bool KsOfflineAudio::start(AudioDeviceSettings*, AudioDeviceSettings* output, AudioCallback cb,
                           void* user) {
    if (output == nullptr || output->bufferSize <= 0 ||
        !allocateChannelBuffers(static_cast<size_t>(output->bufferSize)))
        return false;
    capacity = static_cast<uint32_t>(output->bufferSize);
    callback = cb;
    userData = user;
    running = true;
    return true;
}

void KsOfflineAudio::stop() {
    running = false;
    callback = nullptr;
    freeChannelBuffers();
}

bool KsOfflineAudio::runBlock(uint32_t frames) {
    if (callback == nullptr || frames > capacity)
        return false;
    std::memset(channelBuffers[0], 0, frames * sizeof(float));
    std::memset(channelBuffers[1], 0, frames * sizeof(float));
    return callback(channelBuffers, channelBuffers, frames, userData);
}
