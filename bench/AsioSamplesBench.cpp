// Every ASIO sample conversion, both directions, for blocks of 32 to 1024
// frames against a plain copy of the driver buffer's bytes, in the same
// program.

#include "AsioInterface.h"
#include "AsioSamples.h"
#include "BenchSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <string>
#include <vector>

namespace {

constexpr size_t kMostFrames = 1024;
const int64_t kFrames[] = {32, 256, 1024};
const int64_t kTypes[] = {ASIOSTInt16LSB,   ASIOSTInt16MSB,   ASIOSTInt24LSB,   ASIOSTInt24MSB,
                          ASIOSTInt32LSB,   ASIOSTInt32MSB,   ASIOSTFloat32LSB, ASIOSTFloat32MSB,
                          ASIOSTFloat64LSB, ASIOSTFloat64MSB, ASIOSTInt32LSB16, ASIOSTInt32MSB16,
                          ASIOSTInt32LSB18, ASIOSTInt32MSB18, ASIOSTInt32LSB20, ASIOSTInt32MSB20,
                          ASIOSTInt32LSB24, ASIOSTInt32MSB24};

// One block of memory: the float array aligned to a cache line as the
// drivers' channel arrays are, the driver's buffer and the copy's target half
// a page away from it and from each other, so that neither the copy nor a
// conversion loads from the page offset it has just stored to (a load then
// waits on the store, a cost of where the buffers lie, not of the work).
struct Buffers {
    static constexpr size_t kPage = 4096;
    std::vector<unsigned char> memory = std::vector<unsigned char>(16 * kPage);
    unsigned char* base =
        memory.data() + (kPage - reinterpret_cast<uintptr_t>(memory.data()) % kPage);
    float* floats = reinterpret_cast<float*>(base);
    unsigned char* driver = base + 8 * kPage + kPage / 2;
    unsigned char* copy = base + 4 * kPage;

    Buffers() {
        std::fill(floats, floats + kMostFrames, 0.25f);
        std::fill(driver, driver + kMostFrames * 8, 1);
    }
};

Buffers& buffers() {
    static Buffers b;
    return b;
}

// Arguments: frames, type.
void BM_Copy(benchmark::State& state) {
    Buffers& b = buffers();
    const size_t bytes = size_t(state.range(0)) * asioSampleBytes(int32_t(state.range(1)));
    for (auto _ : state) {
        std::memcpy(b.copy, b.driver, bytes);
        benchmark::ClobberMemory();
    }
}

void BM_Input(benchmark::State& state) {
    Buffers& b = buffers();
    for (auto _ : state) {
        asioToFloat(int32_t(state.range(1)), b.driver, b.floats, uint32_t(state.range(0)));
        benchmark::ClobberMemory();
    }
}

// Stores 64-byte vectors of zeros over `bytes` (a multiple of 64): the
// fastest way the conversions have to write memory. Library fills switch
// to string instructions at some sizes, which are slower here.
__attribute__((target("avx512f"))) void storeLines(void* to, size_t bytes) {
    auto* line = static_cast<unsigned char*>(to);
    for (size_t at = 0; at < bytes; at += 64)
        _mm512_storeu_si512(line + at, _mm512_setzero_si512());
}

// The stores an input conversion cannot do without: the float array and,
// for a big-endian type, its samples reversed in the driver's buffer.
void BM_InputStores(benchmark::State& state) {
    if (!__builtin_cpu_supports("avx512f")) {
        state.SkipWithError("no 64-byte stores on this processor");
        return;
    }
    Buffers& b = buffers();
    const auto frames = size_t(state.range(0));
    const auto type = int32_t(state.range(1));
    const size_t inPlace = type < ASIOSTInt16LSB ? frames * asioSampleBytes(type) : 0;
    for (auto _ : state) {
        storeLines(b.floats, frames * sizeof(float));
        storeLines(b.driver, inPlace / 64 * 64);
        benchmark::ClobberMemory();
    }
}

void BM_Output(benchmark::State& state) {
    Buffers& b = buffers();
    for (auto _ : state) {
        floatToAsio(int32_t(state.range(1)), b.floats, b.driver, uint32_t(state.range(0)));
        benchmark::ClobberMemory();
    }
}

std::string argsOf(int64_t frames, int64_t type) {
    return std::to_string(frames) + "/" + std::to_string(type);
}

void registerAll() {
    for (int64_t frames : kFrames)
        for (int64_t type : kTypes)
            for (auto* bench : {benchmark::RegisterBenchmark("BM_Copy", BM_Copy),
                                benchmark::RegisterBenchmark("BM_Input", BM_Input),
                                benchmark::RegisterBenchmark("BM_InputStores", BM_InputStores),
                                benchmark::RegisterBenchmark("BM_Output", BM_Output)})
                bench->Args({frames, type})->MinTime(0.02)->Repetitions(9)->ReportAggregatesOnly();
}

// At most 2.5 times the copy from 256 frames on; short blocks are reported
// with a looser bound, since a call's fixed cost weighs more there. The
// input's unavoidable stores are held to the same bound: where they alone
// exceed it, no input conversion can meet it.
std::vector<RatioPair> ratios() {
    std::vector<RatioPair> pairs;
    for (int64_t frames : kFrames)
        for (int64_t type : kTypes)
            for (const char* name : {"BM_Input/", "BM_InputStores/", "BM_Output/"})
                pairs.push_back({name + argsOf(frames, type), "BM_Copy/" + argsOf(frames, type),
                                 frames >= 256 ? 2.5 : 6.0});
    return pairs;
}

} // namespace

int main(int argc, char** argv) {
    registerAll();
    return runAndReportRatios(argc, argv, ratios());
}
