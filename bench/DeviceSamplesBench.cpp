// The endpoint conversions for stereo blocks against a plain copy of the
// same bytes, in the same program.

#include "BenchSupport.h"
#include "DeviceSamples.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kMostFrames = 1024;

struct Buffers {
    std::vector<float> left = std::vector<float>(kMostFrames, 0.25f);
    std::vector<float> right = std::vector<float>(kMostFrames, -0.5f);
    std::vector<unsigned char> device = std::vector<unsigned char>(kMostFrames * 2 * 4, 1);
    std::vector<unsigned char> copy = std::vector<unsigned char>(kMostFrames * 2 * 4, 0);
};

Buffers& buffers() {
    static Buffers b;
    return b;
}

void BM_Copy(benchmark::State& state) {
    Buffers& b = buffers();
    const auto bytes = static_cast<size_t>(state.range(0) * state.range(1) * 2);
    for (auto _ : state) {
        std::memcpy(b.copy.data(), b.device.data(), bytes);
        benchmark::ClobberMemory();
    }
}

void BM_Capture(benchmark::State& state) {
    Buffers& b = buffers();
    const auto type = static_cast<DeviceSampleType>(state.range(2));
    const auto frames = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        convertCapture(type, b.device.data(), frames, {2, 0, 1}, b.left.data(), b.right.data(),
                       kMostFrames);
        benchmark::ClobberMemory();
    }
}

void BM_Render(benchmark::State& state) {
    Buffers& b = buffers();
    const auto type = static_cast<DeviceSampleType>(state.range(2));
    const auto frames = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        convertRender(type, b.left.data(), b.right.data(), frames, {2, 0, 1}, b.device.data());
        benchmark::ClobberMemory();
    }
}

// Arguments: frames, bytes per sample, sample type.
const std::vector<std::vector<int64_t>> kCases = {
    {256, 2, int64_t(DeviceSampleType::int16)},   {1024, 2, int64_t(DeviceSampleType::int16)},
    {256, 4, int64_t(DeviceSampleType::int32)},   {1024, 4, int64_t(DeviceSampleType::int32)},
    {256, 4, int64_t(DeviceSampleType::float32)}, {1024, 4, int64_t(DeviceSampleType::float32)}};

void registerAll() {
    for (const auto& c : kCases) {
        for (auto* bench : {benchmark::RegisterBenchmark("BM_Copy", BM_Copy),
                            benchmark::RegisterBenchmark("BM_Capture", BM_Capture),
                            benchmark::RegisterBenchmark("BM_Render", BM_Render)})
            bench->Args(c)->Repetitions(9)->ReportAggregatesOnly();
    }
}

std::vector<RatioPair> ratios() {
    std::vector<RatioPair> pairs;
    for (const auto& c : kCases) {
        const std::string args =
            std::to_string(c[0]) + "/" + std::to_string(c[1]) + "/" + std::to_string(c[2]);
        for (const char* name : {"BM_Capture/", "BM_Render/"})
            pairs.push_back({name + args, "BM_Copy/" + args, 4.0});
    }
    return pairs;
}

} // namespace

int main(int argc, char** argv) {
    registerAll();
    return runAndReportRatios(argc, argv, ratios());
}
