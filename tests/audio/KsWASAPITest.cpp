// The WASAPI driver's logic on simulated endpoints: listing, open, the
// stream loops, their ends and format rewriting.

#include "KsWASAPI.h"
#include "FakeAudioSessions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>

using namespace wasapi;
using fake::FakeEndpoint;
using fake::FakeSystem;

namespace {

struct Stream {
    FakeSystem* system = nullptr;
    std::unique_ptr<KsWASAPI> driver;
};

// A driver over a system set up by `setUp`.
template <typename SetUp> Stream makeDriver(SetUp setUp) {
    auto system = std::make_unique<FakeSystem>();
    setUp(*system);
    Stream stream;
    stream.system = system.get();
    stream.driver = std::make_unique<KsWASAPI>(std::move(system));
    return stream;
}

AudioDeviceSettings* entry(KsWASAPI& driver, const std::string& id, int32_t type) {
    for (auto& device : driver.devices) {
        if (device->id == id && device->type == type)
            return device.get();
    }
    return nullptr;
}

// Writes a ramp to the outputs, copies the inputs it saw, and asks to end
// after `blocks` blocks.
struct Recorder {
    int blocks = 0;
    int endAfter = 1;
    std::vector<uint32_t> frameCounts;
    std::vector<float> inputLeft;
    std::vector<float> inputRight;
    float outputLeft = 0.5f;
    float outputRight = -0.25f;

    static bool callback(float** inputs, float** outputs, uint32_t frames, void* self) {
        auto& recorder = *static_cast<Recorder*>(self);
        recorder.frameCounts.push_back(frames);
        recorder.inputLeft.insert(recorder.inputLeft.end(), inputs[0], inputs[0] + frames);
        recorder.inputRight.insert(recorder.inputRight.end(), inputs[1], inputs[1] + frames);
        for (uint32_t i = 0; i < frames; ++i) {
            outputs[0][i] = recorder.outputLeft;
            outputs[1][i] = recorder.outputRight;
        }
        return ++recorder.blocks < recorder.endAfter;
    }
};

std::vector<float> floatsOf(const std::vector<unsigned char>& bytes) {
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

void twoRenderOneCapture(FakeSystem& system) {
    system.addEndpoint(Flow::render, L"{render-1}", L"Speakers (Card)", L"Speakers");
    system.addEndpoint(Flow::render, L"{render-2}", L"Line (Card)", L"Line");
    system.addEndpoint(Flow::capture, L"{capture-1}", L"Microphone (Card)", L"Microphone");
    system.defaultId[0] = L"{render-2}";
}

TEST(KsWASAPIList, EveryEndpointTwiceRenderFirst) {
    Stream s = makeDriver(twoRenderOneCapture);
    const auto& devices = s.driver->devices;
    ASSERT_EQ(devices.size(), 6u);
    const struct {
        const char* id;
        int32_t type;
        int32_t bufferSize;
        bool isInput;
        bool isDefault;
    } expected[] = {{"{render-1}", 8, 256, false, false}, {"{render-1}", 4, 1024, false, false},
                    {"{render-2}", 8, 256, false, true},  {"{render-2}", 4, 1024, false, true},
                    {"{capture-1}", 8, 256, true, true},  {"{capture-1}", 4, 1024, true, true}};
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i]->id, expected[i].id);
        EXPECT_EQ(devices[i]->type, expected[i].type);
        EXPECT_EQ(devices[i]->bufferSize, expected[i].bufferSize);
        EXPECT_EQ(devices[i]->isInput, expected[i].isInput);
        EXPECT_EQ(devices[i]->isDefault, expected[i].isDefault);
        EXPECT_FALSE(devices[i]->infoValid);
        EXPECT_EQ(devices[i]->channelCount, 2);
        EXPECT_EQ(devices[i]->sampleRate, 48000.0);
        EXPECT_EQ(devices[i]->bitsPerSample, 32);
        EXPECT_EQ(devices[i]->leftChannel, 0);
        EXPECT_EQ(devices[i]->rightChannel, 1);
    }
    EXPECT_EQ(devices[0]->name, "Speakers (Card)");
    EXPECT_EQ(devices[0]->channelNames,
              (std::vector<std::string>{"Speakers Out 1", "Speakers Out 2"}));
    EXPECT_EQ(devices[5]->channelNames,
              (std::vector<std::string>{"Microphone In 1", "Microphone In 2"}));
}

TEST(KsWASAPIList, EndpointsThatCannotBeReadAreLeftOut) {
    const struct {
        const char* what;
        void (*spoil)(FakeEndpoint&);
        size_t listed; // entries of the three render endpoints
    } cases[] = {
        {"item fails", [](FakeEndpoint& e) { e.itemFails = true; }, 4},
        {"store fails", [](FakeEndpoint& e) { e.storeFails = true; }, 4},
        {"format fails", [](FakeEndpoint& e) { e.formatReadFails = true; }, 4},
        {"format too short", [](FakeEndpoint& e) { e.format.resize(12); }, 4},
        // An endpoint without an identifier ends the listing of its flow.
        {"id fails", [](FakeEndpoint& e) { e.idFails = true; }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream s = makeDriver([&](FakeSystem& system) {
            system.addEndpoint(Flow::render, L"a", L"A", L"A");
            c.spoil(system.addEndpoint(Flow::render, L"b", L"B", L"B"));
            system.addEndpoint(Flow::render, L"c", L"C", L"C");
        });
        EXPECT_EQ(s.driver->devices.size(), c.listed);
        EXPECT_NE(entry(*s.driver, "a", 4), nullptr);
    }
}

TEST(KsWASAPIList, AFlowWithoutDefaultEndpointListsNothing) {
    Stream s = makeDriver([](FakeSystem& system) {
        twoRenderOneCapture(system);
        system.defaultId[0] = L"{gone}";
    });
    ASSERT_EQ(s.driver->devices.size(), 2u);
    EXPECT_TRUE(s.driver->devices[0]->isInput);
}

TEST(KsWASAPIList, NoAudioSystemListsNothing) {
    Stream s = makeDriver([](FakeSystem& system) {
        twoRenderOneCapture(system);
        system.enumeratorFails = true;
    });
    EXPECT_TRUE(s.driver->devices.empty());
}

TEST(KsWASAPIOpen, ExclusiveEntriesNeedOnlyABufferSize) {
    Stream s = makeDriver(twoRenderOneCapture);
    AudioDeviceSettings* exclusive = entry(*s.driver, "{render-1}", 8);
    exclusive->bufferSize = 0;
    EXPECT_FALSE(s.driver->open(exclusive, true));
    EXPECT_FALSE(exclusive->infoValid);
    exclusive->bufferSize = 128;
    s.system->endpoints[0].clear(); // the endpoint has gone: still valid
    EXPECT_TRUE(s.driver->open(exclusive, true));
    EXPECT_TRUE(exclusive->infoValid);
    EXPECT_EQ(exclusive->bufferSize, 128);
    EXPECT_FALSE(s.driver->open(nullptr, true));
}

TEST(KsWASAPIOpen, SharedEntriesTakeTheStreamBufferSize) {
    Stream s = makeDriver(twoRenderOneCapture);
    FakeEndpoint& speakers = *s.system->endpoints[0][0];
    speakers.bufferFrames = 1440;
    AudioDeviceSettings* shared = entry(*s.driver, "{render-1}", 4);
    ASSERT_TRUE(s.driver->open(shared, true));
    EXPECT_EQ(shared->bufferSize, 1440);
    EXPECT_TRUE(shared->infoValid);
    ASSERT_EQ(speakers.initializeCalls.size(), 1u);
    EXPECT_EQ(speakers.initializeCalls[0].mode, ShareMode::shared);
    EXPECT_EQ(speakers.initializeCalls[0].flags, kStreamFlagEventCallback);
    EXPECT_EQ(speakers.initializeCalls[0].duration, 0);
    EXPECT_EQ(speakers.initializeCalls[0].format, speakers.format);
    EXPECT_EQ(speakers.clientsAlive, 0); // a probe keeps nothing
    EXPECT_EQ(s.driver->renderClient, nullptr);

    // Valid information is never asked for again, even after the device left.
    s.system->endpoints[0].clear();
    EXPECT_TRUE(s.driver->open(shared, true));
}

// A probe of a shared entry reports the stream's latency in whole frames
// of the device's 48000 Hz; a stream that cannot tell reports none.
TEST(KsWASAPIOpen, SharedProbeTakesTheStreamLatencyInFrames) {
    struct Row {
        Duration latency;
        int32_t frames;
    };
    for (const Row row : {Row{100000, 480}, Row{53333, 256}, Row{0, 0}, Row{-1, 0}}) {
        Stream s = makeDriver(twoRenderOneCapture);
        s.system->endpoints[1][0]->streamLatency = row.latency;
        AudioDeviceSettings* input = entry(*s.driver, "{capture-1}", 4);
        ASSERT_TRUE(s.driver->open(input, true));
        EXPECT_EQ(input->latency, row.frames) << row.latency;
    }
}

TEST(KsWASAPIOpen, OpeningForAStartKeepsTheStream) {
    Stream s = makeDriver(twoRenderOneCapture);
    AudioDeviceSettings* output = entry(*s.driver, "{render-1}", 4);
    AudioDeviceSettings* input = entry(*s.driver, "{capture-1}", 4);
    ASSERT_TRUE(s.driver->open(output, false));
    ASSERT_TRUE(s.driver->open(input, false));
    EXPECT_NE(s.driver->renderClient, nullptr);
    EXPECT_NE(s.driver->renderService, nullptr);
    EXPECT_NE(s.driver->captureClient, nullptr);
    EXPECT_NE(s.driver->captureService, nullptr);
    // The capture stream is always shared and one device period long.
    FakeEndpoint& microphone = *s.system->endpoints[1][0];
    EXPECT_EQ(microphone.initializeCalls[0].mode, ShareMode::shared);
    EXPECT_EQ(microphone.initializeCalls[0].duration, microphone.period);
}

TEST(KsWASAPIOpen, FailuresLeaveTheEntryInvalid) {
    const struct {
        const char* what;
        void (*spoil)(FakeSystem&, AudioDeviceSettings&);
    } cases[] = {
        {"endpoint gone", [](FakeSystem& s, AudioDeviceSettings&) { s.endpoints[0].clear(); }},
        {"initialize refused",
         [](FakeSystem& s, AudioDeviceSettings&) {
             s.endpoints[0][0]->initializeResult = kDeviceInUse;
         }},
        {"20-bit container",
         [](FakeSystem& s, AudioDeviceSettings& e) {
             s.endpoints[0][0]->format = fake::formatBytes(1, 2, 48000, 20);
             e.bitsPerSample = 20;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream s = makeDriver(twoRenderOneCapture);
        AudioDeviceSettings* shared = entry(*s.driver, "{render-1}", 4);
        c.spoil(*s.system, *shared);
        EXPECT_FALSE(s.driver->open(shared, false));
        EXPECT_FALSE(shared->infoValid);
        EXPECT_EQ(s.driver->renderClient, nullptr);
    }
}

TEST(KsWASAPIStart, ExclusiveDurationIsWholeHalfMilliseconds) {
    const struct {
        int32_t frames;
        uint32_t rate;
        Duration expected;
    } cases[] = {{256, 48000, 50000}, {1024, 44100, 230000}, {480, 48000, 100000},
                 {10, 48000, 0},      {0, 48000, 0},         {256, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(KsWASAPI::exclusiveBufferDuration(c.frames, c.rate), c.expected)
            << c.frames << " frames at " << c.rate;
}

TEST(KsWASAPIStart, ExclusiveRenderPreRollsOneSilentBufferThenStreams) {
    Stream s = makeDriver(twoRenderOneCapture);
    FakeEndpoint& speakers = *s.system->endpoints[0][0];
    AudioDeviceSettings* output = entry(*s.driver, "{render-1}", 8);
    ASSERT_TRUE(s.driver->open(output, false)); // as the engine does: 256 frames give 5 ms
    ASSERT_EQ(output->bufferSize, 240);
    Recorder recorder;
    recorder.endAfter = 3;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));

    ASSERT_EQ(speakers.initializeCalls.size(), 1u);
    const fake::InitializeCall& init = speakers.initializeCalls[0];
    EXPECT_EQ(init.mode, ShareMode::exclusive);
    EXPECT_EQ(init.duration, 50000);
    EXPECT_EQ(init.periodicity, 50000);
    const std::vector<std::string> expectedStart = {"setEventHandle", "getBuffer 240",
                                                    "releaseBuffer 240 2", "start"};
    ASSERT_GE(speakers.log.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(speakers.log.begin(), speakers.log.begin() + 4),
              expectedStart);
    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{240, 240, 240}));

    // Pre-roll silence, two converted blocks; the third block asked to end
    // and its buffer is never released.
    const std::vector<float> played = floatsOf(speakers.rendered);
    ASSERT_EQ(played.size(), 3u * 240 * 2);
    for (size_t i = 0; i < 480; ++i)
        ASSERT_EQ(played[i], 0.0f) << i;
    for (size_t frame = 240; frame < 720; ++frame) {
        ASSERT_EQ(played[2 * frame], 0.5f);
        ASSERT_EQ(played[2 * frame + 1], -0.25f);
    }
}

// Opened for a start as the engine does, an exclusive output's entry takes
// the frames of the device buffer its size gives: the plug-in is told the
// block every callback carries. A restart from that size keeps it.
TEST(KsWASAPIStart, ExclusiveOutputTellsTheBlockTheDeviceBufferHolds) {
    const struct {
        uint32_t rate;
        int32_t requested;
        int32_t frames; // whole half-milliseconds: 5, 10, 10.5; 5.5, 10.5, 11.5
    } cases[] = {{48000, 256, 240}, {48000, 480, 480}, {48000, 512, 504},
                 {44100, 256, 242}, {44100, 480, 463}, {44100, 512, 507}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.requested) + " frames at " + std::to_string(c.rate));
        Stream s = makeDriver([&](FakeSystem& system) {
            system.addEndpoint(Flow::render, L"r", L"Out", L"Speakers",
                               fake::formatBytes(1, 2, c.rate, 16));
        });
        FakeEndpoint& speakers = *s.system->endpoints[0][0];
        AudioDeviceSettings* output = entry(*s.driver, "r", 8);
        output->bufferSize = c.requested;
        for (int run = 0; run < 2; ++run) {
            ASSERT_TRUE(s.driver->open(output, false));
            EXPECT_EQ(output->bufferSize, c.frames);
            EXPECT_EQ(speakers.bufferFrames, uint32_t(c.frames));
            Recorder recorder;
            recorder.endAfter = 3;
            ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
            EXPECT_EQ(recorder.frameCounts, std::vector<uint32_t>(3, uint32_t(c.frames)));
            EXPECT_EQ(speakers.activations, run + 1) << "the start uses the opened stream";
        }
    }
}

// Shared entries keep the stream's own buffer; the exclusive rule leaves
// them alone.
TEST(KsWASAPIStart, SharedOutputKeepsTheStreamBuffer) {
    Stream s = makeDriver([](FakeSystem& system) {
        system.addEndpoint(Flow::render, L"r", L"Out", L"Speakers",
                           fake::formatBytes(1, 2, 44100, 16));
    });
    FakeEndpoint& speakers = *s.system->endpoints[0][0];
    AudioDeviceSettings* output = entry(*s.driver, "r", 4);
    ASSERT_TRUE(s.driver->open(output, false));
    EXPECT_EQ(output->bufferSize, 1440);
    Recorder recorder;
    recorder.endAfter = 2;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
    ASSERT_EQ(speakers.initializeCalls.size(), 1u);
    EXPECT_EQ(speakers.initializeCalls[0].mode, ShareMode::shared);
    EXPECT_EQ(speakers.initializeCalls[0].duration, 0);
    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{480, 480}));
}

// A device that cannot align the buffer to the duration names the size it
// can; a new stream is made with that size's duration.
TEST(KsWASAPIStart, ExclusiveOutputTakesTheAlignedSizeTheDeviceNames) {
    Stream s = makeDriver([](FakeSystem& system) {
        system.addEndpoint(Flow::render, L"r", L"Out", L"Speakers",
                           fake::formatBytes(1, 2, 48000, 16));
    });
    FakeEndpoint& speakers = *s.system->endpoints[0][0];
    speakers.exclusiveAlignmentFrames = 64; // 240 frames become 256
    AudioDeviceSettings* output = entry(*s.driver, "r", 8);
    ASSERT_TRUE(s.driver->open(output, false));
    EXPECT_EQ(output->bufferSize, 256);
    ASSERT_EQ(speakers.initializeCalls.size(), 2u);
    EXPECT_EQ(speakers.initializeCalls[0].duration, 50000);
    // 256 frames rounded up to a whole unit: a device that cuts its
    // duration down to whole frames still finds all 256.
    EXPECT_EQ(speakers.initializeCalls[1].duration, 53334);
    EXPECT_EQ(speakers.initializeCalls[1].periodicity, 53334);
    EXPECT_EQ(speakers.activations, 2);
    EXPECT_EQ(speakers.clientsAlive, 1);
    Recorder recorder;
    recorder.endAfter = 2;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{256, 256}));

    speakers.initializeResult = kDeviceInUse;
    EXPECT_FALSE(s.driver->open(output, false));
    EXPECT_EQ(output->bufferSize, 256) << "a refused device leaves the entry's size";
    EXPECT_EQ(s.driver->renderClient, nullptr);
    EXPECT_EQ(speakers.clientsAlive, 0);
}

TEST(KsWASAPIStart, OrderlyEndWaitsOnePeriodStopsAndReleases) {
    Stream s = makeDriver(twoRenderOneCapture);
    FakeEndpoint& speakers = *s.system->endpoints[0][0];
    speakers.period = 30000; // 3 ms
    Recorder recorder;
    ASSERT_TRUE(
        s.driver->start(nullptr, entry(*s.driver, "{render-1}", 4), Recorder::callback, &recorder));
    EXPECT_EQ(recorder.blocks, 1);
    EXPECT_EQ(s.system->sleeps, (std::vector<uint32_t>{3}));
    EXPECT_EQ(speakers.log.back(), "stop");
    EXPECT_EQ(speakers.clientsAlive, 0);
    EXPECT_EQ(s.system->eventsAlive, 0);
    EXPECT_EQ(s.driver->renderClient, nullptr);
    EXPECT_EQ(s.driver->renderService, nullptr);
    // The channel buffers stay until `stop`.
    EXPECT_NE(s.driver->channelBuffers[0], nullptr);
    s.driver->stop();
    EXPECT_EQ(s.driver->channelBuffers[0], nullptr);
}

TEST(KsWASAPIStart, SharedRenderFillsWhatThePaddingLeaves) {
    Stream s = makeDriver([](FakeSystem& system) {
        FakeEndpoint& e = system.addEndpoint(Flow::render, L"r", L"R", L"R");
        e.bufferFrames = 1440;
        e.periodFrames = 480;
    });
    AudioDeviceSettings* output = entry(*s.driver, "r", 4);
    ASSERT_TRUE(s.driver->open(output, false));
    ASSERT_EQ(output->bufferSize, 1440);
    Recorder recorder;
    recorder.endAfter = 4;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
    // The pre-roll fills the buffer; each period frees 480 frames.
    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{480, 480, 480, 480}));
    EXPECT_EQ(s.system->endpoints[0][0]->activations, 1); // reused from open
}

TEST(KsWASAPIStart, AFullSharedBufferGivesABlockOfNoFrames) {
    Stream s = makeDriver([](FakeSystem& system) {
        FakeEndpoint& e = system.addEndpoint(Flow::render, L"r", L"R", L"R");
        e.periodFrames = 0; // the device plays nothing
    });
    AudioDeviceSettings* output = entry(*s.driver, "r", 4);
    ASSERT_TRUE(s.driver->open(output, false));
    Recorder recorder;
    recorder.endAfter = 2;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{0, 0}));
}

TEST(KsWASAPIStart, CaptureAndRenderRunInLockStep) {
    Stream s = makeDriver([](FakeSystem& system) {
        system.addEndpoint(Flow::render, L"r", L"R", L"R");
        FakeEndpoint& mic =
            system.addEndpoint(Flow::capture, L"c", L"C", L"C", fake::formatBytes(1, 2, 48000, 16));
        mic.signal = [](uint64_t frame, uint16_t channel) {
            return channel == 0 ? double(frame % 1000) : -double(frame % 1000);
        };
    });
    s.system->endpoints[0][0]->format = fake::formatBytes(1, 2, 48000, 16);
    AudioDeviceSettings* output = entry(*s.driver, "r", 4);
    AudioDeviceSettings* input = entry(*s.driver, "c", 4);
    ASSERT_TRUE(s.driver->open(output, false));
    ASSERT_TRUE(s.driver->open(input, false));
    Recorder recorder;
    recorder.endAfter = 5;
    ASSERT_TRUE(s.driver->start(input, output, Recorder::callback, &recorder));

    EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>(5, 480)));
    ASSERT_EQ(recorder.inputLeft.size(), 5u * 480);
    for (size_t n = 0; n < recorder.inputLeft.size(); ++n) {
        ASSERT_EQ(recorder.inputLeft[n], float(n % 1000) / 32768.0f) << n;
        ASSERT_EQ(recorder.inputRight[n], -float(n % 1000) / 32768.0f) << n;
    }
    // One render write of the captured size per packet, after the pre-roll;
    // none for the packet whose block ended the stream (its arrays may still
    // hold the input).
    const FakeEndpoint& speakers = *s.system->endpoints[0][0];
    const size_t frames = speakers.rendered.size() / 4;
    EXPECT_EQ(frames, 1440u + 4 * 480);
    int16_t last[2];
    std::memcpy(last, speakers.rendered.data() + speakers.rendered.size() - 4, 4);
    EXPECT_EQ(last[0], 16383); // 0.5 * 32767, truncated
    EXPECT_EQ(last[1], -8191);
    const std::vector<std::string>& micLog = s.system->endpoints[1][0]->log;
    EXPECT_EQ(micLog.back(), "stop");
}

TEST(KsWASAPIStart, CaptureTakesTheInputEntrysChannels) {
    const struct {
        uint16_t channels;
        int32_t left;
        int32_t right;
        float expectedLeft;
        float expectedRight;
    } cases[] = {{1, 0, 1, 1.0f, 1.0f},  // mono: both from channel 0
                 {4, 2, 3, 3.0f, 4.0f},  // four channels, the chosen pair
                 {2, 1, 0, 2.0f, 1.0f},  // swapped
                 {2, 0, 5, 1.0f, 0.0f}}; // a channel the device lacks reads silence
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        Stream s = makeDriver([&](FakeSystem& system) {
            system.addEndpoint(Flow::render, L"r", L"R", L"R");
            FakeEndpoint& mic = system.addEndpoint(Flow::capture, L"c", L"C", L"C",
                                                   fake::formatBytes(3, c.channels, 48000, 32));
            mic.signal = [](uint64_t, uint16_t channel) { return channel + 1.0; };
        });
        AudioDeviceSettings* input = entry(*s.driver, "c", 4);
        input->leftChannel = c.left;
        input->rightChannel = c.right;
        Recorder recorder;
        recorder.endAfter = 2;
        ASSERT_TRUE(
            s.driver->start(input, entry(*s.driver, "r", 4), Recorder::callback, &recorder));
        ASSERT_EQ(recorder.inputLeft.size(), 960u);
        EXPECT_EQ(recorder.inputLeft[100], c.expectedLeft);
        EXPECT_EQ(recorder.inputRight[100], c.expectedRight);
    }
}

// Cut to the arrays, and never past the block size the plug-in was told
// (the output's), however large the input's buffer.
TEST(KsWASAPIStart, PacketsLargerThanTheArraysOrTheOutputBlockAreCut) {
    const struct {
        int32_t inputFrames;
        int32_t outputFrames;
        uint32_t blockFrames;
    } cases[] = {{480, 960, 960}, {960, 480, 480}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inputFrames);
        Stream s = makeDriver([](FakeSystem& system) {
            system.addEndpoint(Flow::render, L"r", L"R", L"R");
            FakeEndpoint& mic = system.addEndpoint(Flow::capture, L"c", L"C", L"C");
            mic.periodFrames = 4000;
        });
        AudioDeviceSettings* input = entry(*s.driver, "c", 4);
        AudioDeviceSettings* output = entry(*s.driver, "r", 4);
        input->bufferSize = c.inputFrames;
        output->bufferSize = c.outputFrames;
        Recorder recorder;
        ASSERT_TRUE(s.driver->start(input, output, Recorder::callback, &recorder));
        EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{c.blockFrames}));
    }
}

TEST(KsWASAPIStart, OutputChannelChoiceAndFloatDevices) {
    const struct {
        int32_t left;
        int32_t right;
        float channel0;
        float channel1;
    } cases[] = {{0, 1, 0.5f, -0.25f}, {1, 0, -0.25f, 0.5f}, {0, 0, 0.5f, 0.0f}};
    for (const auto& c : cases) {
        Stream s = makeDriver(
            [](FakeSystem& system) { system.addEndpoint(Flow::render, L"r", L"R", L"R"); });
        AudioDeviceSettings* output = entry(*s.driver, "r", 8);
        output->leftChannel = c.left;
        output->rightChannel = c.right;
        ASSERT_TRUE(s.driver->open(output, false));
        Recorder recorder;
        recorder.endAfter = 2;
        ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
        const std::vector<float> played = floatsOf(s.system->endpoints[0][0]->rendered);
        ASSERT_EQ(played.size(), 2u * 240 * 2);
        EXPECT_EQ(played[2 * 300], c.channel0);
        EXPECT_EQ(played[2 * 300 + 1], c.channel1);
    }
}

TEST(KsWASAPIStart, FailuresReleaseEverything) {
    const struct {
        const char* what;
        int32_t outputType;
        bool withInput;
        void (*spoil)(FakeSystem&);
    } cases[] = {
        {"output endpoint gone", 4, false, [](FakeSystem& s) { s.endpoints[0].clear(); }},
        {"input endpoint gone", 4, true, [](FakeSystem& s) { s.endpoints[1].clear(); }},
        {"exclusive refused", 8, false,
         [](FakeSystem& s) { s.endpoints[0][0]->initializeResult = kDeviceInUse; }},
        {"event times out", 4, false, [](FakeSystem& s) { s.waitsBeforeTimeout = 3; }},
        {"event times out with capture", 4, true, [](FakeSystem& s) { s.waitsBeforeTimeout = 4; }},
        {"render buffer error", 4, false,
         [](FakeSystem& s) {
             s.endpoints[0][0]->renderGetBufferResults = {kOk, kOk, kFail};
         }},
        {"format changed to 12 bits", 4, false,
         [](FakeSystem& s) { s.endpoints[0][0]->format = fake::formatBytes(1, 2, 48000, 12); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream s = makeDriver(twoRenderOneCapture);
        AudioDeviceSettings* output = entry(*s.driver, "{render-1}", c.outputType);
        AudioDeviceSettings* input = c.withInput ? entry(*s.driver, "{capture-1}", 4) : nullptr;
        c.spoil(*s.system);
        Recorder recorder;
        recorder.endAfter = 1000;
        EXPECT_FALSE(s.driver->start(input, output, Recorder::callback, &recorder));
        EXPECT_EQ(s.driver->renderClient, nullptr);
        EXPECT_EQ(s.driver->captureClient, nullptr);
        EXPECT_EQ(s.system->eventsAlive, 0);
        for (const auto& flow : s.system->endpoints)
            for (const auto& endpoint : flow)
                EXPECT_EQ(endpoint->clientsAlive, 0);
    }
}

// Streams kept from an `open` (or left by a failed start) belong to their
// entry: another device, or the same device in the other mode, gets its own.
TEST(KsWASAPIStart, KeptStreamsServeOnlyTheirOwnEntry) {
    const struct {
        const char* what;
        const char* keptId;
        int32_t keptType;
        const char* startId;
        int32_t startType;
        size_t renderedBy; // the render endpoint that must play
        int firstActivations;
    } cases[] = {
        {"same entry reuses them", "{render-1}", 4, "{render-1}", 4, 0, 1},
        {"another device", "{render-1}", 4, "{render-2}", 4, 1, 1},
        {"another device, exclusive", "{render-1}", 4, "{render-2}", 8, 1, 1},
        {"same device, exclusive", "{render-1}", 4, "{render-1}", 8, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream s = makeDriver([](FakeSystem& system) {
            twoRenderOneCapture(system);
            system.endpoints[0][1]->format = fake::formatBytes(1, 2, 44100, 16);
        });
        AudioDeviceSettings* kept = entry(*s.driver, c.keptId, c.keptType);
        AudioDeviceSettings* output = entry(*s.driver, c.startId, c.startType);
        if (c.startType == 8) // 10 ms: a size the device buffer holds whole
            output->bufferSize = static_cast<int32_t>(output->sampleRate / 100);
        ASSERT_TRUE(s.driver->open(kept, false));
        Recorder recorder;
        recorder.endAfter = 2;
        ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
        const FakeEndpoint& player = *s.system->endpoints[0][c.renderedBy];
        const FakeEndpoint& other = *s.system->endpoints[0][1 - c.renderedBy];
        EXPECT_TRUE(other.rendered.empty());
        ASSERT_FALSE(player.rendered.empty());
        EXPECT_EQ(player.initializeCalls.back().mode,
                  c.startType == 8 ? ShareMode::exclusive : ShareMode::shared);
        EXPECT_EQ(s.system->endpoints[0][0]->activations, c.firstActivations);
    }
}

TEST(KsWASAPIOpen, OpeningAnotherEntryReleasesTheKeptStreams) {
    Stream s = makeDriver(twoRenderOneCapture);
    ASSERT_TRUE(s.driver->open(entry(*s.driver, "{render-1}", 4), false));
    ASSERT_TRUE(s.driver->open(entry(*s.driver, "{capture-1}", 4), false));
    ASSERT_TRUE(s.driver->open(entry(*s.driver, "{render-2}", 8), false));
    EXPECT_EQ(s.system->endpoints[0][0]->clientsAlive, 0);
    EXPECT_EQ(s.system->endpoints[0][1]->clientsAlive, 1) << "kept for the exclusive start";
    EXPECT_NE(s.driver->captureClient, nullptr) << "the other direction keeps its streams";
}

TEST(KsWASAPIStart, SilentCapturePacketsAreSilence) {
    Stream s = makeDriver([](FakeSystem& system) {
        system.addEndpoint(Flow::render, L"r", L"R", L"R");
        FakeEndpoint& mic = system.addEndpoint(Flow::capture, L"c", L"C", L"C");
        mic.signal = [](uint64_t, uint16_t) { return 0.75; };
        mic.capturesSilence = true;
    });
    Recorder recorder;
    recorder.endAfter = 2;
    ASSERT_TRUE(s.driver->start(entry(*s.driver, "c", 4), entry(*s.driver, "r", 4),
                                Recorder::callback, &recorder));
    ASSERT_EQ(recorder.inputLeft.size(), 960u);
    EXPECT_EQ(recorder.inputLeft, std::vector<float>(960, 0.0f));
    EXPECT_EQ(recorder.inputRight, std::vector<float>(960, 0.0f));
}

// The system trusts the format's own length field: it never claims more
// bytes than the format handed to it holds.
TEST(KsWASAPIStart, InitializeGetsAFormatThatHoldsWhatItClaims) {
    const struct {
        const char* what;
        size_t storedSize;
        uint16_t claimed;
        size_t passedSize;
        uint16_t passedClaim;
    } cases[] = {{"whole extensible format", 40, 22, 40, 22},
                 {"longer blob", 60, 42, 40, 22},
                 {"cut extensible format", 30, 22, 30, 12},
                 {"plain format with a wrong length", 18, 22, 18, 0},
                 {"half a cbSize", 17, 22, 16, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> format = fake::formatBytes(0xFFFE, 2, 48000, 32, 3);
        format.resize(c.storedSize, 0);
        format[16] = static_cast<unsigned char>(c.claimed);
        Stream s = makeDriver([&](FakeSystem& system) {
            system.addEndpoint(Flow::render, L"r", L"R", L"R", format);
        });
        Recorder recorder;
        s.driver->start(nullptr, entry(*s.driver, "r", 4), Recorder::callback, &recorder);
        const FakeEndpoint& speakers = *s.system->endpoints[0][0];
        ASSERT_EQ(speakers.initializeCalls.size(), 1u);
        const std::vector<unsigned char>& passed = speakers.initializeCalls[0].format;
        ASSERT_EQ(passed.size(), c.passedSize);
        if (passed.size() >= 18) {
            EXPECT_EQ(passed[16] | passed[17] << 8, c.passedClaim);
        }
    }
}

TEST(KsWASAPIStart, ExclusiveCaptureNeverStarts) {
    Stream s = makeDriver(twoRenderOneCapture);
    Recorder recorder;
    EXPECT_FALSE(s.driver->start(entry(*s.driver, "{capture-1}", 8),
                                 entry(*s.driver, "{render-1}", 4), Recorder::callback, &recorder));
    EXPECT_EQ(recorder.blocks, 0);
    EXPECT_FALSE(s.driver->start(nullptr, nullptr, Recorder::callback, &recorder));
}

// A device gone quiet (a capture that delivers no packets while the events
// go on, or no events at all) never keeps a stream from ending: the watched
// stop request reaches the callback in a block of no frames and the stream
// ends in order. Without a request only the whole event time-out ends it.
TEST(KsWASAPIStart, AStopRequestEndsAStreamWhoseDeviceWentQuiet) {
    const struct {
        const char* what;
        bool withInput;
        bool eventsCease; // every wait from the third on times out
        int stopAtWait;   // 0: never
    } rows[] = {
        {"capture delivers nothing", true, false, 5},
        {"no events, with capture", true, true, 5},
        {"no events, render only", false, true, 5},
        {"no events and no request", true, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Stream s = makeDriver(twoRenderOneCapture);
        s.system->endpoints[1][0]->periodFrames = 0;
        if (row.eventsCease)
            s.system->waitsBeforeTimeout = 2;
        std::atomic<bool> stop{false};
        s.system->onWait = [&](int waits) {
            if (row.stopAtWait != 0 && waits >= row.stopAtWait)
                stop.store(true);
            if (waits > 10000)
                s.system->waitsBeforeTimeout = 0; // a loop that never looks fails, not hangs
        };
        s.driver->watchStopRequest(&stop);
        AudioDeviceSettings* input = row.withInput ? entry(*s.driver, "{capture-1}", 4) : nullptr;
        Recorder recorder;
        recorder.endAfter = 1000;
        const bool ended = s.driver->start(input, entry(*s.driver, "{render-1}", 4),
                                           Recorder::callback, &recorder);
        EXPECT_EQ(s.driver->renderClient, nullptr);
        EXPECT_EQ(s.system->eventsAlive, 0);
        if (row.stopAtWait == 0) {
            EXPECT_FALSE(ended);
            EXPECT_EQ(s.system->timedOutMs, kEventWaitMs);
            continue;
        }
        EXPECT_TRUE(ended);
        EXPECT_LT(s.system->waits, 100);
        ASSERT_FALSE(recorder.frameCounts.empty());
        EXPECT_EQ(recorder.frameCounts.back(), 0u);
        if (row.withInput) {
            EXPECT_EQ(recorder.frameCounts.size(), 1u) << "no packet, no other block";
        }
        EXPECT_EQ(s.system->endpoints[0][0]->log.back(), "stop");
    }
}

TEST(KsWASAPIStart, TooLargeRequestsWaitForTheNextEvent) {
    Stream s =
        makeDriver([](FakeSystem& system) { system.addEndpoint(Flow::render, L"r", L"R", L"R"); });
    s.system->endpoints[0][0]->renderGetBufferResults = {kOk, kBufferTooLarge, kBufferTooLarge};
    AudioDeviceSettings* output = entry(*s.driver, "r", 8);
    ASSERT_TRUE(s.driver->open(output, false));
    Recorder recorder;
    recorder.endAfter = 2;
    ASSERT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
    EXPECT_EQ(recorder.blocks, 2);
    EXPECT_EQ(s.system->waits, 4);
}

// A render endpoint whose events go on while it takes no frames still
// passes a stop request on in a block of no frames.
TEST(KsWASAPIStart, AStopRequestEndsARenderStreamThatTakesNoFrames) {
    const struct {
        const char* what;
        int32_t type;
        bool overfull; // reports more queued than its buffer holds
    } rows[] = {{"every request too large", 8, false}, {"overfull shared buffer", 4, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Stream s = makeDriver(
            [](FakeSystem& system) { system.addEndpoint(Flow::render, L"r", L"R", L"R"); });
        FakeEndpoint& device = *s.system->endpoints[0][0];
        AudioDeviceSettings* output = entry(*s.driver, "r", row.type);
        ASSERT_TRUE(s.driver->open(output, false));
        device.periodFrames = 0;
        if (!row.overfull)
            device.renderGetBufferResults.assign(200, kBufferTooLarge);
        device.renderGetBufferResults.insert(device.renderGetBufferResults.begin(),
                                             kOk); // pre-roll
        std::atomic<bool> stop{false};
        s.system->onWait = [&](int waits) {
            if (row.overfull)
                device.padding = device.bufferFrames + 1;
            if (waits >= 5)
                stop.store(true);
            if (waits > 10000)
                s.system->waitsBeforeTimeout = 0;
        };
        s.driver->watchStopRequest(&stop);
        Recorder recorder;
        recorder.endAfter = 1000;
        EXPECT_TRUE(s.driver->start(nullptr, output, Recorder::callback, &recorder));
        EXPECT_EQ(recorder.frameCounts, (std::vector<uint32_t>{0}));
        EXPECT_LT(s.system->waits, 100);
        EXPECT_EQ(device.log.back(), "stop");
    }
}

TEST(KsWASAPIFormats, RewritesTheLowerRateSide) {
    Stream s = makeDriver([](FakeSystem& system) {
        system.addEndpoint(Flow::render, L"r", L"R", L"R");
        system.addEndpoint(Flow::capture, L"c", L"C", L"C",
                           fake::formatBytes(0xFFFE, 2, 44100, 16, 1));
    });
    AudioDeviceSettings* input = entry(*s.driver, "c", 4);
    AudioDeviceSettings* output = entry(*s.driver, "r", 4);
    output->bufferSize = 1440;
    ASSERT_TRUE(s.driver->matchFormats(input, output));
    EXPECT_EQ(input->sampleRate, 48000.0);
    EXPECT_EQ(input->bitsPerSample, 32);
    EXPECT_EQ(input->bufferSize, 1440);
    std::vector<unsigned char> expected = fake::formatBytes(0xFFFE, 2, 48000, 32, 1);
    expected[18] = 24; // valid bits of a rewritten integer format
    EXPECT_EQ(s.system->endpoints[1][0]->writtenFormat, expected);
    EXPECT_TRUE(s.system->endpoints[0][0]->writtenFormat.empty());

    // Equal formats need nothing.
    s.system->endpoints[1][0]->writtenFormat.clear();
    EXPECT_TRUE(s.driver->matchFormats(input, output));
    EXPECT_TRUE(s.system->endpoints[1][0]->writtenFormat.empty());
}

TEST(KsWASAPIFormats, RewrittenFormats) {
    const struct {
        const char* what;
        std::vector<unsigned char> stored;
        uint32_t rate;
        uint16_t bits;
        size_t size;
        uint16_t validBits; // 0: no valid-bits field
    } cases[] = {
        {"extensible integer to 16", fake::formatBytes(0xFFFE, 2, 48000, 32, 1), 44100, 16, 40, 16},
        {"extensible float stays whole", fake::formatBytes(0xFFFE, 2, 44100, 16, 3), 48000, 32, 40,
         32},
        {"plain format keeps its length", fake::formatBytes(1, 2, 48000, 16), 44100, 32, 18, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<unsigned char> format = rewrittenDeviceFormat(c.stored, c.rate, c.bits);
        ASSERT_EQ(format.size(), c.size);
        DeviceFormat facts;
        ASSERT_TRUE(readDeviceFormat(format.data(), format.size(), facts));
        EXPECT_EQ(facts.sampleRate, c.rate);
        EXPECT_EQ(facts.bitsPerSample, c.bits);
        EXPECT_EQ(facts.channels, 2);
        EXPECT_EQ(format[12] | format[13] << 8, c.bits / 8 * 2);
        EXPECT_EQ(uint32_t(format[8] | format[9] << 8 | format[10] << 16), c.rate * c.bits / 4);
        if (c.validBits != 0)
            EXPECT_EQ(format[18] | format[19] << 8, c.validBits);
        else
            EXPECT_EQ(format[16], 0); // cbSize untouched
    }
    EXPECT_TRUE(rewrittenDeviceFormat(std::vector<unsigned char>(10), 48000, 16).empty());
}

} // namespace
