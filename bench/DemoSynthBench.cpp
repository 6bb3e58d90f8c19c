// The demo instrument with all eight voices sounding, each waveform, against
// eight bare sine oscillators writing the same buffers: what its two detuned
// oscillators, envelopes and event handling cost over the plainest voice.

#include "BenchSupport.h"
#include "DemoSynth.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kFrames = 512;

struct Buffers {
    std::vector<float> left = std::vector<float>(kFrames);
    std::vector<float> right = std::vector<float>(kFrames);
    float* pair[2] = {left.data(), right.data()};
};

struct ChordEvents {
    VstInt32 numEvents = demo::kVoiceCount;
    VstIntPtr reserved = 0;
    VstEvent* events[demo::kVoiceCount] = {};
    VstMidiEvent notes[demo::kVoiceCount] = {};

    ChordEvents() {
        for (int i = 0; i < demo::kVoiceCount; ++i) {
            notes[i].type = kVstMidiType;
            notes[i].byteSize = sizeof(VstMidiEvent);
            notes[i].midiData[0] = static_cast<char>(0x90);
            notes[i].midiData[1] = static_cast<char>(48 + 3 * i);
            notes[i].midiData[2] = 100;
            events[i] = reinterpret_cast<VstEvent*>(&notes[i]);
        }
    }
};

void BM_DemoSynth(benchmark::State& state) {
    demo::DemoSynth synth;
    synth.setSampleRate(48000.0);
    synth.parameters().set(demo::kWaveform, (static_cast<float>(state.range(0)) + 0.5f) / 4.0f);
    ChordEvents chord;
    synth.receiveEvents(reinterpret_cast<VstEvents*>(&chord));
    Buffers buffers;
    for (auto _ : state) {
        synth.process(buffers.pair, 2, kFrames);
        benchmark::ClobberMemory();
    }
}

void BM_BareSines(benchmark::State& state) {
    Buffers buffers;
    double phases[demo::kVoiceCount] = {};
    for (auto _ : state) {
        std::fill(buffers.left.begin(), buffers.left.end(), 0.0f);
        std::fill(buffers.right.begin(), buffers.right.end(), 0.0f);
        for (int v = 0; v < demo::kVoiceCount; ++v) {
            const double increment = 440.0 * std::pow(2.0, (48 + 3 * v - 69) / 12.0) / 48000.0;
            for (int i = 0; i < kFrames; ++i) {
                const float sample =
                    0.2f * static_cast<float>(std::sin(6.283185307179586 * phases[v]));
                buffers.left[static_cast<size_t>(i)] += sample;
                buffers.right[static_cast<size_t>(i)] += sample;
                phases[v] += increment;
                if (phases[v] >= 1.0)
                    phases[v] -= 1.0;
            }
        }
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_DemoSynth)->DenseRange(0, 3)->Repetitions(9)->ReportAggregatesOnly();
BENCHMARK(BM_BareSines)->Repetitions(9)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    return runAndReportRatios(argc, argv,
                              {{"BM_DemoSynth/0", "BM_BareSines", 4.0},
                               {"BM_DemoSynth/1", "BM_BareSines", 4.0},
                               {"BM_DemoSynth/2", "BM_BareSines", 4.0},
                               {"BM_DemoSynth/3", "BM_BareSines", 4.0}});
}
