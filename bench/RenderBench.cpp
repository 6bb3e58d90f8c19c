// Rendering 60 s through the engine (ksrender's renderer) against a bare
// loop that calls the same plug-in's processReplacing over the same blocks
// and writes the same file. Only the block loops are timed.

#include "BenchSupport.h"
#include "DynamicLibrary.h"
#include "KsVSTHostLib.h"
#include "OutputWriter.h"
#include "Renderer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 512;
constexpr uint64_t kFrames = 60ull * kRate;
const std::string kOutput = "/tmp/ks-render-bench.wav";

std::string pluginPath() {
    return platform::executableDirectory() + "/KsTestEffect.so";
}

void BM_Render(benchmark::State& state) {
    RenderOptions options;
    options.pluginPath = pluginPath();
    options.outputPath = kOutput;
    options.seconds = 60.0;
    options.rate = kRate;
    options.block = kBlock;
    for (auto _ : state) {
        const RenderResult result = render(options);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
        state.SetIterationTime(result.seconds);
    }
}

void BM_BareLoop(benchmark::State& state) {
    KsVSTHostLib lib;
    if (lib.load(pluginPath()) == nullptr) {
        state.SkipWithError("cannot load the plug-in");
        return;
    }
    AEffect* effect = lib.effect;
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    std::vector<float> left(kBlock), right(kBlock);
    float* channels[kMaxPluginChannels] = {left.data(), right.data()};
    for (auto _ : state) {
        OutputWriter writer;
        writer.open(kOutput, kFrames, kRate, false);
        const auto start = std::chrono::steady_clock::now();
        for (uint64_t done = 0; done < kFrames; done += kBlock) {
            std::memset(left.data(), 0, sizeof(float) * kBlock);
            std::memset(right.data(), 0, sizeof(float) * kBlock);
            effect->processReplacing(effect, channels, channels, kBlock);
            writer.write(left.data(), right.data(), kBlock);
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        writer.finish();
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

BENCHMARK(BM_Render)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly();
BENCHMARK(BM_BareLoop)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    const int status = runAndReportRatios(argc, argv, {{"BM_Render", "BM_BareLoop", 1.3}});
    std::remove(kOutput.c_str());
    return status;
}
