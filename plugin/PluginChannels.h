#pragma once

// The channel array the host hands its plug-in for one block.
//
// One array serves as both the inputs and the outputs argument, so the
// plug-in processes the host's stereo pair in place. Every entry the plug-in
// declares, as input or output, points at a buffer of the block's length:
// - up to 20 outputs, entries k and k + 1 hold the pair for every k below
//   the output count (the plug-in writes its pairs over each other);
// - with more outputs, only entries 0 and 1 hold the pair;
// - inputs beyond the outputs (side-chains) read a copy of the pair taken
//   before the block, so they key on the signal, not on the plug-in's output;
// - further outputs write to scratch buffers that are discarded; one that is
//   also an input has its own buffer, silent at the start of every block;
// - entries 0 and 1 are always valid, even for a plug-in without channels;
// - the remaining entries, up to 256, are null.
//
// Threads: `prepare` and `release` run on the window thread while no audio
// runs; `process` runs on the audio thread and allocates nothing.

#include "vst2.h"

#include <array>
#include <cstdint>
#include <vector>

// The most channels the host carries in either direction.
constexpr int kMaxPluginChannels = 256;
// Up to this many outputs, every pair of entries below the count holds the pair.
constexpr int kRepeatedPairChannels = 20;
// The fewest frames each scratch buffer holds; a block longer than the
// buffers (one the driver never announced) runs in pieces of their length.
constexpr int kScratchFrames = 8192;

enum class ChannelEntry : uint8_t {
    unused,
    pairLeft,
    pairRight,
    copyLeft,
    copyRight,
    silence,
    discard,
};

// What entry `k` of the array holds for a plug-in with these counts.
ChannelEntry channelEntryFor(int k, int inputs, int outputs);

// Whether the host can carry a plug-in with these counts at all.
bool channelCountsInRange(int inputs, int outputs);

class PluginChannels {
public:
    // Sizes the buffers for these counts. The input copies and the discard
    // buffer are always made, so a plug-in that changes its counts later
    // can still be served unless it needs more silent buffers.
    void prepare(int inputs, int outputs, int blockFrames = kScratchFrames);
    void release();

    // Runs the plug-in over one block of `pair` in place. When the plug-in
    // declares counts this object cannot serve (changed after `prepare` to
    // out-of-range values or beyond the buffers made), the plug-in is not
    // called and the block is silenced. A plug-in with one output is heard
    // on both sides: its output is copied to the right channel.
    void process(AEffect* effect, float* const* pair, int frames);

    const std::array<float*, kMaxPluginChannels>& entries() const { return channels; }

private:
    bool arrange(int inputs, int outputs);
    size_t scratchLength(int buffers) const;
    float* bufferFor(ChannelEntry entry, int& silentUsed);
    bool processWithScratch(AEffect* effect, float* const* pair, int frames);
    void runPiece(AEffect* effect, float* const* pair, int offset, int frames);

    // The fields the plain case reads come first, next to the array's first
    // entries.
    int scratchFrames = kScratchFrames;
    int arrangedInputs = -1;
    int arrangedOutputs = -1;
    bool servable = false;
    bool pairOnly = false; // servable with the pair alone: no scratch buffer in use
    int pairEntries = 0;
    bool copiesInput = false;
    bool usesScratch = false;
    int silenceBegin = 0;
    int silenceEnd = 0;
    std::array<float*, kMaxPluginChannels> channels{};
    // The scratch entries as arranged, put back before every call.
    std::array<float*, kMaxPluginChannels> scratchEntries{};
    int scratchEnd = 0;
    std::vector<float> copyLeft;
    std::vector<float> copyRight;
    std::vector<float> discard;
    std::vector<float> silentStore;
};
