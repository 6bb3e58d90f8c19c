#pragma once

// Loading the one hosted plug-in and answering its calls to the host.
//
// Threads: loading, unloading and hook installation run on the window thread
// while no audio runs. `process` and the host callback run on whatever thread
// the engine or the plug-in calls them from (window or audio thread); they take
// no lock and allocate nothing.

#include "DynamicLibrary.h"
#include "PluginChannels.h"
#include "vst2.h"

#include <atomic>
#include <string>

using MidiOutHook = void (*)(const VstMidiEvent& event, void* userData);
using TempoHook = void (*)(double bpm, void* userData);
using ResizeHook = void (*)(void* userData);
using TransportHook = void (*)(bool playing, void* userData);

// What the host callback answers a plug-in from: its time info and the hooks
// through which the engine and the main window hear the plug-in.
//
// The plug-in calls from the audio thread while the window thread installs
// and removes hooks: each hook is stored after its user data and read
// before it, so a hook seen is never called with user data not yet there.
struct HostRecord {
    HostRecord();

    VstTimeInfo timeInfo;
    std::atomic<MidiOutHook> midiOutHook{nullptr};
    std::atomic<void*> midiOutUserData{nullptr};
    std::atomic<TempoHook> tempoHook{nullptr};
    std::atomic<void*> tempoUserData{nullptr};
    std::atomic<ResizeHook> resizeHook{nullptr};
    std::atomic<void*> resizeUserData{nullptr};
    // With a transport hook the engine applies the plug-in's transport
    // requests itself, in its cycle; without one they change `timeInfo` here.
    std::atomic<TransportHook> transportHook{nullptr};
    std::atomic<void*> transportUserData{nullptr};

    void clearHooks();
};

// The process-wide list of (plug-in, record) pairs the host callback looks
// callers up in. Changed only while no audio runs.
namespace hostTable {
void append(AEffect* effect, HostRecord* record);
// Removes the first pair whose record is `record`; false if there is none.
bool removeRecord(HostRecord* record);
// The record of the first pair whose plug-in is `effect`, or null.
HostRecord* find(const AEffect* effect);
size_t size();
} // namespace hostTable

// The callback every plug-in of this host receives.
VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                       float opt);

// The plug-in library that belongs to an executable: the first ".exe" in the
// path (case-sensitive, from the start) becomes ".dll". A path without ".exe"
// yields an empty string: there is no library to look for, and loading the
// executable itself as a plug-in must never be tried.
std::string pluginPathForModule(const std::string& modulePath);

// The plug-in library beside the running program.
std::string pluginLibraryPath();

enum class PluginLoadFailure {
    none,
    fileNotFound,
    notALibrary,
    noEntryPoint,
    entryReturnedNull,
    entryThrew,
    badMagic,
    tooManyChannels,
    incompleteRecord,
    negativeChannelCount,
};

// A short text naming a load failure, for tools and messages.
const char* describeLoadFailure(PluginLoadFailure failure);

// A plug-in found and checked, with the library that holds it. The library
// also stays held after a failure of the entry point (no export, null or
// exception), since the plug-in may have started threads or hooks of its own.
struct LoadedPlugin {
    AEffect* effect = nullptr;
    platform::DynamicLibrary library;
    PluginLoadFailure failure = PluginLoadFailure::none;
};

// Loads the library at `path`, calls its entry point with the host callback,
// checks the magic number and the channel counts (0 to kMaxPluginChannels
// each) and registers (plug-in, record) in the host table.
LoadedPlugin loadPlugin(const std::string& path, HostRecord& record);

// The hosted plug-in's library object. One per plug-in; the record it embeds
// is what the host callback answers that plug-in from.
class KsVSTHostLib {
public:
    KsVSTHostLib() = default;
    virtual ~KsVSTHostLib();
    KsVSTHostLib(const KsVSTHostLib&) = delete;
    KsVSTHostLib& operator=(const KsVSTHostLib&) = delete;

    // Loads the plug-in at `path` into this object (any previous one is
    // unloaded first). Null on failure; `lastFailure` then says why.
    virtual AEffect* load(const std::string& path);
    // Clears the hooks, forgets the plug-in and frees its library. The
    // plug-in must have been closed by the caller.
    virtual void unload();
    // Sizes the channel buffers again for the plug-in's present counts and
    // blocks of `blockFrames`. Window thread, while no audio runs.
    void prepareChannels(int blockFrames);
    // Runs the plug-in over one block in place: `outputs` is the pair that
    // also holds the input samples on entry. `inputs` is not used. How the
    // plug-in's channels meet the pair is told in PluginChannels.h.
    virtual void process(float** inputs, float** outputs, int frames);

    HostRecord record;
    AEffect* effect = nullptr;
    platform::DynamicLibrary module;
    PluginLoadFailure lastFailure = PluginLoadFailure::none;
    // Sized at load for the plug-in's channel counts.
    PluginChannels channels;
};
