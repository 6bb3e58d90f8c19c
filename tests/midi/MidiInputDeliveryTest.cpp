// The input procedure's work without winmm: unpacking into a record of each
// delivery, the time since the previous message on any input, the clock time
// of each input, and the close notice.

#include "MidiInputDelivery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kPerSecond = 1000000; // counts per second: one per microsecond
constexpr int64_t kStart = 5000000;

int64_t atMs(double ms) {
    return kStart + static_cast<int64_t>(ms * 1000.0);
}

uint32_t packed(uint8_t first, uint8_t second = 0, uint8_t third = 0) {
    return first | static_cast<uint32_t>(second) << 8 | static_cast<uint32_t>(third) << 16;
}

struct Recorder {
    std::vector<MidiMessage> messages;
    static void callback(const MidiMessage& m, void* user) {
        static_cast<Recorder*>(user)->messages.push_back(m);
    }
};

TEST(MidiInputDelivery, UnpacksWinmmsByteOrder) {
    MidiArrivalTimer timer(kPerSecond);
    Recorder r;
    MidiInputContext input(Recorder::callback, &r, timer);
    deliverShortMessage(input, packed(0x93, 0x3C, 0x64), atMs(0));
    deliverShortMessage(input, 0xFF0000F8, atMs(1)); // bits above the third byte are not data
    ASSERT_EQ(r.messages.size(), 2u);
    const MidiMessage& note = r.messages[0];
    EXPECT_EQ(note.status, 0x90);
    EXPECT_EQ(note.type, 0x90);
    EXPECT_EQ(note.channel, 3);
    EXPECT_EQ(note.data1, 60);
    EXPECT_EQ(note.data2, 100);
    const MidiMessage& clock = r.messages[1];
    EXPECT_EQ(clock.status, 0xF8);
    EXPECT_EQ(clock.type, 0xF0);
    EXPECT_EQ(clock.channel, 8);
    EXPECT_EQ(clock.data1, 0);
    EXPECT_EQ(clock.data2, 0);
}

// deltaMs counts from the previous message on any input; a clock's interval
// only from the previous clock of its own input.
TEST(MidiInputDelivery, TimesMessagesAcrossInputsAndClocksPerInput) {
    MidiArrivalTimer timer(kPerSecond);
    Recorder a, b;
    MidiInputContext inputA(Recorder::callback, &a, timer);
    MidiInputContext inputB(Recorder::callback, &b, timer);
    deliverShortMessage(inputA, packed(0xF8), atMs(0));
    deliverShortMessage(inputB, packed(0x90, 60, 1), atMs(20));
    deliverShortMessage(inputB, packed(0xF8), atMs(25));
    deliverShortMessage(inputA, packed(0xFE), atMs(30));
    deliverShortMessage(inputA, packed(0xF8), atMs(40));
    deliverShortMessage(inputB, packed(0xF8), atMs(45.5));
    struct Expected {
        const Recorder& r;
        size_t index;
        double deltaMs;
        double clockIntervalMs;
    } expected[] = {
        {a, 0, 0.0, 0.0},  // first message after construction, first clock of A
        {b, 0, 20.0, 0.0}, // a note has no clock interval
        {b, 1, 5.0, 0.0},  // first clock of B
        {a, 1, 5.0, 0.0},  // active sensing
        {a, 2, 10.0, 40.0}, {b, 2, 5.5, 20.5},
    };
    for (const Expected& e : expected) {
        ASSERT_LT(e.index, e.r.messages.size());
        const MidiMessage& m = e.r.messages[e.index];
        EXPECT_DOUBLE_EQ(m.deltaMs, e.deltaMs) << std::hex << int(m.status);
        EXPECT_DOUBLE_EQ(m.clockIntervalMs, e.clockIntervalMs) << std::hex << int(m.status);
    }
}

TEST(MidiInputDelivery, CloseNoticeComesOnceWithStatusZeroBeforeTheContextIsLetGo) {
    MidiArrivalTimer timer(kPerSecond);
    struct Seen {
        MidiInputContext* input = nullptr;
        int notices = 0;
        bool noticedDuringCallback = true;
    } seen;
    MidiInputContext input(
        [](const MidiMessage& m, void* user) {
            auto* s = static_cast<Seen*>(user);
            if (m.status == 0 && m.type == 0) {
                ++s->notices;
                s->noticedDuringCallback = s->input->closeNoticed.load();
            }
        },
        &seen, timer);
    seen.input = &input;
    deliverShortMessage(input, packed(0x90, 1, 1), atMs(0));
    EXPECT_FALSE(input.closeNoticed.load());
    deliverCloseNotice(input);
    EXPECT_EQ(seen.notices, 1);
    EXPECT_FALSE(seen.noticedDuringCallback);
    EXPECT_TRUE(input.closeNoticed.load());
}

// Two inputs delivering at once on their own threads: each callback sees
// only its own input's bytes, whole (a record shared between deliveries
// would mix them, and the thread sanitizer reports the race).
TEST(MidiInputDelivery, SimultaneousInputsEachGetTheirOwnRecord) {
    MidiArrivalTimer timer(kPerSecond);
    struct Checker {
        uint8_t status;
        uint8_t data1;
        std::atomic<int> wrong{0};
        std::atomic<int> seen{0};
    } checkers[2] = {{0x90, 11, {}, {}}, {0xB0, 99, {}, {}}};
    auto check = [](const MidiMessage& m, void* user) {
        auto* c = static_cast<Checker*>(user);
        c->seen.fetch_add(1, std::memory_order_relaxed);
        if (m.status != c->status || m.data1 != c->data1 || m.data2 != c->data1 || m.deltaMs < 0.0)
            c->wrong.fetch_add(1, std::memory_order_relaxed);
    };
    MidiInputContext inputs[2] = {{check, &checkers[0], timer}, {check, &checkers[1], timer}};
    constexpr int kMessages = 20000;
    std::atomic<int64_t> clock{kStart};
    auto deliverAll = [&](int i) {
        for (int n = 0; n < kMessages; ++n) {
            const Checker& c = checkers[i];
            deliverShortMessage(inputs[i], packed(c.status, c.data1, c.data1), clock.fetch_add(7));
        }
    };
    std::thread first(deliverAll, 0), second(deliverAll, 1);
    first.join();
    second.join();
    for (const Checker& c : checkers) {
        EXPECT_EQ(c.seen.load(), kMessages);
        EXPECT_EQ(c.wrong.load(), 0);
    }
}

} // namespace

// Once the driver has stopped an input's deliveries (before closing it), a
// message still arriving from the system's thread reaches no callback, and
// the close notice still does.
TEST(MidiInputDelivery, NoCallbackOnceDeliveriesAreStopped) {
    MidiArrivalTimer timer(kPerSecond);
    Recorder r;
    MidiInputContext input(Recorder::callback, &r, timer);
    deliverShortMessage(input, packed(0x90, 60, 100), atMs(0));
    EXPECT_TRUE(stopDeliveries(input, 100));
    deliverShortMessage(input, packed(0x90, 61, 100), atMs(1));
    deliverCloseNotice(input);
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0].data1, 60);
    EXPECT_EQ(r.messages[1].status, 0);
}

// A source that pauses its clock while stopped: the first clock after Start,
// Continue or Stop is not timed across the pause (it would read as a few BPM).
TEST(MidiInputDelivery, ClockTimingStartsAgainAfterTransportMessages) {
    for (uint8_t transport : {0xFA, 0xFB, 0xFC}) {
        MidiArrivalTimer timer(kPerSecond);
        Recorder r;
        MidiInputContext input(Recorder::callback, &r, timer);
        deliverShortMessage(input, packed(0xF8), atMs(0));
        deliverShortMessage(input, packed(transport), atMs(10000));
        deliverShortMessage(input, packed(0xF8), atMs(10001));
        deliverShortMessage(input, packed(0xF8), atMs(10021));
        ASSERT_EQ(r.messages.size(), 4u);
        EXPECT_EQ(r.messages[2].clockIntervalMs, 0.0) << std::hex << int(transport);
        EXPECT_DOUBLE_EQ(r.messages[3].clockIntervalMs, 20.0) << std::hex << int(transport);
    }
}

// The driver gave up waiting for a close notice and its caller frees the
// callback's user data: a notice running at that moment is waited for, and
// one coming later reaches no callback.
TEST(MidiInputDelivery, AnAbandonedInputCallsBackNoMore) {
    MidiArrivalTimer timer(kPerSecond);
    struct Slow {
        std::atomic<bool> inside{false};
        std::atomic<bool> finished{false};
        std::atomic<int> notices{0};
    } slow;
    MidiInputContext input(
        [](const MidiMessage&, void* user) {
            auto* s = static_cast<Slow*>(user);
            s->notices.fetch_add(1);
            s->inside.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            s->finished.store(true);
        },
        &slow, timer);
    std::thread system([&] { deliverCloseNotice(input); });
    while (!slow.inside.load())
        std::this_thread::yield();
    abandonInput(input);
    EXPECT_TRUE(slow.finished.load());
    system.join();
    deliverCloseNotice(input);
    deliverShortMessage(input, packed(0x90, 60, 100), atMs(0));
    EXPECT_EQ(slow.notices.load(), 1);
}
