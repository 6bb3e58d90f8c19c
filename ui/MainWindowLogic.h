#pragma once

// The main window's decisions that need no window: menu texts and the
// vendor rule, the transport at start-up, the audio and MIDI start-up
// outcomes, the window and editor sizes, and the caption while audio runs.

#include "vst2.h"

#include <cstdint>
#include <functional>
#include <string>

constexpr const char* kHostVendor = "Kestrune";
constexpr const char* kEngineRunningText = "&Audioengine Running\tCtrl+R";
constexpr const char* kEngineStoppedText = "&Audioengine Stopped\tCtrl+R";
constexpr const char* kLoadFailedText = "Couldn't load Plugin!";
constexpr const char* kAudioStartFailedText = "Couldn't start Audioengine";
constexpr const char* kMidiStartFailedText = "Couldn't start Midi-Engine";
constexpr const char* kVendorOnlyText = "This feature only works with Kestrune products!";
constexpr const char* kErrorCaption = "Error";

const char* engineItemText(bool running);
bool isHostVendor(const std::string& vendor);
// The two plug-ins that start with the transport playing, unless a MIDI
// input follows MIDI clock.
bool startsWithTransportPlaying(const std::string& pluginName, bool anySyncedInputActive);

// What the plug-in tells about itself, read safely: a plug-in that answers
// without filling the buffer or the rectangle pointer yields "" or a zero
// rectangle. Text is cut at 255 characters.
std::string readPluginName(AEffect* effect);
std::string readVendorString(AEffect* effect);
ERect readEditorRect(AEffect* effect);

// The steps of starting audio when the window opens.
struct AudioStartSteps {
    std::function<bool()> startAudio;
    std::function<bool()> hasOutputDevice;
    std::function<bool()> chooseDefaultDevices; // true when an output was chosen
    std::function<void()> saveSettings;
    std::function<void(const char* text)> showError;
    std::function<void()> openAudioSettings; // with the start-up flag
};
// True when audio runs afterwards.
bool startAudioAtStartup(const AudioStartSteps& steps);

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// The editor's size: its rectangle's right and bottom, never negative.
PixelSize editorSize(const ERect& rect);
// A window whose client area is exactly the editor: frame plus editor.
PixelSize windowSizeForEditor(PixelSize frame, const ERect& rect);
// The editor window's first size, before the plug-in has drawn into it.
PixelSize attachedEditorWindowSize(PixelSize editorClient, const ERect& rect);
PixelPoint centredOrigin(PixelSize window, PixelSize screen);

// "name | Tempo: 120.00 | CPU: 5%\n"
std::string statusCaption(const char* pluginName, double tempo, int32_t cpuLoad);
