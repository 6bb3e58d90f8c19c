// The cycle's steps for the file player and the recorder.

#include "KsVSTHostInterface.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Clock.h"

void KsVSTHostInterface::startArmedPlayerAndRecorder() {
    int32_t armed = 2;
    if (playerState.compare_exchange_strong(armed, 1))
        ppqPos.store(0.0);
    armed = 2;
    if (recorderState.compare_exchange_strong(armed, 1))
        ppqPos.store(0.0);
}

void KsVSTHostInterface::prepareInput(float** inputs, uint32_t frames) {
    if (playerState.load() == 1 && !finished) {
        playFile(inputs, frames);
        return;
    }
    if (isInstrument())
        return;
    if (playerDialogOpen.load() || settings->inputDevice == nullptr) {
        std::memset(inputs[0], 0, frames * sizeof(float));
        std::memset(inputs[1], 0, frames * sizeof(float));
    }
}

// Reads the file at `playerStep` file frames per output frame, interpolating
// linearly; the arrays hold one extra entry that repeats the first frame, so
// a loop interpolates from the last frame into the first.
void KsVSTHostInterface::playFile(float** inputs, uint32_t frames) {
    const float* left = playerLeft.get();
    const float* right = playerRight.get();
    for (uint32_t i = 0; i < frames; ++i) {
        if (!(playerPos < playerLength)) {
            if (loop) {
                playerPos = 0.0;
            } else {
                std::fill(inputs[0] + i, inputs[0] + frames, 0.0f);
                std::fill(inputs[1] + i, inputs[1] + frames, 0.0f);
                finished = true;
                break;
            }
        }
        const auto index = static_cast<uint32_t>(playerPos);
        const float fraction = static_cast<float>(playerPos) - static_cast<float>(index);
        inputs[0][i] = left[index] + (left[index + 1] - left[index]) * fraction;
        inputs[1][i] = right[index] + (right[index + 1] - right[index]) * fraction;
        playerPos += playerStep;
    }
    playedFrames.fetch_add(frames);
}

void KsVSTHostInterface::tapRecorder(float** outputs, uint32_t frames) {
    if (recorderState.load() != 1 || !recordLeft || !recordRight)
        return;
    const uint32_t recorded = recordedFrames.load();
    const uint32_t n = std::min(frames, recordCapacity - recorded);
    std::memcpy(recordLeft.get() + recorded, outputs[0], n * sizeof(float));
    std::memcpy(recordRight.get() + recorded, outputs[1], n * sizeof(float));
    recordedFrames.store(recorded + n);
}

bool KsVSTHostInterface::setPlayerState(int32_t state, bool looped) {
    if (settings == nullptr || settings->outputDevice == nullptr || !playerLeft || !playerRight)
        return false;
    if (state > 0) {
        playedFrames.store(0);
        loop = looped;
        finished = false;
        playerStep = playerFileRate == 0 ? 0.0
                                         : static_cast<double>(static_cast<float>(playerFileRate)) /
                                               static_cast<double>(outputSampleRate());
        playerPos = 0.0;
    }
    ppqPos.store(0.0);
    playerState.store(state);
    transportRequested.store(state > 0);
    transportPending.store(true);
    return true;
}

void KsVSTHostInterface::rewindPlayer() {
    ppqPos.store(0.0);
    playerPos = 0.0;
    playedFrames.store(0);
}

void KsVSTHostInterface::freePlayerBuffers() {
    playerLeft.reset();
    playerRight.reset();
}

bool KsVSTHostInterface::setRecorderState(int32_t state, uint32_t maxFrames) {
    if (settings == nullptr || settings->outputDevice == nullptr)
        return false;
    if (state > 0) {
        freeRecorderBuffers();
        const auto limit = static_cast<uint32_t>(settings->outputDevice->sampleRate) * 300u;
        recordCapacity = maxFrames == 0 ? limit : std::min(maxFrames, limit);
        recordedFrames.store(0);
        recordLeft.reset(new (std::nothrow) float[recordCapacity]);
        recordRight.reset(new (std::nothrow) float[recordCapacity]);
        if (!recordLeft || !recordRight) {
            freeRecorderBuffers();
            recordCapacity = 0;
            return false;
        }
    }
    recorderState.store(state);
    return true;
}

void KsVSTHostInterface::freeRecorderBuffers() {
    recordLeft.reset();
    recordRight.reset();
}

// The player's arrays are replaced only while the audio thread is outside a
// cycle. A cycle that does not end within two seconds (a plug-in hanging in
// its processing) makes the load fail rather than free arrays in use.
bool KsVSTHostInterface::waitUntilOutsideCycle() const {
    constexpr int kChecks = 400;
    constexpr uint32_t kCheckIntervalMs = 5;
    for (int check = 0; check < kChecks; ++check) {
        if (!inCycle.load())
            return true;
        platform::sleepMs(kCheckIntervalMs);
    }
    return false;
}

uint32_t KsVSTHostInterface::loadPlayerFile(const std::string& path) {
    if (settings == nullptr || settings->outputDevice == nullptr)
        return 0;
    const int32_t previousState = playerState.load();
    if (!waitUntilOutsideCycle())
        return 0;
    playerState.store(0);
    if (!waitUntilOutsideCycle())
        return 0;
    freePlayerBuffers();
    playedFrames.store(0);
    playerLength = 0;
    if (path.empty() || !readPlayerFile(path))
        return 0;
    if (waitUntilOutsideCycle())
        playerState.store(previousState);
    return playerLength;
}

bool KsVSTHostInterface::readPlayerFile(const std::string& path) {
    const uint32_t frames = createReaderForPath(playerFile, path);
    if (frames == 0)
        return false;
    // One extra entry repeats the first frame, for interpolating across a loop.
    playerLeft.reset(new (std::nothrow) float[size_t(frames) + 1]());
    playerRight.reset(new (std::nothrow) float[size_t(frames) + 1]());
    if (!playerLeft || !playerRight ||
        !playerFile->readSamples({playerLeft.get(), playerRight.get()})) {
        freePlayerBuffers();
        return false;
    }
    playerLeft[frames] = playerLeft[0];
    playerRight[frames] = playerRight[0];
    playerLength = frames;
    playerFileRate = static_cast<uint32_t>(playerFile->sampleRate);
    return true;
}
