// KsDemoSynth: the demo instrument as a VST 2 plug-in. This file only binds
// the synth, its parameters and its editor to the plug-in interface.

#include "DemoEditor.h"
#include "DemoSynth.h"
#include "EditorWindow.h"
#include "vst2.h"

#include <cstring>
#include <new>

#if defined(_WIN32)
#define KS_DEMO_EXPORT extern "C" __declspec(dllexport)
#else
#define KS_DEMO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr char kName[] = "KsDemoSynth";
constexpr char kVendor[] = "Kestrune";
constexpr VstInt32 kUniqueId = 0x4B734453; // 'KsDS'
constexpr VstInt32 kVersion = 1000;
constexpr int kOutputs = 2;

// The record the host sees: the standard fields, then this vendor's private
// entry points at their fixed offsets.
struct DemoRecord {
    AEffect effect;
    char gapBeforePrivateEntries[kShowAboutScreenOffset - sizeof(AEffect)];
    PluginPrivateProc showAboutScreen;
    PluginPrivateProc showHelp;
    PluginPrivateProc extraCommand;
    PluginKeyFocusProc editorHasKeyFocus;
};

static_assert(offsetof(DemoRecord, showAboutScreen) == kShowAboutScreenOffset);
static_assert(offsetof(DemoRecord, showHelp) == kShowHelpOffset);
static_assert(offsetof(DemoRecord, extraCommand) == kExtraCommandOffset);
static_assert(offsetof(DemoRecord, editorHasKeyFocus) == kEditorHasKeyFocusOffset);

void sendEcho(VstEvents* events, void* user);
void requestSize(int width, int height, void* user);

struct DemoPlugin {
    explicit DemoPlugin(audioMasterCallback host) : host(host), editor(synth, requestSize, this) {
        synth.setEchoSender(sendEcho, this);
    }

    DemoRecord record{};
    audioMasterCallback host;
    demo::DemoSynth synth;
    demo::DemoEditor editor;
    demo::ChunkBytes chunk{};
};

DemoPlugin* self(AEffect* effect) {
    return static_cast<DemoPlugin*>(effect->object);
}

void sendEcho(VstEvents* events, void* user) {
    auto* plugin = static_cast<DemoPlugin*>(user);
    plugin->host(&plugin->record.effect, audioMasterProcessEvents, 0, 0, events, 0.0f);
}

void requestSize(int width, int height, void* user) {
    auto* plugin = static_cast<DemoPlugin*>(user);
    plugin->host(&plugin->record.effect, audioMasterSizeWindow, width, height, nullptr, 0.0f);
}

VstIntPtr copyText(void* ptr, const char* text, size_t capacity) {
    if (ptr == nullptr)
        return 0;
    auto* out = static_cast<char*>(ptr);
    std::strncpy(out, text, capacity - 1);
    out[capacity - 1] = '\0';
    return 1;
}

VstIntPtr parameterText(DemoPlugin* plugin, VstInt32 opcode, VstInt32 index, void* ptr) {
    const demo::ParameterInfo* info = demo::parameterInfo(index);
    if (info == nullptr || ptr == nullptr)
        return 0;
    constexpr size_t capacity = demo::kParameterTextLength + 1;
    if (opcode == effGetParamDisplay) {
        demo::formatParameter(index, plugin->synth.parameters().get(index), static_cast<char*>(ptr),
                              capacity);
        return 1;
    }
    return copyText(ptr, opcode == effGetParamName ? info->name : info->label, capacity);
}

VstIntPtr getChunk(DemoPlugin* plugin, void* ptr) {
    if (ptr == nullptr)
        return 0;
    plugin->chunk = plugin->synth.parameters().chunk();
    *static_cast<void**>(ptr) = plugin->chunk.data();
    return static_cast<VstIntPtr>(plugin->chunk.size());
}

VstIntPtr setChunk(DemoPlugin* plugin, VstIntPtr size, void* ptr) {
    if (size < 0)
        return 0;
    return plugin->synth.parameters().setChunk(ptr, static_cast<size_t>(size)) ? 1 : 0;
}

VstIntPtr editRect(DemoPlugin* plugin, void* ptr) {
    if (ptr == nullptr)
        return 0;
    *static_cast<ERect**>(ptr) = plugin->editor.rect();
    return 1;
}

bool canDo(const char* capability) {
    static const char* const yes[] = {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents",
                                      "sendVstMidiEvent", "hasAboutScreen"};
    if (capability == nullptr)
        return false;
    for (const char* text : yes) {
        if (std::strcmp(capability, text) == 0)
            return true;
    }
    return false;
}

VstIntPtr describe(VstInt32 opcode, void* ptr) {
    switch (opcode) {
    case effGetEffectName:
    case effGetProductString:
        return copyText(ptr, kName, 32);
    case effGetVendorString:
        return copyText(ptr, kVendor, 64);
    case effGetVendorVersion:
        return kVersion;
    case effGetPlugCategory:
        return kPlugCategSynth;
    case effGetVstVersion:
        return 2400;
    case effCanDo:
        return canDo(static_cast<const char*>(ptr)) ? 1 : 0;
    default:
        return 0;
    }
}

VstIntPtr dispatchEditor(DemoPlugin* plugin, VstInt32 opcode, void* ptr) {
    switch (opcode) {
    case effEditGetRect:
        return editRect(plugin, ptr);
    case effEditOpen:
        return plugin->editor.open(ptr) ? 1 : 0;
    case effEditClose:
        plugin->editor.close();
        return 1;
    case effEditIdle:
        plugin->editor.idle();
        return 1;
    default: // keys stay with the host, which plays notes from them
        return 0;
    }
}

VstIntPtr dispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt) {
    DemoPlugin* plugin = self(effect);
    switch (opcode) {
    case effClose:
        delete plugin;
        return 1;
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        return parameterText(plugin, opcode, index, ptr);
    case effSetSampleRate:
        plugin->synth.setSampleRate(opt);
        return 1;
    case effMainsChanged:
        if (value != 0)
            plugin->synth.requestReset();
        return 1;
    case effEditGetRect:
    case effEditOpen:
    case effEditClose:
    case effEditIdle:
    case effEditKeyDown:
    case effEditKeyUp:
        return dispatchEditor(plugin, opcode, ptr);
    case effGetChunk:
        return getChunk(plugin, ptr);
    case effSetChunk:
        return setChunk(plugin, value, ptr);
    case effProcessEvents:
        plugin->synth.receiveEvents(static_cast<const VstEvents*>(ptr));
        return 1;
    default:
        return describe(opcode, ptr);
    }
}

void processReplacing(AEffect* effect, float**, float** outputs, VstInt32 frames) {
    self(effect)->synth.process(outputs, kOutputs, frames);
}

void setParameter(AEffect* effect, VstInt32 index, float value) {
    self(effect)->synth.parameters().set(index, value);
}

float getParameter(AEffect* effect, VstInt32 index) {
    return self(effect)->synth.parameters().get(index);
}

void showAboutScreen(AEffect* effect) {
    self(effect)->editor.showAbout();
}

void showHelp(AEffect* effect) {
    self(effect)->editor.showHelp();
}

// The host's hidden command (no menu item) switches the editor's size.
void extraCommand(AEffect* effect) {
    self(effect)->editor.toggleSize();
}

bool editorHasKeyFocus(AEffect* effect) {
    return self(effect)->editor.hasKeyFocus();
}

void fillRecord(DemoPlugin* plugin) {
    AEffect& effect = plugin->record.effect;
    effect.magic = kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.processReplacing = processReplacing;
    effect.numPrograms = 1;
    effect.numParams = demo::kParameterCount;
    effect.numInputs = 0;
    effect.numOutputs = kOutputs;
    effect.flags = effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth;
    if (demo::editorWindowsAvailable())
        effect.flags |= effFlagsHasEditor;
    effect.object = plugin;
    effect.uniqueID = kUniqueId;
    effect.version = kVersion;
    plugin->record.showAboutScreen = showAboutScreen;
    plugin->record.showHelp = showHelp;
    plugin->record.extraCommand = extraCommand;
    plugin->record.editorHasKeyFocus = editorHasKeyFocus;
}

} // namespace

KS_DEMO_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    if (host == nullptr)
        return nullptr;
    auto* plugin = new (std::nothrow) DemoPlugin(host);
    if (plugin == nullptr)
        return nullptr;
    fillRecord(plugin);
    return &plugin->record.effect;
}
