// One source for all test plug-ins; the build picks the variant:
//   KS_TEST_SYNTH            instrument: a sine per held note, no inputs
//   KS_TEST_INPUTS=n         number of inputs (default 2, instruments 0)
//   KS_TEST_OUTPUTS=n        number of outputs (default 2)
//   KS_TEST_BAD_MAGIC        the record carries a wrong magic number
//   KS_TEST_NULL_ENTRY       the entry point returns null
//   KS_TEST_THROWING_ENTRY   the entry point throws
//   KS_TEST_FOREIGN_THROW    (Windows) the entry point raises the exception
//                            another compiler's C++ throw raises
//   KS_TEST_MAIN_ONLY        the entry point is exported as "main" only
//   KS_TEST_NO_ENTRY         neither entry point is exported
//   KS_TEST_VENDOR="..."     vendor string
//   KS_TEST_WESTERN_NAME     name and vendor with a space and a letter beyond
//                            ASCII, in the Western (1252) code page
//   KS_TEST_NAMELESS         neither a name nor a product string
// Every effect writes each output from the input of the same number (or from
// input 0 or 1 beyond its inputs; 0.5 without inputs), scaled by parameter 0
// (gain), and then reads every input.

#include "KsTestPlugin.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef KS_TEST_FOREIGN_THROW
#include <windows.h>
#endif

#ifndef KS_TEST_OUTPUTS
#define KS_TEST_OUTPUTS 2
#endif
#ifndef KS_TEST_INPUTS
#ifdef KS_TEST_SYNTH
#define KS_TEST_INPUTS 0
#else
#define KS_TEST_INPUTS 2
#endif
#endif
#ifdef KS_TEST_WESTERN_NAME
#define KS_TEST_NAME "K\xe4strel Pad"
#define KS_TEST_VENDOR "N\xf8rd Audio"
#endif
#ifdef KS_TEST_NAMELESS
#define KS_TEST_NAME ""
#define KS_TEST_PRODUCT ""
#endif
#ifndef KS_TEST_VENDOR
#define KS_TEST_VENDOR "Kestrune"
#endif
#ifndef KS_TEST_NAME
#define KS_TEST_NAME "KsTestEffect"
#endif
#ifndef KS_TEST_PRODUCT
#define KS_TEST_PRODUCT KS_TEST_NAME " Product"
#endif

namespace {

constexpr int kMaxLoggedCalls = 4096;
constexpr int kMaxPendingEvents = 512;
constexpr int kMaxReceivedEvents = 4096;
constexpr int kMaxRequests = 16;
constexpr double kPi = 3.14159265358979323846;

VstIntPtr gEntryTimeAnswer = -1;
bool gSizeUnknownUntilOpen = false; // for the instances made from now on

struct Voice {
    bool held = false;
    double phase = 0.0;
};

struct TestPlugin {
    AEffect effect;
    char gapBeforePrivateEntries[208 - sizeof(AEffect)];
    PluginPrivateProc showAboutScreen;
    PluginPrivateProc showHelp;
    PluginPrivateProc extraCommand;
    PluginKeyFocusProc editorHasKeyFocus;

    audioMasterCallback host = nullptr;
    float gain = 1.0f;
    double sampleRate = 44100.0;
    bool keyFocus = false;
    VstIntPtr keyAnswer = 0; // to effEditKeyDown and effEditKeyUp
    std::vector<char> chunk;

    KsTestCall calls[kMaxLoggedCalls];
    std::atomic<int> callCount{0};

    VstMidiEvent pending[kMaxPendingEvents];
    int pendingCount = 0;
    VstMidiEvent received[kMaxReceivedEvents];
    std::atomic<int> receivedCount{0};
    Voice voices[128];

    KsTestHostRequest requests[kMaxRequests];
    std::atomic<int> requestCount{0};
    KsTestProcessInfo info{};

    std::string holdMarker; // from KS_TEST_HOLD_MARKER
    bool sizeUnknownUntilOpen = gSizeUnknownUntilOpen;
    bool editorOpen = false;
    VstInt32 hookOpcode = -1;
    void (*callHook)(void*) = nullptr;
    void* callHookUser = nullptr;
    bool stateWaitsForTheHold = false; // KS_TEST_HOLD_STATE: the held block keeps the state's lock
    // ksTestScribbleOnHostArrays: after each call, every entry of the channel
    // array and of the event list points at the plug-in's own memory, and
    // each event handed over is marked as SysEx.
    bool scribbles = false;
    VstMidiEvent scribbleEvent{kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {0}, 0, 0, 0, 0};
    std::vector<float> scribbleChannel;
    std::atomic<bool> holding{false};
};

static_assert(offsetof(TestPlugin, showAboutScreen) == kShowAboutScreenOffset);
static_assert(offsetof(TestPlugin, editorHasKeyFocus) == kEditorHasKeyFocusOffset);

TestPlugin* self(AEffect* effect) {
    return reinterpret_cast<TestPlugin*>(effect);
}

void logCall(TestPlugin* plugin, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
             float opt) {
    const int slot = plugin->callCount.load(std::memory_order_relaxed);
    if (slot >= kMaxLoggedCalls)
        return;
    KsTestCall& call = plugin->calls[slot];
    call = KsTestCall{opcode, index, value, opt, {}, ptr != nullptr};
    if (opcode == effCanDo && ptr != nullptr)
        std::strncpy(call.text, static_cast<const char*>(ptr), sizeof(call.text) - 1);
    if (opcode == effSetChunk && ptr != nullptr && value > 0)
        std::memcpy(call.text, ptr,
                    std::min<size_t>(static_cast<size_t>(value), sizeof(call.text)));
    plugin->callCount.store(slot + 1, std::memory_order_release);
}

VstIntPtr copyText(void* ptr, const char* text) {
    std::strncpy(static_cast<char*>(ptr), text, 63);
    return 1;
}

void receiveEvents(TestPlugin* plugin, const VstEvents* events) {
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (event->type != kVstMidiType)
            continue;
        const auto& midi = *reinterpret_cast<const VstMidiEvent*>(event);
        // The log keeps the first events only; benchmarks send millions.
        const int seen = plugin->receivedCount.load(std::memory_order_relaxed);
        if (seen < kMaxReceivedEvents) {
            plugin->received[seen] = midi;
            plugin->receivedCount.store(seen + 1, std::memory_order_release);
        }
        if (plugin->pendingCount < kMaxPendingEvents)
            plugin->pending[plugin->pendingCount++] = midi;
    }
}

void scribbleOnEvents(TestPlugin* plugin, VstEvents* events) {
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        events->events[i]->type = kVstSysExType;
        events->events[i] = reinterpret_cast<VstEvent*>(&plugin->scribbleEvent);
    }
}

VstIntPtr getChunk(TestPlugin* plugin, void* ptr) {
    while (plugin->stateWaitsForTheHold && plugin->holding.load())
        std::this_thread::sleep_for(std::chrono::seconds(1));
    if (plugin->chunk.empty()) {
        const char initial[] = "KSTESTCHUNK";
        plugin->chunk.assign(initial, initial + sizeof(initial));
    }
    *static_cast<void**>(ptr) = plugin->chunk.data();
    return static_cast<VstIntPtr>(plugin->chunk.size());
}

VstIntPtr setChunk(TestPlugin* plugin, VstIntPtr size, void* ptr) {
    const char* bytes = static_cast<const char*>(ptr);
    plugin->chunk.assign(bytes, bytes + size);
    return 1;
}

// Every test plug-in takes MIDI; the effects also send it (on request).
bool canDo(const char* capability) {
    if (std::strcmp(capability, "receiveVstMidiEvent") == 0)
        return true;
#ifndef KS_TEST_SYNTH
    if (std::strcmp(capability, "sendVstMidiEvent") == 0)
        return true;
#endif
    return false;
}

// The log of the plug-in closed last, for tests of what a host does up to
// and including effClose.
KsTestCall gClosedCalls[kMaxLoggedCalls];
int gClosedCallCount = 0;

void destroy(TestPlugin* plugin) {
    gClosedCallCount = plugin->callCount.load(std::memory_order_acquire);
    std::memcpy(gClosedCalls, plugin->calls,
                sizeof(KsTestCall) * static_cast<size_t>(gClosedCallCount));
    plugin->~TestPlugin();
    ::operator delete(plugin);
}

VstIntPtr dispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt) {
    TestPlugin* plugin = self(effect);
    logCall(plugin, opcode, index, value, ptr, opt);
    static ERect rect{0, 0, 300, 400};
    if (opcode == plugin->hookOpcode)
        if (auto hook = std::exchange(plugin->callHook, nullptr))
            hook(plugin->callHookUser);
    switch (opcode) {
    case effEditClose:
        return 1;
    case effClose:
        destroy(plugin);
        return 1;
    case effSetSampleRate:
        plugin->sampleRate = opt;
        return 0;
    case effEditGetRect:
        if (plugin->sizeUnknownUntilOpen && !plugin->editorOpen) {
            *static_cast<ERect**>(ptr) = nullptr;
            return 0;
        }
        *static_cast<ERect**>(ptr) = &rect;
        return 1;
    case effEditOpen:
        plugin->editorOpen = true;
        return 1;
    case effGetChunk:
        return getChunk(plugin, ptr);
    case effSetChunk:
        return setChunk(plugin, value, ptr);
    case effProcessEvents:
        receiveEvents(plugin, static_cast<const VstEvents*>(ptr));
        if (plugin->scribbles)
            scribbleOnEvents(plugin, static_cast<VstEvents*>(ptr));
        return 1;
    case effGetEffectName:
        return copyText(ptr, KS_TEST_NAME);
    case effGetVendorString:
        return copyText(ptr, KS_TEST_VENDOR);
    case effGetProductString:
        return copyText(ptr, KS_TEST_PRODUCT);
    case effGetVendorVersion:
        return 1234;
    case effCanDo:
        return canDo(static_cast<const char*>(ptr)) ? 1 : 0;
    case effEditKeyDown:
    case effEditKeyUp:
        return plugin->keyAnswer;
    default:
        return 0;
    }
}

void setParameter(AEffect* effect, VstInt32 index, float value) {
    if (index == 0)
        self(effect)->gain = value;
}

float getParameter(AEffect* effect, VstInt32 index) {
    return index == 0 ? self(effect)->gain : 0.0f;
}

void sendMidiOut(TestPlugin* plugin, const KsTestHostRequest& request) {
    VstMidiEvent midi{};
    midi.type = kVstMidiType;
    midi.byteSize = sizeof(VstMidiEvent);
    std::memcpy(midi.midiData, request.midi, 3);
    char sysexBytes[] = {char(0xF0), 0x7E, char(0xF7)};
    VstMidiSysexEvent sysex{};
    sysex.type = kVstSysExType;
    sysex.byteSize = sizeof(VstMidiSysexEvent);
    sysex.dumpBytes = 3;
    sysex.sysexDump = sysexBytes;
    struct {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[2];
    } block{};
    if (request.withSysex || request.sysexOnly)
        block.events[block.numEvents++] = reinterpret_cast<VstEvent*>(&sysex);
    if (!request.sysexOnly)
        block.events[block.numEvents++] = reinterpret_cast<VstEvent*>(&midi);
    plugin->info.lastRequestResult =
        plugin->host(&plugin->effect, audioMasterProcessEvents, 0, 0, &block, 0.0f);
}

void performRequests(TestPlugin* plugin) {
    const int count = plugin->requestCount.exchange(0, std::memory_order_acquire);
    for (int i = 0; i < count && i < kMaxRequests; ++i) {
        const KsTestHostRequest& request = plugin->requests[i];
        if (request.opcode == audioMasterProcessEvents) {
            sendMidiOut(plugin, request);
            continue;
        }
        plugin->info.lastRequestResult = plugin->host(
            &plugin->effect, request.opcode, request.index, request.value, nullptr, request.opt);
    }
}

void recordBlock(TestPlugin* plugin, float** inputs, float** outputs, VstInt32 frames) {
    KsTestProcessInfo& info = plugin->info;
    info.processCalls++;
    info.lastFrames = frames;
    info.inputsAreOutputs = inputs == outputs;
    const int declared = std::max(plugin->effect.numInputs, plugin->effect.numOutputs);
    const int recorded = std::min(std::max(8, declared), kKsTestRecordedChannels);
    for (int i = 0; i < recorded; ++i)
        info.channelPointers[i] = outputs[i];
    const auto* time = reinterpret_cast<const VstTimeInfo*>(
        plugin->host(&plugin->effect, audioMasterGetTime, 0, 0, nullptr, 0.0f));
    info.hadTimeInfo = time != nullptr;
    if (time != nullptr)
        info.timeInfo = *time;
}

#ifdef KS_TEST_SYNTH
void applyMidi(TestPlugin* plugin, const VstMidiEvent& event) {
    const int status = static_cast<unsigned char>(event.midiData[0]) & 0xF0;
    const int note = event.midiData[1] & 0x7F;
    const int velocity = event.midiData[2] & 0x7F;
    if (status == 0x90 && velocity > 0) {
        plugin->voices[note].held = true;
        plugin->voices[note].phase = 0.0;
    } else if (status == 0x80 || status == 0x90) {
        plugin->voices[note].held = false;
    }
}

void renderVoices(TestPlugin* plugin, float** outputs, VstInt32 from, VstInt32 to) {
    for (int note = 0; note < 128; ++note) {
        Voice& voice = plugin->voices[note];
        if (!voice.held)
            continue;
        const double step =
            2.0 * kPi * 440.0 * std::pow(2.0, (note - 69) / 12.0) / plugin->sampleRate;
        for (VstInt32 i = from; i < to; ++i) {
            const float sample = 0.2f * static_cast<float>(std::sin(voice.phase));
            for (int c = 0; c < plugin->effect.numOutputs; ++c)
                outputs[c][i] += sample * plugin->gain;
            voice.phase = std::fmod(voice.phase + step, 2.0 * kPi);
        }
    }
}

// Renders the block in segments so each event takes effect at its frame.
void synthesize(TestPlugin* plugin, float** outputs, VstInt32 frames) {
    for (int c = 0; c < plugin->effect.numOutputs; ++c)
        std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(frames));
    VstInt32 position = 0;
    for (int i = 0; i < plugin->pendingCount; ++i) {
        const VstInt32 at = std::clamp(plugin->pending[i].deltaFrames, position, frames);
        renderVoices(plugin, outputs, position, at);
        applyMidi(plugin, plugin->pending[i]);
        position = at;
    }
    renderVoices(plugin, outputs, position, frames);
    plugin->pendingCount = 0;
}
#endif

[[maybe_unused]] void writeOutputs(TestPlugin* plugin, float** inputs, float** outputs,
                                   VstInt32 frames) {
    const int inputCount = plugin->effect.numInputs;
    for (int c = 0; c < plugin->effect.numOutputs; ++c) {
        float* out = outputs[c];
        if (inputCount == 0) {
            std::fill(out, out + frames, 0.5f * plugin->gain);
            continue;
        }
        const float* in = inputs[c < inputCount ? c : c % std::min(inputCount, 2)];
        for (VstInt32 i = 0; i < frames; ++i)
            out[i] = in[i] * plugin->gain;
    }
}

void readInputs(TestPlugin* plugin, float** inputs, VstInt32 frames) {
    for (int k = 0; k < plugin->effect.numInputs; ++k) {
        double sum = 0.0;
        for (VstInt32 i = 0; i < frames; ++i)
            sum += inputs[k][i];
        if (k < 8)
            plugin->info.inputSums[k] = sum;
    }
}

// With a hold marker, for a program run whole: after some blocks the
// processing never returns, as a plug-in stuck in it, and the marker file
// tells that it holds.
void holdWhenMarked(TestPlugin* plugin) {
    constexpr int kBlocksBeforeTheHold = 20;
    if (plugin->holdMarker.empty() || plugin->info.processCalls < kBlocksBeforeTheHold)
        return;
    plugin->holding.store(true);
    if (std::FILE* marker = std::fopen(plugin->holdMarker.c_str(), "w"))
        std::fclose(marker);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    TestPlugin* plugin = self(effect);
    holdWhenMarked(plugin);
    recordBlock(plugin, inputs, outputs, frames);
#ifdef KS_TEST_SYNTH
    synthesize(plugin, outputs, frames);
#else
    writeOutputs(plugin, inputs, outputs, frames);
    plugin->pendingCount = 0;
#endif
    readInputs(plugin, inputs, frames);
    performRequests(plugin);
    if (plugin->scribbles) {
        const int declared = std::max(effect->numInputs, effect->numOutputs);
        for (int i = 0; i < declared; ++i)
            outputs[i] = plugin->scribbleChannel.data();
    }
}

void logPrivate(AEffect* effect, VstInt32 pseudoOpcode) {
    logCall(self(effect), pseudoOpcode, 0, 0, nullptr, 0.0f);
}
void showAboutScreen(AEffect* effect) {
    logPrivate(effect, ksTestShowAbout);
}
void showHelp(AEffect* effect) {
    logPrivate(effect, ksTestShowHelp);
}
void extraCommand(AEffect* effect) {
    logPrivate(effect, ksTestExtraCommand);
}
bool editorHasKeyFocus(AEffect* effect) {
    logPrivate(effect, ksTestKeyFocusAsked);
    return self(effect)->keyFocus;
}

TestPlugin* newPlugin(audioMasterCallback host) {
#ifdef KS_TEST_BAD_MAGIC
    // The host never calls a record with a bad magic number again, so it
    // could never be closed: it lives in static storage instead of leaking.
    static TestPlugin unclosable;
    TestPlugin* plugin = &unclosable;
#else
    auto* plugin = new (::operator new(sizeof(TestPlugin))) TestPlugin{};
#endif
    AEffect& effect = plugin->effect;
#ifdef KS_TEST_BAD_MAGIC
    effect.magic = 0x12345678;
#else
    effect.magic = kEffectMagic;
#endif
    effect.dispatcher = dispatcher;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.processReplacing = processReplacing;
    effect.numParams = 1;
    effect.numPrograms = 1;
    effect.numOutputs = KS_TEST_OUTPUTS;
    effect.numInputs = KS_TEST_INPUTS;
#ifdef KS_TEST_SYNTH
    effect.flags = effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth;
#else
    effect.flags = effFlagsCanReplacing | effFlagsProgramChunks;
#endif
    effect.uniqueID = 0x4B735478;
    effect.version = 1;
    plugin->showAboutScreen = showAboutScreen;
    plugin->showHelp = showHelp;
    plugin->extraCommand = extraCommand;
    plugin->editorHasKeyFocus = editorHasKeyFocus;
    plugin->host = host;
    return plugin;
}

[[maybe_unused]] AEffect* createPlugin(audioMasterCallback host) {
    TestPlugin* plugin = newPlugin(host);
    if (const char* marker = std::getenv("KS_TEST_HOLD_MARKER"))
        plugin->holdMarker = marker;
    plugin->stateWaitsForTheHold = std::getenv("KS_TEST_HOLD_STATE") != nullptr;
    // A plug-in asking for the time inside its entry point is not known to
    // the host yet; the answer is kept for the tests.
    gEntryTimeAnswer = host(&plugin->effect, audioMasterGetTime, 0, 0, nullptr, 0.0f);
#if defined(KS_TEST_NULL_ENTRY) || defined(KS_TEST_THROWING_ENTRY) || defined(KS_TEST_FOREIGN_THROW)
    destroy(plugin);
#endif
#ifdef KS_TEST_FOREIGN_THROW
    // The C++ exception code, its magic number first among the arguments.
    const ULONG_PTR arguments[4] = {0x19930520, 0, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, arguments);
#endif
#ifdef KS_TEST_NULL_ENTRY
    return nullptr;
#endif
#ifdef KS_TEST_THROWING_ENTRY
    throw std::runtime_error("entry point refuses to start");
#endif
    return &plugin->effect;
}

} // namespace

#if defined(KS_TEST_MAIN_ONLY)
// "main" cannot be a C++ function name; the assembler label gives the export.
KS_TEST_EXPORT AEffect* ksTestMainEntry(audioMasterCallback host) __asm__("main");
KS_TEST_EXPORT AEffect* ksTestMainEntry(audioMasterCallback host) {
    return createPlugin(host);
}
#elif !defined(KS_TEST_NO_ENTRY)
KS_TEST_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    return createPlugin(host);
}
#endif

KS_TEST_EXPORT int ksTestCallCount(AEffect* effect) {
    return self(effect)->callCount.load(std::memory_order_acquire);
}

KS_TEST_EXPORT int ksTestCalls(AEffect* effect, KsTestCall* out, int max) {
    TestPlugin* plugin = self(effect);
    const int count = std::min(plugin->callCount.load(std::memory_order_acquire), max);
    std::memcpy(out, plugin->calls, sizeof(KsTestCall) * static_cast<size_t>(count));
    return count;
}

KS_TEST_EXPORT void ksTestClearCalls(AEffect* effect) {
    self(effect)->callCount.store(0, std::memory_order_release);
}

KS_TEST_EXPORT VstIntPtr ksTestCallHost(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                        VstIntPtr value, void* ptr, float opt) {
    return self(effect)->host(effect, opcode, index, value, ptr, opt);
}

KS_TEST_EXPORT int ksTestQueueHostCall(AEffect* effect, const KsTestHostRequest* request) {
    TestPlugin* plugin = self(effect);
    const int slot = plugin->requestCount.load(std::memory_order_relaxed);
    if (slot >= kMaxRequests)
        return 0;
    plugin->requests[slot] = *request;
    plugin->requestCount.store(slot + 1, std::memory_order_release);
    return 1;
}

KS_TEST_EXPORT void ksTestProcessInfo(AEffect* effect, KsTestProcessInfo* out) {
    *out = self(effect)->info;
}

KS_TEST_EXPORT int ksTestReceivedEvents(AEffect* effect, VstMidiEvent* out, int max) {
    TestPlugin* plugin = self(effect);
    const int count = plugin->receivedCount.load(std::memory_order_acquire);
    const int copied = std::min({count, max, kMaxReceivedEvents});
    std::memcpy(out, plugin->received, sizeof(VstMidiEvent) * static_cast<size_t>(copied));
    return count;
}

KS_TEST_EXPORT VstIntPtr ksTestEntryTimeAnswer() {
    return gEntryTimeAnswer;
}

KS_TEST_EXPORT void ksTestSetKeyFocus(AEffect* effect, bool focus) {
    self(effect)->keyFocus = focus;
}

KS_TEST_EXPORT void ksTestSetKeyAnswer(AEffect* effect, VstIntPtr answer) {
    self(effect)->keyAnswer = answer;
}

KS_TEST_EXPORT void ksTestSetChannels(AEffect* effect, VstInt32 inputs, VstInt32 outputs) {
    effect->numInputs = inputs;
    effect->numOutputs = outputs;
}

KS_TEST_EXPORT void ksTestScribbleOnHostArrays(AEffect* effect) {
    self(effect)->scribbleChannel.assign(1 << 16, 0.0f);
    self(effect)->scribbles = true;
}

KS_TEST_EXPORT void ksTestSizeUnknownUntilOpen(bool unknown) {
    gSizeUnknownUntilOpen = unknown;
}

KS_TEST_EXPORT void ksTestSetCallHook(AEffect* effect, VstInt32 opcode, void (*hook)(void*),
                                      void* user) {
    self(effect)->hookOpcode = opcode;
    self(effect)->callHookUser = user;
    self(effect)->callHook = hook;
}

KS_TEST_EXPORT int ksTestClosedCalls(KsTestCall* out, int max) {
    const int count = std::min(gClosedCallCount, max);
    std::memcpy(out, gClosedCalls, sizeof(KsTestCall) * static_cast<size_t>(count));
    return count;
}
