#include "KsVSTHostLib.h"

#include "GuardedCall.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr VstIntPtr kHostVstVersion = 2400;
constexpr const char* kHostVendor = "Kestrune";
constexpr const char* kHostProduct = "Kestrune Standalone";

constexpr const char* kHostCanDo[] = {
    "supplyIdle",      "sendVstEvents",    "sendVstMidiEvent",
    "sendVstTimeInfo", "receiveVstEvents", "receiveVstMidiEvent",
    "supportShell",    "shellCategory",    "sizeWindow",
};

std::vector<std::pair<AEffect*, HostRecord*>>& pairs() {
    static std::vector<std::pair<AEffect*, HostRecord*>> table;
    return table;
}

bool hostCanDo(const void* ptr) {
    if (ptr == nullptr)
        return false;
    const char* asked = static_cast<const char*>(ptr);
    for (const char* capability : kHostCanDo) {
        if (std::strcmp(asked, capability) == 0)
            return true;
    }
    return false;
}

VstIntPtr passMidiOut(HostRecord* record, const void* ptr) {
    if (record == nullptr || ptr == nullptr)
        return 0;
    const auto* events = static_cast<const VstEvents*>(ptr);
    VstIntPtr passed = 0;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        const MidiOutHook hook = record->midiOutHook.load();
        if (event == nullptr || event->type != kVstMidiType || hook == nullptr)
            continue;
        hook(*reinterpret_cast<const VstMidiEvent*>(event), record->midiOutUserData.load());
        passed = 1;
    }
    return passed;
}

VstIntPtr resizeWindow(HostRecord* record) {
    const ResizeHook hook = record == nullptr ? nullptr : record->resizeHook.load();
    if (hook == nullptr)
        return 0;
    hook(record->resizeUserData.load());
    return 1;
}

VstIntPtr setHostTempo(HostRecord* record, float bpm) {
    const TempoHook hook = record == nullptr ? nullptr : record->tempoHook.load();
    if (hook == nullptr)
        return 0;
    hook(static_cast<double>(bpm), record->tempoUserData.load());
    return 1;
}

VstIntPtr setHostTransport(HostRecord* record, VstInt32 playing) {
    const TransportHook hook = record == nullptr ? nullptr : record->transportHook.load();
    if (hook != nullptr) {
        hook(playing != 0, record->transportUserData.load());
    } else if (record != nullptr) {
        if (playing != 0)
            record->timeInfo.flags |= kVstTransportPlaying;
        else
            record->timeInfo.flags &= ~kVstTransportPlaying;
        record->timeInfo.ppqPos = 0.0;
    }
    return 1;
}

VstIntPtr writeText(void* ptr, const char* text) {
    if (ptr == nullptr)
        return 0;
    std::strcpy(static_cast<char*>(ptr), text);
    return 1;
}

} // namespace

HostRecord::HostRecord() : timeInfo{} {
    timeInfo.sampleRate = 44100.0;
    timeInfo.tempo = 120.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.smpteFrameRate = kVstSmpte25fps;
    timeInfo.flags = kVstPpqPosValid | kVstTempoValid;
}

void HostRecord::clearHooks() {
    midiOutHook = nullptr;
    midiOutUserData = nullptr;
    tempoHook = nullptr;
    tempoUserData = nullptr;
    resizeHook = nullptr;
    resizeUserData = nullptr;
    transportHook = nullptr;
    transportUserData = nullptr;
}

namespace hostTable {

void append(AEffect* effect, HostRecord* record) {
    pairs().emplace_back(effect, record);
}

bool removeRecord(HostRecord* record) {
    auto& table = pairs();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->second == record) {
            table.erase(it);
            return true;
        }
    }
    return false;
}

HostRecord* find(const AEffect* effect) {
    for (const auto& [candidate, record] : pairs()) {
        if (candidate == effect)
            return record;
    }
    return nullptr;
}

size_t size() {
    return pairs().size();
}

} // namespace hostTable

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr /*value*/,
                       void* ptr, float opt) {
    HostRecord* record = hostTable::find(effect);
    switch (opcode) {
    case audioMasterVersion:
        return kHostVstVersion;
    case audioMasterGetTime:
        return record != nullptr ? reinterpret_cast<VstIntPtr>(&record->timeInfo) : 0;
    case audioMasterProcessEvents:
        return passMidiOut(record, ptr);
    case audioMasterSizeWindow:
        return resizeWindow(record);
    case audioMasterGetVendorString:
        return writeText(ptr, kHostVendor);
    case audioMasterGetProductString:
        return writeText(ptr, kHostProduct);
    case audioMasterCanDo:
        return hostCanDo(ptr) ? 1 : 0;
    case audioMasterSetHostTempo:
        return setHostTempo(record, opt);
    case audioMasterSetHostTransport:
        return setHostTransport(record, index);
    default:
        return 0;
    }
}

std::string pluginPathForModule(const std::string& modulePath) {
    const auto at = modulePath.find(".exe");
    if (at == std::string::npos)
        return {};
    std::string path = modulePath;
    path.replace(at, 4, ".dll");
    return path;
}

std::string pluginLibraryPath() {
    return pluginPathForModule(platform::executablePath());
}

const char* describeLoadFailure(PluginLoadFailure failure) {
    switch (failure) {
    case PluginLoadFailure::none:
        return "loaded";
    case PluginLoadFailure::fileNotFound:
        return "file not found";
    case PluginLoadFailure::notALibrary:
        return "not a loadable library";
    case PluginLoadFailure::noEntryPoint:
        return "no VSTPluginMain or main export";
    case PluginLoadFailure::entryReturnedNull:
        return "entry point returned no plug-in";
    case PluginLoadFailure::entryThrew:
        return "entry point raised an exception";
    case PluginLoadFailure::badMagic:
        return "not a VST 2 plug-in (bad magic number)";
    case PluginLoadFailure::tooManyChannels:
        return "more than 256 input or output channels";
    case PluginLoadFailure::incompleteRecord:
        return "plug-in has no dispatcher or 32-bit processReplacing";
    case PluginLoadFailure::negativeChannelCount:
        return "negative number of input or output channels";
    }
    return "unknown failure";
}

namespace {

VstPluginEntryProc findEntryPoint(const platform::DynamicLibrary& library) {
    void* entry = library.symbol("VSTPluginMain");
    if (entry == nullptr)
        entry = library.symbol("main");
    return reinterpret_cast<VstPluginEntryProc>(entry);
}

struct EntryCall {
    VstPluginEntryProc entry;
    AEffect* effect;
};

void callEntry(void* context) {
    auto* call = static_cast<EntryCall*>(context);
    call->effect = call->entry(hostCallback);
}

// A plug-in built by another compiler throws exceptions our `catch` cannot
// see; the guard turns those into the same refusal.
AEffect* callEntryPoint(VstPluginEntryProc entry, PluginLoadFailure& failure) {
    EntryCall call{entry, nullptr};
    bool completed = false;
    try {
        completed = platform::callGuarded(callEntry, &call);
    } catch (...) {
    }
    if (!completed) {
        failure = PluginLoadFailure::entryThrew;
        return nullptr;
    }
    if (call.effect == nullptr)
        failure = PluginLoadFailure::entryReturnedNull;
    return call.effect;
}

// Checks what the host relies on beyond the magic number. A plug-in that
// fails them would crash the host at its first block, so it is refused here.
PluginLoadFailure checkEffectRecord(const AEffect& effect) {
    if (effect.magic != kEffectMagic)
        return PluginLoadFailure::badMagic;
    if (effect.dispatcher == nullptr || effect.processReplacing == nullptr)
        return PluginLoadFailure::incompleteRecord;
    if (effect.numInputs < 0 || effect.numOutputs < 0)
        return PluginLoadFailure::negativeChannelCount;
    if (!channelCountsInRange(effect.numInputs, effect.numOutputs))
        return PluginLoadFailure::tooManyChannels;
    return PluginLoadFailure::none;
}

} // namespace

LoadedPlugin loadPlugin(const std::string& path, HostRecord& record) {
    LoadedPlugin loaded;
    platform::LibraryLoadError error = platform::LibraryLoadError::none;
    loaded.library = platform::DynamicLibrary::load(path, &error);
    if (!loaded.library.isLoaded()) {
        loaded.failure = error == platform::LibraryLoadError::fileNotFound
                             ? PluginLoadFailure::fileNotFound
                             : PluginLoadFailure::notALibrary;
        return loaded;
    }
    const VstPluginEntryProc entry = findEntryPoint(loaded.library);
    if (entry == nullptr) {
        loaded.failure = PluginLoadFailure::noEntryPoint;
        return loaded;
    }
    AEffect* effect = callEntryPoint(entry, loaded.failure);
    if (effect == nullptr)
        return loaded;
    loaded.failure = checkEffectRecord(*effect);
    if (loaded.failure != PluginLoadFailure::none) {
        // A valid record with channels the host cannot serve is closed so it
        // can release what it allocated; a bad one is never called again.
        if (loaded.failure == PluginLoadFailure::tooManyChannels ||
            loaded.failure == PluginLoadFailure::negativeChannelCount)
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        loaded.library.free();
        return loaded;
    }
    hostTable::append(effect, &record);
    loaded.effect = effect;
    return loaded;
}

KsVSTHostLib::~KsVSTHostLib() {
    KsVSTHostLib::unload();
}

AEffect* KsVSTHostLib::load(const std::string& path) {
    unload();
    LoadedPlugin loaded = loadPlugin(path, record);
    effect = loaded.effect;
    module = std::move(loaded.library);
    lastFailure = loaded.failure;
    if (effect != nullptr)
        channels.prepare(effect->numInputs, effect->numOutputs);
    return effect;
}

void KsVSTHostLib::prepareChannels(int blockFrames) {
    if (effect != nullptr)
        channels.prepare(effect->numInputs, effect->numOutputs, blockFrames);
}

void KsVSTHostLib::unload() {
    record.clearHooks();
    hostTable::removeRecord(&record);
    effect = nullptr;
    channels.release();
    module.free();
}

void KsVSTHostLib::process(float** /*inputs*/, float** outputs, int frames) {
    if (effect != nullptr)
        channels.process(effect, outputs, frames);
}
