#include "MidiOutputGate.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace {

TEST(MidiOutputGate, SendsOnlyWhileAHandleIsPublished) {
    MidiOutputGate gate;
    int sends = 0;
    auto count = [&](MidiOutputGate::Handle) { ++sends; };
    EXPECT_FALSE(gate.sendThrough(count));
    gate.publish(42);
    MidiOutputGate::Handle used = 0;
    EXPECT_TRUE(gate.sendThrough([&](MidiOutputGate::Handle h) { used = h; }));
    EXPECT_EQ(used, 42u);
    EXPECT_EQ(gate.withdraw(), 42u);
    EXPECT_FALSE(gate.sendThrough(count));
    EXPECT_EQ(gate.withdraw(), 0u);
    EXPECT_EQ(sends, 0);
}

// The audio thread sends without pause while the window thread opens and
// closes handle after handle: no send ever uses a handle after `withdraw`
// has returned it for closing.
TEST(MidiOutputGate, NoSendReachesAWithdrawnHandle) {
    constexpr int kHandles = 300;
    MidiOutputGate gate;
    std::array<std::atomic<bool>, kHandles + 1> closedHandles{};
    std::atomic<bool> done{false};
    std::atomic<int> lateSends{0};
    std::atomic<MidiOutputGate::Handle> lastUsed{0};
    std::thread audio([&] {
        while (!done.load()) {
            gate.sendThrough([&](MidiOutputGate::Handle h) {
                lastUsed.store(h);
                if (closedHandles[h].load())
                    lateSends.fetch_add(1);
            });
        }
    });
    for (MidiOutputGate::Handle h = 1; h <= kHandles; ++h) {
        gate.publish(h);
        while (lastUsed.load() != h) // the sender is using this handle now
            std::this_thread::yield();
        ASSERT_EQ(gate.withdraw(), h);
        closedHandles[h].store(true);
    }
    done.store(true);
    audio.join();
    EXPECT_EQ(lateSends.load(), 0);
}

} // namespace
