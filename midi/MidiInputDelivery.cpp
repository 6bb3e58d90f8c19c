#include "MidiInputDelivery.h"

#include "Clock.h"

namespace {

constexpr uint8_t kClock = 0xF8;
constexpr uint8_t kStart = 0xFA;
constexpr uint8_t kContinue = 0xFB;
constexpr uint8_t kStop = 0xFC;

// A source that pauses its clock while stopped: the first clock after Start,
// Continue or Stop is not timed across the pause.
bool restartsClockTiming(uint8_t status) {
    return status == kStart || status == kContinue || status == kStop;
}

void deliver(MidiInputContext& input, uint32_t packed, int64_t now) {
    MidiMessage message = MidiMessage::fromPacked(packed);
    message.deltaMs = input.arrivals.millisecondsSincePrevious(now);
    if (message.status == kClock) {
        const int64_t previousClock =
            input.lastClockCounter.exchange(now, std::memory_order_relaxed);
        message.clockIntervalMs = input.arrivals.millisecondsBetween(previousClock, now);
    } else if (restartsClockTiming(message.status)) {
        input.lastClockCounter.store(0, std::memory_order_relaxed);
    }
    if (input.callback != nullptr)
        input.callback(message, input.userData);
}

} // namespace

double MidiArrivalTimer::millisecondsSincePrevious(int64_t now) {
    return millisecondsBetween(lastCounter.exchange(now, std::memory_order_relaxed), now);
}

double MidiArrivalTimer::millisecondsBetween(int64_t earlier, int64_t later) const {
    // Two inputs may read the counter in one order and publish it in the
    // other; the one published second then counts as simultaneous.
    if (earlier == 0 || frequency <= 0 || later <= earlier)
        return 0.0;
    return static_cast<double>(later - earlier) / static_cast<double>(frequency) * 1000.0;
}

void deliverShortMessage(MidiInputContext& input, uint32_t packed, int64_t now) {
    input.deliveriesInside.fetch_add(1);
    if (!input.closing.load())
        deliver(input, packed, now);
    input.deliveriesInside.fetch_sub(1);
}

bool stopDeliveries(MidiInputContext& input, int waitMs) {
    input.closing.store(true);
    for (int waited = 0; input.deliveriesInside.load() != 0; ++waited) {
        if (waited >= waitMs)
            return false;
        platform::sleepMs(1);
    }
    return true;
}

void deliverCloseNotice(MidiInputContext& input) {
    input.deliveriesInside.fetch_add(1);
    if (!input.abandoned.load() && input.callback != nullptr)
        input.callback(MidiMessage{}, input.userData);
    input.deliveriesInside.fetch_sub(1);
    input.closeNoticed.store(true, std::memory_order_release);
}

// Raising the flag before counting the deliveries inside (and they count
// themselves in before reading it) means each late delivery either sees the
// flag or is waited for. The wait has no limit: the callbacks are the
// caller's own and never block, while freeing their user data under one that
// still runs would be worse than any wait.
void abandonInput(MidiInputContext& input) {
    input.closing.store(true);
    input.abandoned.store(true);
    while (input.deliveriesInside.load() != 0)
        platform::sleepMs(1);
}
