#pragma once

// The MIDI output handle between the audio thread, which sends through it,
// and the window thread, which opens and closes it. A send uses the handle
// only while it is published; closing takes the handle away and waits until
// no send still uses it, so the system never sees a closed handle. The
// sending side never waits.

#include <atomic>
#include <cstdint>
#include <thread>

class MidiOutputGate {
public:
    using Handle = uintptr_t; // 0 = none

    // Window thread: publishes a freshly opened handle.
    void publish(Handle handle) { current.store(handle); }

    // Any thread: calls `send` (handle) if a handle is published; true if it
    // did.
    template <class Send> bool sendThrough(Send&& send) {
        sendersInside.fetch_add(1);
        const Handle handle = current.load();
        if (handle != 0)
            send(handle);
        sendersInside.fetch_sub(1);
        return handle != 0;
    }

    // Window thread: takes the handle away (0 if there was none) once no
    // send uses it any more; the caller then closes it.
    Handle withdraw() {
        const Handle handle = current.exchange(0);
        while (sendersInside.load() != 0)
            std::this_thread::yield();
        return handle;
    }

    bool isOpen() const { return current.load() != 0; }

private:
    std::atomic<Handle> current{0};
    std::atomic<int32_t> sendersInside{0};
};
