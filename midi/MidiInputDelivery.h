#pragma once

// What a MIDI driver does with each incoming short message, apart from the
// system calls: unpack it into a record of this delivery, time it, hand it
// to the input's callback. Portable, so it runs in native tests; the winmm
// driver feeds it the packed message and the performance counter.
//
// Deliveries of several inputs may run at the same time on different
// threads; nothing here allocates, locks or waits.

#include "KsMidiBase.h"

#include <atomic>
#include <cstdint>

// The time since the previous message on any input of one driver.
class MidiArrivalTimer {
public:
    explicit MidiArrivalTimer(int64_t countsPerSecond) : frequency(countsPerSecond) {}

    // Milliseconds since the previous arrival, 0 for the first; `now` then
    // becomes the previous arrival.
    double millisecondsSincePrevious(int64_t now);
    double millisecondsBetween(int64_t earlier, int64_t later) const;

private:
    int64_t frequency;
    std::atomic<int64_t> lastCounter{0};
};

// One open input: what its deliveries are handed to and when its last clock
// came. The driver creates it at open and frees it only after its close
// notice has been delivered.
struct MidiInputContext {
    MidiInputContext(MidiInputCallback inputCallback, void* inputUserData, MidiArrivalTimer& timer)
        : callback(inputCallback), userData(inputUserData), arrivals(timer) {}

    MidiInputCallback callback;
    void* userData;
    MidiArrivalTimer& arrivals;
    std::atomic<int64_t> lastClockCounter{0};
    // Raised by the driver before it closes the input: deliveries already
    // running finish, later ones no longer reach the callback.
    std::atomic<bool> closing{false};
    std::atomic<int32_t> deliveriesInside{0};
    // Raised as the last step of the close notice: from then on no delivery
    // of this input touches the context.
    std::atomic<bool> closeNoticed{false};
    // Raised when the driver stops waiting for the close notice: one coming
    // later reaches no callback (whose user data may be gone by then).
    std::atomic<bool> abandoned{false};
};

// A short message as winmm packs it, read at counter value `now`.
void deliverShortMessage(MidiInputContext& input, uint32_t packed, int64_t now);
// Driver, before closing the input: no delivery reaches the callback once
// this has returned true (false: one was still running after `waitMs`).
bool stopDeliveries(MidiInputContext& input, int waitMs);
// The input has been closed: one callback with `status` 0, unless the
// driver has abandoned the input.
void deliverCloseNotice(MidiInputContext& input);
// Driver, when the close notice did not come or a delivery would not end:
// returns once no callback of this input runs, and none runs afterwards.
// The context must stay allocated, since the system may still call with it.
void abandonInput(MidiInputContext& input);
