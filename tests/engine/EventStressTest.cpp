// Two producers append events while the audio thread runs cycles: every event
// arrives exactly once and in order per producer, except those a full list
// refused, which are counted.

#include "KsVSTHostInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kEventsPerProducer = 500000;
// A producer's number travels in bit 6 of the status byte, its 20-bit
// sequence number in the status byte's low 6 bits and in data1 and data2.
static_assert(kEventsPerProducer < (1u << 20));

struct Receiver {
    AEffect effect{};
    uint32_t expected[2] = {0, 0}; // lowest sequence number still possible per producer
    uint64_t received[2] = {0, 0};
    uint64_t outOfOrder = 0;
};

Receiver* receiverOf(AEffect* effect) {
    return reinterpret_cast<Receiver*>(effect);
}

// Counts what arrives: a producer's sequence number only ever moves forward;
// a gap is allowed only where a full list dropped events.
void checkEvent(Receiver& r, const VstMidiEvent& event) {
    const auto status = static_cast<uint8_t>(event.midiData[0]);
    const int producer = (status >> 6) & 1;
    const uint32_t sequence = static_cast<uint32_t>(status & 0x3F) << 14 |
                              static_cast<uint32_t>(event.midiData[2]) << 7 |
                              static_cast<uint32_t>(event.midiData[1]);
    if (sequence < r.expected[producer])
        ++r.outOfOrder;
    r.expected[producer] = sequence + 1;
    ++r.received[producer];
}

VstIntPtr dispatcher(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
    if (opcode == effProcessEvents) {
        const auto* events = static_cast<const VstEvents*>(ptr);
        for (VstInt32 i = 0; i < events->numEvents; ++i)
            checkEvent(*receiverOf(effect), *reinterpret_cast<VstMidiEvent*>(events->events[i]));
    }
    return 0;
}

void processReplacing(AEffect*, float**, float**, VstInt32) {}

TEST(EventStress, NoEventIsLostOrDeliveredTwice) {
    Receiver receiver;
    receiver.effect.magic = kEffectMagic;
    receiver.effect.dispatcher = dispatcher;
    receiver.effect.processReplacing = processReplacing;
    receiver.effect.numOutputs = 2;
    KsVSTHostLib lib;
    lib.effect = &receiver.effect;
    KsVSTHostInterface engine;
    engine.hostLib = &lib;
    HostSettings settings("KsTest EventStress", false);
    AudioDeviceSettings output;
    output.sampleRate = 48000.0;
    settings.outputDevice = &output;
    engine.settings = &settings;

    std::atomic<int> producersLeft{2};
    auto produce = [&](uint8_t producer) {
        for (uint32_t i = 0; i < kEventsPerProducer; ++i) {
            const auto status = static_cast<uint8_t>(0x80 | producer << 6 | i >> 14);
            engine.appendEvent(status, static_cast<uint8_t>(i & 0x7F),
                               static_cast<uint8_t>((i >> 7) & 0x7F));
        }
        producersLeft.fetch_sub(1);
    };
    std::thread audio([&] {
        float left[32] = {}, right[32] = {};
        float* pair[2] = {left, right};
        while (producersLeft.load() > 0)
            KsVSTHostInterface::audioCycle(pair, pair, 32, &engine);
        for (int i = 0; i < 4; ++i)
            KsVSTHostInterface::audioCycle(pair, pair, 32, &engine);
    });
    std::thread midiThread(produce, 0);
    std::thread windowThread(produce, 1);
    midiThread.join();
    windowThread.join();
    audio.join();

    const uint64_t delivered = receiver.received[0] + receiver.received[1];
    EXPECT_EQ(delivered + engine.droppedEvents.load(), 2ull * kEventsPerProducer);
    EXPECT_EQ(receiver.outOfOrder, 0u);
    EXPECT_GT(delivered, 0u);
    lib.effect = nullptr;
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\KsTest EventStress");
}

} // namespace
