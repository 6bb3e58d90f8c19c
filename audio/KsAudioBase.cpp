#include "KsAudioBase.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// A cache line: the conversions store whole 64-byte vectors, and a store
// that straddles two lines costs about twice one that does not.
constexpr size_t kChannelBufferAlignment = 64;

float* allocateZeroedFloats(size_t frames) {
    // aligned_alloc wants a size that is a multiple of the alignment.
    const size_t bytes = (frames * sizeof(float) + kChannelBufferAlignment - 1) /
                         kChannelBufferAlignment * kChannelBufferAlignment;
    void* memory = ::operator new(bytes == 0 ? kChannelBufferAlignment : bytes,
                                  std::align_val_t(kChannelBufferAlignment), std::nothrow);
    if (memory != nullptr)
        std::memset(memory, 0, bytes);
    return static_cast<float*>(memory);
}

void freeFloats(float* memory) {
    ::operator delete(memory, std::align_val_t(kChannelBufferAlignment));
}

} // namespace

KsAudioBase::~KsAudioBase() {
    freeChannelBuffers();
}

bool KsAudioBase::allocateChannelBuffers(size_t frames) {
    freeChannelBuffers();
    float* left = allocateZeroedFloats(frames);
    float* right = allocateZeroedFloats(frames);
    if (left == nullptr || right == nullptr) {
        freeFloats(left);
        freeFloats(right);
        return false;
    }
    channelBuffers[0] = left;
    channelBuffers[1] = right;
    channelBufferFrames = frames;
    return true;
}

void KsAudioBase::freeChannelBuffers() {
    freeFloats(channelBuffers[0]);
    freeFloats(channelBuffers[1]);
    channelBuffers[0] = nullptr;
    channelBuffers[1] = nullptr;
    channelBufferFrames = 0;
}

AudioDriverPair::AudioDriverPair(std::unique_ptr<KsAudioBase> wasapiDriver,
                                 std::unique_ptr<KsAudioBase> asioDriver)
    : wasapi(std::move(wasapiDriver)), asio(std::move(asioDriver)) {}

KsAudioBase* AudioDriverPair::driverFor(int32_t type) const {
    switch (type) {
    case audioDeviceAsio:
        return asio.get();
    case audioDeviceWasapiShared:
    case audioDeviceWasapiExclusive:
        return wasapi.get();
    default:
        return nullptr;
    }
}

KsAudioBase* AudioDriverPair::driverFor(const AudioDeviceSettings* device) const {
    return device != nullptr ? driverFor(device->type) : nullptr;
}
