#include "MidiInputDelivery.h"

namespace {

constexpr uint8_t kClock = 0xF8;

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
    MidiMessage message = MidiMessage::fromPacked(packed);
    message.deltaMs = input.arrivals.millisecondsSincePrevious(now);
    if (message.status == kClock) {
        const int64_t previousClock =
            input.lastClockCounter.exchange(now, std::memory_order_relaxed);
        message.clockIntervalMs = input.arrivals.millisecondsBetween(previousClock, now);
    }
    if (input.callback != nullptr)
        input.callback(message, input.userData);
}

void deliverCloseNotice(MidiInputContext& input) {
    if (input.callback != nullptr)
        input.callback(MidiMessage{}, input.userData);
    input.closeNoticed.store(true, std::memory_order_release);
}
