// vstinfo PATH: loads a VST 2 plug-in the way the host does, reports what it
// says about itself, runs it for ten seconds of audio and closes it again.
// vstinfo --identity PATH: only opens it and prints the name and vendor the
// host takes from it, each also as hexadecimal bytes, and closes it again.

#include "KsVSTHostLib.h"
#include "MainWindowLogic.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kSampleRate = 48000.0;
constexpr int kBlockFrames = 512;
constexpr int kTotalFrames = 480000; // ten seconds

VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                   void* ptr = nullptr, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

std::string askText(AEffect* effect, VstInt32 opcode) {
    char text[256] = {};
    dispatch(effect, opcode, 0, 0, text);
    text[sizeof(text) - 1] = '\0';
    return text;
}

bool canDo(AEffect* effect, const char* capability) {
    return dispatch(effect, effCanDo, 0, 0, const_cast<char*>(capability)) == 1;
}

std::string describeFlags(VstInt32 flags) {
    static const struct {
        VstInt32 bit;
        const char* name;
    } names[] = {{effFlagsHasEditor, "hasEditor"},
                 {effFlagsCanReplacing, "canReplacing"},
                 {effFlagsProgramChunks, "programChunks"},
                 {effFlagsIsSynth, "isSynth"},
                 {effFlagsNoSoundInStop, "noSoundInStop"},
                 {effFlagsCanDoubleReplacing, "canDoubleReplacing"}};
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08x", static_cast<unsigned>(flags));
    std::string text = hex;
    for (const auto& n : names) {
        if (flags & n.bit)
            text += std::string(" ") + n.name;
    }
    return text;
}

// Opens the plug-in in the host's order, as if an audio device of 48 kHz with
// 512-frame blocks had started, and prints what the plug-in reports. The
// editor is left alone: some plug-ins build their window as soon as its size
// is asked for, and fail without a display.
void openAndDescribe(AEffect* effect) {
    dispatch(effect, effOpen);
    std::string name = askText(effect, effGetEffectName);
    const std::string product = askText(effect, effGetProductString);
    if (name.empty())
        name = product;
    dispatch(effect, effSetBlockSize, 0, kBlockFrames);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kSampleRate));
    dispatch(effect, effMainsChanged, 0, 1);
    const bool receivesMidi = canDo(effect, "receiveVstMidiEvent");
    const bool sendsMidi = canDo(effect, "sendVstMidiEvent");
    const std::string vendor = askText(effect, effGetVendorString);
    const bool hasAbout = canDo(effect, "hasAboutScreen");
    const VstIntPtr vendorVersion = dispatch(effect, effGetVendorVersion);

    std::printf("name: %s\nvendor: %s\nproduct: %s\nvendor version: %lld\n", name.c_str(),
                vendor.c_str(), product.c_str(), static_cast<long long>(vendorVersion));
    std::printf("inputs: %d\noutputs: %d\nflags: %s\n", effect->numInputs, effect->numOutputs,
                describeFlags(effect->flags).c_str());
    std::printf("canDo receiveVstMidiEvent: %s\ncanDo sendVstMidiEvent: %s\n"
                "canDo hasAboutScreen: %s\n",
                receivesMidi ? "yes" : "no", sendsMidi ? "yes" : "no", hasAbout ? "yes" : "no");
}

// Paul Kellet's economy pink filter over a fixed white-noise sequence.
class PinkNoise {
public:
    float next() {
        state = state * 1664525u + 1013904223u;
        const float white = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
        b0 = 0.99765f * b0 + white * 0.0990460f;
        b1 = 0.96300f * b1 + white * 0.2965164f;
        b2 = 0.57000f * b2 + white * 1.0526913f;
        return 0.05f * (b0 + b1 + b2 + white * 0.1848f);
    }

private:
    uint32_t state = 12345u;
    float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f;
};

struct ChannelStats {
    double sumOfSquares = 0.0;
    float peak = 0.0f;
    long nonFinite = 0;

    void add(const float* samples, int frames) {
        for (int i = 0; i < frames; ++i) {
            const float s = samples[i];
            if (!std::isfinite(s)) {
                ++nonFinite;
                continue;
            }
            sumOfSquares += static_cast<double>(s) * s;
            peak = std::max(peak, std::fabs(s));
        }
    }
};

// A block of three events, laid out as the interface expects.
struct ChordEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[3];
};

void sendChord(AEffect* effect) {
    static VstMidiEvent notes[3];
    static ChordEvents chord;
    const char keys[3] = {60, 64, 67};
    chord.numEvents = 3;
    for (int i = 0; i < 3; ++i) {
        notes[i] = VstMidiEvent{};
        notes[i].type = kVstMidiType;
        notes[i].byteSize = sizeof(VstMidiEvent);
        notes[i].midiData[0] = char(0x90);
        notes[i].midiData[1] = keys[i];
        notes[i].midiData[2] = 100;
        chord.events[i] = reinterpret_cast<VstEvent*>(&notes[i]);
    }
    dispatch(effect, effProcessEvents, 0, 0, &chord);
}

void runTenSeconds(KsVSTHostLib& lib) {
    AEffect* effect = lib.effect;
    const bool isSynth = (effect->flags & effFlagsIsSynth) != 0;
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    float* pair[2] = {left.data(), right.data()};
    PinkNoise noise;
    ChannelStats stats[2];
    std::chrono::steady_clock::duration busy{};
    for (int done = 0; done < kTotalFrames; done += kBlockFrames) {
        const int frames = std::min(kBlockFrames, kTotalFrames - done);
        for (int i = 0; i < frames; ++i) {
            left[static_cast<size_t>(i)] = isSynth ? 0.0f : noise.next();
            right[static_cast<size_t>(i)] = isSynth ? 0.0f : noise.next();
        }
        const auto start = std::chrono::steady_clock::now();
        if (isSynth && done == 0)
            sendChord(effect);
        lib.process(pair, pair, frames);
        busy += std::chrono::steady_clock::now() - start;
        stats[0].add(left.data(), frames);
        stats[1].add(right.data(), frames);
    }
    std::printf("processed: %d frames at %.0f Hz in %d-frame blocks (%s)\n", kTotalFrames,
                kSampleRate, kBlockFrames, isSynth ? "held C major chord" : "pink noise");
    const char* names[2] = {"left", "right"};
    for (int c = 0; c < 2; ++c) {
        const double rms = std::sqrt(stats[c].sumOfSquares / kTotalFrames);
        std::printf("%s: rms %.6f, peak %.6f, non-finite samples %ld\n", names[c], rms,
                    static_cast<double>(stats[c].peak), stats[c].nonFinite);
    }
    const double seconds = std::chrono::duration<double>(busy).count();
    const double audioSeconds = kTotalFrames / kSampleRate;
    std::printf("speed: %.1f x real time\n", seconds > 0.0 ? audioSeconds / seconds : 0.0);
}

// Closes the plug-in as the host does at exit: its state is asked for first.
void closeLikeTheHost(AEffect* effect) {
    void* chunk = nullptr;
    const VstIntPtr chunkSize = dispatch(effect, effGetChunk, 0, 0, &chunk);
    std::printf("chunk: %lld bytes\n", static_cast<long long>(chunk != nullptr ? chunkSize : 0));
    dispatch(effect, effClose);
}

std::string hexBytes(const std::string& text) {
    std::string hex;
    char pair[4];
    for (const unsigned char c : text) {
        std::snprintf(pair, sizeof(pair), "%02x", c);
        hex += pair;
    }
    return hex;
}

// The window caption and the registry key use these bytes as they are; the
// hexadecimal form carries them unchanged through any console or pipe.
void printIdentity(AEffect* effect) {
    dispatch(effect, effOpen);
    const std::string name = readPluginName(effect);
    const std::string vendor = readVendorString(effect);
    std::printf("name: %s\nname hex: %s\nvendor: %s\nvendor hex: %s\n", name.c_str(),
                hexBytes(name).c_str(), vendor.c_str(), hexBytes(vendor).c_str());
    dispatch(effect, effClose);
}

// What was printed is the result: output that could not be written fails.
int printedStatus() {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool identityOnly = argc == 3 && std::strcmp(argv[1], "--identity") == 0;
    if ((argc != 2 && !identityOnly) || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: vstinfo PATH | vstinfo --identity PATH\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    KsVSTHostLib lib;
    if (lib.load(path) == nullptr) {
        std::fprintf(stderr, "vstinfo: %s: %s\n", path.c_str(),
                     describeLoadFailure(lib.lastFailure));
        return 1;
    }
    if (identityOnly) {
        printIdentity(lib.effect);
        lib.unload();
        return printedStatus();
    }
    openAndDescribe(lib.effect);
    runTenSeconds(lib);
    closeLikeTheHost(lib.effect);
    lib.unload();
    return printedStatus();
}
