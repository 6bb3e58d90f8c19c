#include "PluginChannels.h"

#include <algorithm>
#include <cstring>

namespace {

int pairEntriesFor(int outputs) {
    return outputs <= kRepeatedPairChannels ? (outputs + 1) / 2 * 2 : 2;
}

int silentEntriesFor(int inputs, int outputs) {
    return std::max(0, std::min(inputs, outputs) - pairEntriesFor(outputs));
}

void copyFrames(float* to, const float* from, int frames) {
    std::memcpy(to, from, sizeof(float) * static_cast<size_t>(frames));
}

void clearFrames(float* to, int frames) {
    std::memset(to, 0, sizeof(float) * static_cast<size_t>(frames));
}

} // namespace

bool channelCountsInRange(int inputs, int outputs) {
    return inputs >= 0 && outputs >= 0 && inputs <= kMaxPluginChannels &&
           outputs <= kMaxPluginChannels;
}

ChannelEntry channelEntryFor(int k, int inputs, int outputs) {
    if (k < pairEntriesFor(outputs))
        return k % 2 == 0 ? ChannelEntry::pairLeft : ChannelEntry::pairRight;
    if (k >= std::max({inputs, outputs, 2}))
        return ChannelEntry::unused;
    if (k < outputs)
        return k < inputs ? ChannelEntry::silence : ChannelEntry::discard;
    return k % 2 == 0 ? ChannelEntry::copyLeft : ChannelEntry::copyRight;
}

size_t PluginChannels::scratchLength(int buffers) const {
    return static_cast<size_t>(buffers) * static_cast<size_t>(scratchFrames);
}

void PluginChannels::prepare(int inputs, int outputs, int blockFrames) {
    release();
    scratchFrames = std::max(kScratchFrames, blockFrames);
    copyLeft.assign(static_cast<size_t>(scratchFrames), 0.0f);
    copyRight.assign(static_cast<size_t>(scratchFrames), 0.0f);
    discard.assign(static_cast<size_t>(scratchFrames), 0.0f);
    if (channelCountsInRange(inputs, outputs))
        silentStore.assign(scratchLength(silentEntriesFor(inputs, outputs)), 0.0f);
    servable = arrange(inputs, outputs);
}

void PluginChannels::release() {
    channels.fill(nullptr);
    arrangedInputs = -1;
    arrangedOutputs = -1;
    servable = false;
    pairOnly = false;
    copyLeft = {};
    copyRight = {};
    discard = {};
    silentStore = {};
}

float* PluginChannels::bufferFor(ChannelEntry entry, int& silentUsed) {
    switch (entry) {
    case ChannelEntry::copyLeft:
        return copyLeft.empty() ? nullptr : copyLeft.data();
    case ChannelEntry::copyRight:
        return copyRight.empty() ? nullptr : copyRight.data();
    case ChannelEntry::discard:
        return discard.empty() ? nullptr : discard.data();
    case ChannelEntry::silence:
        if (scratchLength(silentUsed + 1) > silentStore.size())
            return nullptr;
        return silentStore.data() + scratchLength(silentUsed++);
    default:
        return nullptr;
    }
}

// Builds the array for these counts from the buffers already made; false
// when they do not suffice. Pair entries are filled per block.
bool PluginChannels::arrange(int inputs, int outputs) {
    arrangedInputs = inputs;
    arrangedOutputs = outputs;
    pairOnly = false;
    channels.fill(nullptr);
    if (!channelCountsInRange(inputs, outputs))
        return false;
    pairEntries = pairEntriesFor(outputs);
    copiesInput = false;
    usesScratch = false;
    silenceBegin = silenceEnd = scratchEnd = pairEntries;
    int silentUsed = 0;
    for (int k = pairEntries; k < kMaxPluginChannels; ++k) {
        const ChannelEntry entry = channelEntryFor(k, inputs, outputs);
        if (entry == ChannelEntry::unused)
            break;
        channels[static_cast<size_t>(k)] = bufferFor(entry, silentUsed);
        if (channels[static_cast<size_t>(k)] == nullptr)
            return false;
        scratchEntries[static_cast<size_t>(k)] = channels[static_cast<size_t>(k)];
        scratchEnd = k + 1;
        usesScratch = true;
        copiesInput |= entry == ChannelEntry::copyLeft || entry == ChannelEntry::copyRight;
        if (entry == ChannelEntry::silence)
            silenceEnd = k + 1;
    }
    pairOnly = !usesScratch;
    return true;
}

void PluginChannels::runPiece(AEffect* effect, float* const* pair, int offset, int frames) {
    // The plug-in may have written into the array it was handed.
    std::copy(scratchEntries.begin() + pairEntries, scratchEntries.begin() + scratchEnd,
              channels.begin() + pairEntries);
    if (copiesInput) {
        copyFrames(copyLeft.data(), pair[0] + offset, frames);
        copyFrames(copyRight.data(), pair[1] + offset, frames);
    }
    for (int k = silenceBegin; k < silenceEnd; ++k)
        clearFrames(channels[static_cast<size_t>(k)], frames);
    for (int k = 0; k < pairEntries; k += 2) {
        channels[static_cast<size_t>(k)] = pair[0] + offset;
        channels[static_cast<size_t>(k) + 1] = pair[1] + offset;
    }
    effect->processReplacing(effect, channels.data(), channels.data(), frames);
}

void PluginChannels::process(AEffect* effect, float* const* pair, int frames) {
    // The plain case (the pair alone, counts as arranged) runs first and
    // straight: it is the common one and runs once per block.
    if (pairOnly && effect->numInputs == arrangedInputs && effect->numOutputs == arrangedOutputs &&
        frames > 0) {
        for (int k = 0; k < pairEntries; k += 2) {
            channels[static_cast<size_t>(k)] = pair[0];
            channels[static_cast<size_t>(k) + 1] = pair[1];
        }
        effect->processReplacing(effect, channels.data(), channels.data(), frames);
    } else if (!processWithScratch(effect, pair, frames)) {
        return;
    }
    if (arrangedOutputs == 1 && pair[1] != pair[0])
        copyFrames(pair[1], pair[0], frames);
}

// The other cases: counts changed since the last block, scratch buffers in
// use, or a shape that cannot be served. False when the plug-in was not run.
bool PluginChannels::processWithScratch(AEffect* effect, float* const* pair, int frames) {
    if (frames <= 0)
        return false;
    if (effect->numInputs != arrangedInputs || effect->numOutputs != arrangedOutputs)
        servable = arrange(effect->numInputs, effect->numOutputs);
    if (!servable) {
        clearFrames(pair[0], frames);
        clearFrames(pair[1], frames);
        return false;
    }
    for (int offset = 0; offset < frames; offset += scratchFrames)
        runPiece(effect, pair, offset, std::min(scratchFrames, frames - offset));
    return true;
}
