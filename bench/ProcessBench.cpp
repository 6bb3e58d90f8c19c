// The host's per-block plug-in call against calling the plug-in's
// processReplacing directly on the same buffers.

#include "BenchSupport.h"
#include "DynamicLibrary.h"
#include "KsVSTHostLib.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Fixture {
    Fixture() {
        const std::string path = platform::executableDirectory() + "/KsTestEffect.so";
        if (lib.load(path) == nullptr) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(2);
        }
    }
    ~Fixture() { lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f); }
    KsVSTHostLib lib;
    std::vector<float> left = std::vector<float>(4096, 0.25f);
    std::vector<float> right = std::vector<float>(4096, -0.25f);
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_DirectProcessReplacing(benchmark::State& state) {
    Fixture& f = fixture();
    AEffect* effect = f.lib.effect;
    // The plug-in may look at any entry of the host's array: give it as many.
    float* channels[kMaxPluginChannels] = {f.left.data(), f.right.data()};
    const auto frames = static_cast<VstInt32>(state.range(0));
    for (auto _ : state) {
        effect->processReplacing(effect, channels, channels, frames);
        benchmark::ClobberMemory();
    }
}

void BM_HostLibProcess(benchmark::State& state) {
    Fixture& f = fixture();
    float* pair[2] = {f.left.data(), f.right.data()};
    const auto frames = static_cast<int>(state.range(0));
    for (auto _ : state) {
        f.lib.process(pair, pair, frames);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_DirectProcessReplacing)->Arg(64)->Arg(512)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_HostLibProcess)->Arg(64)->Arg(512)->Repetitions(15)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    return runAndReportRatios(argc, argv,
                              {{"BM_HostLibProcess/64", "BM_DirectProcessReplacing/64", 1.05},
                               {"BM_HostLibProcess/512", "BM_DirectProcessReplacing/512", 1.05}});
}
