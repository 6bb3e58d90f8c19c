#pragma once

// One MIDI device's identity (name and direction), its device id in this run
// and its options. The MIDI driver's list and the settings' list each own
// their own records; they never share one.

#include <atomic>
#include <cstdint>
#include <string>

struct MidiDeviceSettings {
    int32_t deviceIndex = -1; // device id in this run; -1 when not present
    std::string name;
    bool isInput = false;
    bool active = false;
    bool sync = false;
    bool syncWhilePlaying = false;
    int32_t delay = 0; // milliseconds
    bool filterCCMessages = false;
    bool filterProgramChanges = false;
    int32_t channel = 0; // 0 = all, 1..16 = only that channel
    int32_t keyboardRangeLeft = 0;
    int32_t keyboardRangeRight = 127;

    // Same device: same name byte for byte and same direction.
    bool sameDeviceAs(const MidiDeviceSettings& other) const {
        return isInput == other.isInput && name == other.name;
    }
};

// An input's options change on the window thread while its MIDI thread
// reads them; both sides go through these, the field keeping its type.
template <typename T> T readSharedOption(const T& field) {
    static_assert(std::atomic_ref<T>::is_always_lock_free);
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T> void writeSharedOption(T& field, T value) {
    static_assert(std::atomic_ref<T>::is_always_lock_free);
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
