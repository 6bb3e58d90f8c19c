#include "MainWindowLogic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kTextBufferSize = 256;

std::string readText(AEffect* effect, VstInt32 opcode, VstIntPtr* answer = nullptr) {
    char buffer[kTextBufferSize] = {};
    VstIntPtr result = 0;
    if (effect != nullptr && effect->dispatcher != nullptr)
        result = effect->dispatcher(effect, opcode, 0, 0, buffer, 0.0f);
    if (answer != nullptr)
        *answer = result;
    buffer[kTextBufferSize - 1] = '\0';
    return buffer;
}

} // namespace

const char* engineItemText(bool running) {
    return running ? kEngineRunningText : kEngineStoppedText;
}

bool isHostVendor(const std::string& vendor) {
    return vendor == kHostVendor;
}

bool startsWithTransportPlaying(const std::string& pluginName, bool anySyncedInputActive) {
    return !anySyncedInputActive && (pluginName == "Lumetra" || pluginName == "Quorbel");
}

std::string readPluginName(AEffect* effect) {
    VstIntPtr answer = 0;
    std::string name = readText(effect, effGetEffectName, &answer);
    if (answer != 1)
        name = readText(effect, effGetProductString);
    return name;
}

std::string readVendorString(AEffect* effect) {
    return readText(effect, effGetVendorString);
}

ERect readEditorRect(AEffect* effect) {
    ERect* rect = nullptr;
    if (effect != nullptr && effect->dispatcher != nullptr)
        effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0.0f);
    return rect != nullptr ? *rect : ERect{};
}

bool startAudioAtStartup(const AudioStartSteps& steps) {
    if (steps.startAudio())
        return true;
    if (steps.hasOutputDevice()) {
        steps.showError(kAudioStartFailedText);
        steps.openAudioSettings();
        return false;
    }
    if (steps.chooseDefaultDevices() && steps.startAudio()) {
        steps.saveSettings();
        return true;
    }
    steps.openAudioSettings();
    return false;
}

PixelSize editorSize(const ERect& rect) {
    return {std::max<int>(rect.right, 0), std::max<int>(rect.bottom, 0)};
}

PixelSize windowSizeForEditor(PixelSize frame, const ERect& rect) {
    PixelSize editor = editorSize(rect);
    return {frame.width + editor.width, frame.height + editor.height};
}

PixelSize attachedEditorWindowSize(PixelSize editorClient, const ERect& rect) {
    PixelSize editor = editorSize(rect);
    return {std::max(editorClient.width + editor.width - 10, 0),
            std::max(editorClient.height + editor.height - 10, 0)};
}

PixelPoint centredOrigin(PixelSize window, PixelSize screen) {
    return {(screen.width - window.width) / 2, (screen.height - window.height) / 2};
}

std::string statusCaption(const char* pluginName, double tempo, int32_t cpuLoad) {
    char caption[kTextBufferSize + 64];
    std::snprintf(caption, sizeof caption, "%s | Tempo: %.2f | CPU: %d%%\n",
                  pluginName != nullptr ? pluginName : "", tempo, static_cast<int>(cpuLoad));
    return caption;
}
