// One audio cycle of the engine against the plug-in's own calls on the same
// buffers: effProcessEvents (when there are events) and processReplacing.
// Appending the events is the producers' work and is not timed.

#include "BenchSupport.h"
#include "DynamicLibrary.h"
#include "KsVSTHostInterface.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kFrames = 64;

struct NullMidi : KsMidiBase {
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
              void*) override {
        return true;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
};

struct Fixture {
    Fixture() : drivers(nullptr, nullptr), settings("KsBench Engine", false) {
        const std::string path = platform::executableDirectory() + "/KsTestEffect.so";
        if (lib.load(path) == nullptr) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(2);
        }
        output.sampleRate = 48000.0;
        output.type = audioDeviceWasapiShared;
        settings.outputDevice = &output;
        engine.attach(&lib, &drivers, &midi, &settings);
        events.numEvents = 256;
        for (int i = 0; i < 256; ++i) {
            records[i] = VstMidiEvent{kVstMidiType,
                                      sizeof(VstMidiEvent),
                                      0,
                                      1,
                                      0,
                                      0,
                                      {char(0x90), char(i & 0x7F), 100, 0},
                                      0,
                                      0,
                                      0,
                                      0};
            events.events[i] = reinterpret_cast<VstEvent*>(&records[i]);
        }
    }
    ~Fixture() {
        lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
        lib.effect = nullptr;
    }

    KsVSTHostLib lib;
    AudioDriverPair drivers;
    NullMidi midi;
    HostSettings settings;
    AudioDeviceSettings output;
    KsVSTHostInterface engine;
    float left[kFrames] = {};
    float right[kFrames] = {};
    struct {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[256];
    } events{};
    VstMidiEvent records[256];
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

template <typename Work> double timed(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Without events both sides run back to back under the library's timer.
void BM_PluginDirect(benchmark::State& state) {
    Fixture& f = fixture();
    AEffect* effect = f.lib.effect;
    float* channels[kMaxPluginChannels] = {f.left, f.right};
    for (auto _ : state)
        effect->processReplacing(effect, channels, channels, kFrames);
}

void BM_EngineCycle(benchmark::State& state) {
    Fixture& f = fixture();
    float* pair[2] = {f.left, f.right};
    for (auto _ : state)
        KsVSTHostInterface::audioCycle(pair, pair, kFrames, &f.engine);
}

// With events, each block's 256 events are appended untimed first, so both
// sides are timed by hand around their own calls.
void BM_PluginDirectEvents(benchmark::State& state) {
    Fixture& f = fixture();
    AEffect* effect = f.lib.effect;
    float* channels[kMaxPluginChannels] = {f.left, f.right};
    for (auto _ : state) {
        state.SetIterationTime(timed([&] {
            effect->dispatcher(effect, effProcessEvents, 0, 0, &f.events, 0.0f);
            effect->processReplacing(effect, channels, channels, kFrames);
        }));
    }
}

void BM_EngineCycleEvents(benchmark::State& state) {
    Fixture& f = fixture();
    float* pair[2] = {f.left, f.right};
    for (auto _ : state) {
        for (int i = 0; i < 256; ++i)
            f.engine.appendEvent(0x90, static_cast<uint8_t>(i & 0x7F), 100);
        state.SetIterationTime(
            timed([&] { KsVSTHostInterface::audioCycle(pair, pair, kFrames, &f.engine); }));
    }
}

BENCHMARK(BM_PluginDirect)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_EngineCycle)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_PluginDirectEvents)->UseManualTime()->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_EngineCycleEvents)->UseManualTime()->Repetitions(15)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    return runAndReportRatios(argc, argv,
                              {{"BM_EngineCycle", "BM_PluginDirect", 1.5},
                               {"BM_EngineCycleEvents", "BM_PluginDirectEvents", 1.5}});
}
