// The audio cycle allocates nothing: this program replaces the global
// allocator and counts every allocation made while a cycle runs.

#include "Clock.h"
#include "DeviceSamples.h"
#include "FakeAudioSessions.h"
#include "KsASIO.h"
#include "KsVSTHostInterface.h"
#include "KsWASAPI.h"
#include "MidiInputDelivery.h"
#include "SampleConversion.h"
#include "TestAsioEnvironment.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

// This file is the allocator: its delete operators free what its new
// operators got from malloc, which the compiler cannot know.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local bool countingThisThread = false;
std::atomic<uint64_t> countedAllocations{0};
std::atomic<uint64_t> countedBytes{0};

void* allocate(std::size_t size) {
    if (countingThisThread) {
        countedAllocations.fetch_add(1);
        countedBytes.fetch_add(size);
    }
    return std::malloc(size == 0 ? 1 : size);
}

// Over-aligned blocks keep the address malloc gave just below themselves.
void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    auto* raw = static_cast<char*>(allocate(size + align + sizeof(void*)));
    if (raw == nullptr)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw + sizeof(void*));
    auto* aligned = reinterpret_cast<void**>((start + align - 1) / align * align);
    aligned[-1] = raw;
    return aligned;
}

void freeAligned(void* p) {
    if (p != nullptr)
        std::free(static_cast<void**>(p)[-1]);
}
} // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    if (void* p = allocateAligned(size, a))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return operator new(size, a);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocateAligned(size, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    freeAligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    freeAligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    freeAligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    freeAligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    freeAligned(p);
}

namespace {

TEST(AudioCycleAllocations, NoneIn100000CyclesWithEventsTempoAndTransport) {
    KsVSTHostLib lib;
    ASSERT_NE(lib.load(testPluginPath("KsTestEffect")), nullptr);
    TestPluginControl control("KsTestEffect");
    KsVSTHostInterface engine;
    AudioDriverPair drivers(nullptr, nullptr);
    struct : KsMidiBase {
        bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
                  void*) override {
            return true;
        }
        void close() override {}
        void sendShortMessage(const MidiMessage&) override {}
    } midi;
    HostSettings settings("KsTest Allocations", false);
    AudioDeviceSettings output;
    output.sampleRate = 48000.0;
    output.type = audioDeviceWasapiShared;
    settings.outputDevice = &output;
    engine.attach(&lib, &drivers, &midi, &settings);
    lib.record.tempoHook = nullptr;

    float left[64] = {}, right[64] = {};
    float* pair[2] = {left, right};
    bool (*cycle)(float**, float**, uint32_t, void*) = KsVSTHostInterface::audioCycle;
    // Warm up once: first calls may set up lazily created statics.
    cycle(pair, pair, 64, &engine);
    for (int i = 0; i < 100000; ++i) {
        engine.appendEvent(0x90, static_cast<uint8_t>(i % 128), 100);
        if (i % 7 == 0)
            engine.setTempo(100.0 + i % 50);
        if (i % 11 == 0)
            engine.setTransport(i % 2 == 0);
        if (i % 13 == 0)
            control.queueHostCall(lib.effect, {audioMasterGetTime, 0, 0, 0.0f, {}, false, false});
        countingThisThread = true;
        cycle(pair, pair, 64, &engine);
        countingThisThread = false;
    }
    EXPECT_EQ(countedAllocations.load(), 0u);
    EXPECT_EQ(control.processInfo(lib.effect).processCalls, 100001);
    EXPECT_EQ(engine.droppedEvents.load(), 0u);
    lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    lib.effect = nullptr;
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\KsTest Allocations");
}

// Loading a file allocates the player's two arrays and a small reader, and
// nothing that grows with the file.
TEST(FileLoadAllocations, NothingProportionalToTheFile) {
    const std::string path = testing::TempDir() + "ks-allocation-load.wav";
    const uint32_t frames = 400000; // 1.6 MB of samples
    {
        std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
        std::unique_ptr<KsAudioFileBase> writer;
        ASSERT_TRUE(createWriterForPath(writer, path, frames, 44100));
        ASSERT_TRUE(writer->writeSamples16({left.data(), right.data()}, frames, true));
    }
    std::vector<float> left(frames), right(frames);
    countedBytes = 0;
    countingThisThread = true;
    std::unique_ptr<KsAudioFileBase> reader;
    const uint32_t read = createReaderForPath(reader, path);
    const bool complete = read == frames && reader->readSamples({left.data(), right.data()});
    reader.reset();
    countingThisThread = false;
    std::remove(path.c_str());
    EXPECT_TRUE(complete);
    EXPECT_LT(countedBytes.load(), 4096u) << "bytes allocated while loading";
    EXPECT_FLOAT_EQ(left[frames - 1], floatToInt16(0.25f) / 32768.0f);
}

// What the winmm driver's input procedure runs for each message: unpacking,
// timing and the engine's callback (filters, clock, taps, the event list).
TEST(MidiInputAllocations, NoneFromPackedMessageToTheEventList) {
    KsVSTHostLib lib;
    ASSERT_NE(lib.load(testPluginPath("KsTestEffect")), nullptr);
    struct : KsMidiBase {
        bool open(const MidiDeviceSettings* input, const MidiDeviceSettings*, MidiInputCallback cb,
                  void* user) override {
            if (input != nullptr) {
                callback = cb;
                userData = user;
            }
            return true;
        }
        void close() override {}
        void sendShortMessage(const MidiMessage&) override {}
        MidiInputCallback callback = nullptr;
        void* userData = nullptr;
    } midi;
    auto input = std::make_unique<MidiDeviceSettings>();
    input->deviceIndex = 0;
    input->name = "Allocation keys";
    input->isInput = true;
    input->active = true;
    midi.devices.push_back(std::move(input));
    HostSettings settings("KsTest MIDI Allocations", false);
    settings.mergeMidiDevices(midi.devices);
    settings.midiDevices[0]->sync = true;
    settings.midiDevices[0]->keyboardRangeLeft = 10;
    KsVSTHostInterface engine;
    AudioDriverPair drivers(nullptr, nullptr);
    engine.attach(&lib, &drivers, &midi, &settings);
    engine.readPerformanceCounter = [] { return int64_t{1}; };
    engine.perfFrequency = 1000;
    engine.setLearnedTapMessage(0xB0, 64);
    ASSERT_TRUE(engine.startMidi());
    ASSERT_NE(midi.callback, nullptr);

    MidiArrivalTimer arrivals(1000000);
    MidiInputContext context(midi.callback, midi.userData, arrivals);
    const uint32_t messages[] = {0x643C93, 0xF8, 0x7F40B0, 0x0040B0, 0x05C1,
                                 0xFE,     0xFA, 0xFC,     0x0103E0};
    countedAllocations = 0;
    countingThisThread = true;
    for (int i = 0; i < 20000; ++i) {
        deliverShortMessage(context, messages[i % std::size(messages)], 1000 + i * 250);
        if (i % 100 == 99)
            engine.eventLists[engine.writeIndex()].count.store(0); // as a delivered block would
    }
    countingThisThread = false;
    EXPECT_EQ(countedAllocations.load(), 0u);
    engine.stopMidi();
    lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    lib.effect = nullptr;
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\KsTest MIDI Allocations");
}

// Stands in for the engine: from its first call on, everything the
// driver's thread does is counted, the ASIO block's conversions included.
bool countFromHereOn(float** inputs, float** outputs, uint32_t frames, void* calls) {
    for (int side = 0; side < 2; ++side)
        for (uint32_t i = 0; i < frames; ++i)
            outputs[side][i] = inputs[side][i] * 0.5f;
    countingThisThread = true;
    static_cast<std::atomic<int>*>(calls)->fetch_add(1);
    return true;
}

TEST(AsioBlockAllocations, NoneInTheDriversThread) {
    TestAsioEnvironment environment;
    ASSERT_TRUE(environment.ready());
    environment.configure(TestAsioEnvironment::kDriverA,
                          "inputs 4\noutputs 6\npreferredSize 64\ninputType 1\noutputType 17\n"
                          "output.5.type 20\ntimeInfo 1\n");
    KsASIO asio;
    AudioDeviceSettings* input = nullptr;
    AudioDeviceSettings* output = nullptr;
    for (auto& device : asio.devices)
        if (device->name == TestAsioEnvironment::name(TestAsioEnvironment::kDriverA))
            (device->isInput ? input : output) = device.get();
    ASSERT_TRUE(input != nullptr && output != nullptr);
    std::atomic<int> calls{0};
    countedAllocations = 0;
    ASSERT_TRUE(asio.start(input, output, countFromHereOn, &calls));
    for (int wait = 0; wait < 2000 && calls.load() < 20; ++wait)
        platform::sleepMs(5);
    asio.stop();
    EXPECT_GE(calls.load(), 20);
    EXPECT_EQ(countedAllocations.load(), 0u);
}

TEST(EndpointConversionAllocations, NoneForAnyTypeOrChannelMap) {
    std::vector<float> left(1024, 0.5f), right(1024, -0.5f);
    std::vector<unsigned char> device(1024 * 6 * 4, 7);
    countedAllocations = 0;
    countingThisThread = true;
    for (auto type : {DeviceSampleType::uint8, DeviceSampleType::int16, DeviceSampleType::int24,
                      DeviceSampleType::int32, DeviceSampleType::float32}) {
        for (const ChannelMap map :
             {ChannelMap{2, 0, 1}, ChannelMap{1, 0, 1}, ChannelMap{6, 4, 5}}) {
            convertCapture(type, device.data(), 1024, map, left.data(), right.data(), 1024);
            convertRender(type, left.data(), right.data(), 1024, map, device.data());
        }
    }
    countingThisThread = false;
    EXPECT_EQ(countedAllocations.load(), 0u);
}

// Every channel shape, blocks longer than the scratch buffers and a plug-in
// changing its counts between blocks: buffers are made at load only.
TEST(PluginProcessAllocations, NoneForAnyChannelShape) {
    std::vector<float> left(kScratchFrames + 64, 0.5f), right(kScratchFrames + 64, -0.5f);
    float* pair[2] = {left.data(), right.data()};
    for (const char* name : {"KsTestEffect", "KsTestSideChain", "KsTestMonoSynth",
                             "KsTestWideOutputs", "KsTest64Channels"}) {
        KsVSTHostLib lib;
        ASSERT_NE(lib.load(testPluginPath(name)), nullptr) << name;
        const TestPluginControl control(name);
        countedAllocations = 0;
        countingThisThread = true;
        lib.process(pair, pair, 64);
        lib.process(pair, pair, kScratchFrames + 64);
        control.setChannels(lib.effect, 6, 1);
        lib.process(pair, pair, 64);
        countingThisThread = false;
        EXPECT_EQ(countedAllocations.load(), 0u) << name;
        EXPECT_GE(control.processInfo(lib.effect).processCalls, 3) << name;
        lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    }
}

// Counts from the end of the first block to the end of the last one: the
// stream loop between them, on simulated endpoints that record nothing.
struct CountingBlocks {
    int blocks = 0;
    static bool callback(float**, float** outputs, uint32_t frames, void* self) {
        auto& counter = *static_cast<CountingBlocks*>(self);
        std::fill(outputs[0], outputs[0] + frames, 0.5f);
        ++counter.blocks;
        countingThisThread = counter.blocks < 1000;
        return countingThisThread;
    }
};

TEST(StreamLoopAllocations, NoneInTheRenderOrCaptureLoop) {
    for (const bool withCapture : {false, true}) {
        for (const int32_t outputType : {audioDeviceWasapiShared, audioDeviceWasapiExclusive}) {
            auto system = std::make_unique<fake::FakeSystem>();
            system->addEndpoint(wasapi::Flow::render, L"r", L"R", L"R").quiet = true;
            fake::FakeEndpoint& mic = system->addEndpoint(wasapi::Flow::capture, L"c", L"C", L"C",
                                                          fake::formatBytes(1, 1, 48000, 16));
            mic.quiet = true;
            mic.signal = [](uint64_t frame, uint16_t) { return double(frame % 100); };
            KsWASAPI driver(std::move(system));
            AudioDeviceSettings* output = nullptr;
            AudioDeviceSettings* input = nullptr;
            for (auto& device : driver.devices) {
                if (!device->isInput && device->type == outputType)
                    output = device.get();
                if (device->isInput && device->type == audioDeviceWasapiShared && withCapture)
                    input = device.get();
            }
            ASSERT_TRUE(driver.open(output, false)); // as the engine does before a start
            CountingBlocks counter;
            countedAllocations = 0;
            EXPECT_TRUE(driver.start(input, output, CountingBlocks::callback, &counter));
            countingThisThread = false;
            EXPECT_EQ(counter.blocks, 1000);
            EXPECT_EQ(countedAllocations.load(), 0u)
                << (withCapture ? "capture" : "render") << " loop, type " << outputType;
        }
    }
}

TEST(AudioCycleAllocations, TheCounterSeesAnAllocation) {
    // Called through a volatile pointer so the compiler cannot drop it.
    void* (*volatile allocateBytes)(std::size_t) = ::operator new;
    countingThisThread = true;
    void* p = allocateBytes(16);
    countingThisThread = false;
    ::operator delete(p);
    EXPECT_GE(countedAllocations.load(), 1u);
    countedAllocations = 0;
}

} // namespace
