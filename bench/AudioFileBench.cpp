// Reading a 60-second file into float arrays with our readers against
// libsndfile's sf_readf_float on the same file, in the same program.

#include "BenchSupport.h"
#include "KsAudioFileBase.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string kWav24 = "/tmp/ks-bench-60s-24bit.wav";
const std::string kAiff16 = "/tmp/ks-bench-60s-16bit.aiff";

void makeFiles() {
    const std::string synth = " synth 60 sine 440 sine 660 vol 0.8";
    const std::string wav = "sox -n -r 48000 -c 2 -b 24 -t wavpcm " + kWav24 + synth;
    const std::string aiff = "sox -n -r 44100 -c 2 -b 16 -t aiff " + kAiff16 + synth;
    if (std::system(wav.c_str()) != 0 || std::system(aiff.c_str()) != 0) {
        std::fprintf(stderr, "sox could not make the benchmark files\n");
        std::exit(2);
    }
}

void readOurs(benchmark::State& state, const std::string& path) {
    std::vector<float> left, right;
    for (auto _ : state) {
        std::unique_ptr<KsAudioFileBase> reader;
        const uint32_t frames = createReaderForPath(reader, path);
        left.resize(frames);
        right.resize(frames);
        if (frames == 0 || !reader->readSamples({left.data(), right.data()}))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(left.data());
    }
}

void readSndfile(benchmark::State& state, const std::string& path) {
    std::vector<float> frames;
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (file == nullptr) {
            state.SkipWithError("sf_open failed");
            break;
        }
        frames.resize(static_cast<size_t>(info.frames * info.channels));
        sf_readf_float(file, frames.data(), info.frames);
        sf_close(file);
        benchmark::DoNotOptimize(frames.data());
    }
}

void BM_OurWav24(benchmark::State& state) {
    readOurs(state, kWav24);
}
void BM_SndfileWav24(benchmark::State& state) {
    readSndfile(state, kWav24);
}
void BM_OurAiff16(benchmark::State& state) {
    readOurs(state, kAiff16);
}
void BM_SndfileAiff16(benchmark::State& state) {
    readSndfile(state, kAiff16);
}

BENCHMARK(BM_OurWav24)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();
BENCHMARK(BM_SndfileWav24)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();
BENCHMARK(BM_OurAiff16)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();
BENCHMARK(BM_SndfileAiff16)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    makeFiles();
    const int status = runAndReportRatios(
        argc, argv,
        {{"BM_OurWav24", "BM_SndfileWav24", 1.5}, {"BM_OurAiff16", "BM_SndfileAiff16", 1.5}});
    std::remove(kWav24.c_str());
    std::remove(kAiff16.c_str());
    return status;
}
