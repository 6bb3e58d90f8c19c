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

// The dialog arms both before it asks for them to start together; a player
// stopped in the meantime (its arrays perhaps freed) stays stopped.
void KsVSTHostInterface::startArmedByRequest() {
    if (!startBothRequest.load(std::memory_order_relaxed) || !startBothRequest.exchange(false))
        return;
    int32_t armed = 2;
    playerState.compare_exchange_strong(armed, 1);
    armed = 2;
    recorderState.compare_exchange_strong(armed, 1);
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
    if (rewindRequest.load(std::memory_order_relaxed) && rewindRequest.exchange(false))
        playerPos = 0.0;
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
        // Taken in double: past 2^24 frames neither position fits a float.
        const auto fraction = static_cast<float>(playerPos - static_cast<double>(index));
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
        // The cycle reads these fields while the player plays.
        if (!stopPlayerOutsideCycle())
            return false;
        playedFrames.store(0);
        loop = looped;
        finished = false;
        playerStep = playerFileRate == 0 ? 0.0
                                         : static_cast<double>(static_cast<float>(playerFileRate)) /
                                               static_cast<double>(outputSampleRate());
        playerPos = 0.0;
        rewindRequest.store(false);
    }
    ppqPos.store(0.0);
    playerState.store(state);
    transportRequested.store(state > 0);
    transportPending.store(true);
    return true;
}

void KsVSTHostInterface::rewindPlayer() {
    ppqPos.store(0.0);
    playedFrames.store(0);
    rewindRequest.store(true);
}

void KsVSTHostInterface::freePlayerBuffers() {
    if (!stopPlayerOutsideCycle())
        return; // a cycle still reads them
    playerLeft.reset();
    playerRight.reset();
}

bool KsVSTHostInterface::setRecorderState(int32_t state, uint32_t maxFrames) {
    if (settings == nullptr || settings->outputDevice == nullptr)
        return false;
    if (state > 0) {
        recorderOutOfMemory = false;
        if (!stopRecorderOutsideCycle())
            return false;
        recordLeft.reset();
        recordRight.reset();
        // A chosen length is recorded whole; without one, 300 seconds.
        const auto limit = static_cast<uint32_t>(settings->outputDevice->sampleRate) * 300u;
        recordCapacity = maxFrames == 0 ? limit : maxFrames;
        recordedFrames.store(0);
        recordLeft.reset(new (std::nothrow) float[recordCapacity]);
        recordRight.reset(new (std::nothrow) float[recordCapacity]);
        if (!recordLeft || !recordRight) {
            freeRecorderBuffers();
            recordCapacity = 0;
            recorderOutOfMemory = true;
            return false;
        }
    } else {
        // The caller reads the take once this returns: no cycle may still
        // be adding to it.
        return stopRecorderOutsideCycle();
    }
    recorderState.store(state);
    return true;
}

void KsVSTHostInterface::freeRecorderBuffers() {
    if (!stopRecorderOutsideCycle())
        return; // a cycle still writes them
    recordLeft.reset();
    recordRight.reset();
}

// The arrays and the fields the cycle reads are changed only while the audio
// thread is outside a cycle. A cycle that does not end within two seconds (a
// plug-in hanging in its processing) makes the change fail rather than touch
// arrays in use.
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

// A cycle raises `inCycle` before it reads the state, so once the state is 0
// and `inCycle` has been seen low, no cycle reads the player any more.
bool KsVSTHostInterface::stopPlayerOutsideCycle() {
    playerState.store(0);
    return waitUntilOutsideCycle();
}

bool KsVSTHostInterface::stopRecorderOutsideCycle() {
    recorderState.store(0);
    return waitUntilOutsideCycle();
}

uint32_t KsVSTHostInterface::loadPlayerFile(const std::string& path) {
    if (settings == nullptr || settings->outputDevice == nullptr)
        return 0;
    const int32_t previousState = playerState.load();
    if (!stopPlayerOutsideCycle())
        return 0;
    playerLeft.reset();
    playerRight.reset();
    playedFrames.store(0);
    playerLength = 0;
    playerFileRate = 0;
    if (path.empty() || !readPlayerFile(path))
        return 0;
    playerState.store(previousState);
    return playerLength;
}

bool KsVSTHostInterface::readPlayerFile(const std::string& path) {
    const uint32_t frames = createReaderForPath(playerFile, path);
    bool read = false;
    if (frames != 0) {
        // One extra entry repeats the first frame, for interpolating across a loop.
        playerLeft.reset(new (std::nothrow) float[size_t(frames) + 1]());
        playerRight.reset(new (std::nothrow) float[size_t(frames) + 1]());
        read = playerLeft && playerRight &&
               playerFile->readSamples({playerLeft.get(), playerRight.get()});
    }
    // The samples are in memory now: the file is let go, so that a take can
    // be saved over it.
    if (playerFile != nullptr)
        playerFile->close();
    if (!read) {
        playerLeft.reset();
        playerRight.reset();
        return false;
    }
    playerLeft[frames] = playerLeft[0];
    playerRight[frames] = playerRight[0];
    playerLength = frames;
    playerFileRate = static_cast<uint32_t>(playerFile->sampleRate);
    return true;
}
