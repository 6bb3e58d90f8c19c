// The demo instrument's audio path allocates nothing: this program replaces
// the global allocator and counts what the synth's thread allocates while it
// takes events, plays and echoes them.

#include "DemoEvents.h"
#include "DemoSynth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// This file is the allocator: its delete operators free what its new
// operator got from malloc, which the compiler cannot know.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local bool counting = false;
std::atomic<int> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (counting)
        allocations.fetch_add(1);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(DemoAllocations, NoneWhileTakingPlayingAndEchoingEvents) {
    demo::DemoSynth synth;
    synth.setSampleRate(48000.0);
    int echoes = 0;
    synth.setEchoSender([](VstEvents*, void* user) { ++*static_cast<int*>(user); }, &echoes);
    EventBlock chord({noteOn(60), noteOn(64, 3), noteOn(67, 9), midiEvent(0xB0, 1, 64)});
    EventBlock release({noteOff(60), noteOff(64, 30), noteOff(67, 90)});
    std::vector<float> left(256), right(256);
    float* pair[2] = {left.data(), right.data()};
    counting = true;
    for (int block = 0; block < 20000; ++block) {
        synth.receiveEvents((block % 3 == 0 ? chord : release).get());
        synth.parameters().set(demo::kWaveform, static_cast<float>(block % 4) / 4.0f);
        if (block % 1000 == 0)
            synth.requestReset();
        synth.process(pair, 2, 256);
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(echoes, 20000);
}

} // namespace
