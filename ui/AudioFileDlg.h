#pragma once

// The modeless "Audio Player / Recorder" window: loads a file into the
// engine's player, steps through its folder, plays it into the plug-in and
// records the plug-in's output, offering the take for saving when recording
// stops. Every option lives in HostSettings; the samples live in the engine.
// The object deletes itself once its window is gone, after clearing the
// main window's pointer to it.

#include "Dialog.h"
#include "HostSettings.h"
#include "KsVSTHostInterface.h"

#include <cstdint>
#include <string>

constexpr const char* kLoadSampleFailedText = "Error loading Sample File!";
constexpr const char* kSaveRecordingQuestion = "Would you like to save the recording?";
constexpr const char* kSaveRecordingFailedText = "Error saving recording to file!";
constexpr const char* kRecordingMemoryText =
    "Not enough memory to record this length! Choose a shorter one.";
constexpr const char* kRecorderStartFailedText = "Couldn't start the recorder!";
constexpr const char* kRecorderStopFailedText = "Couldn't stop the recorder!";
constexpr const char* kPlayerCaption = "Kestrune";

// Tests answer the file dialogs and the save question instead of the user.
// The chooser gets whether it saves and returns false for a cancel.
using FileChooser = bool (*)(bool save, std::string& path, void* user);
using QuestionSink = bool (*)(const char* text, const char* caption, void* user);
void setPlayerFileChooser(FileChooser chooser, void* user);
void setPlayerQuestionSink(QuestionSink sink, void* user);

class AudioFileDlg : public Dialog {
public:
    // `slot` is the main window's pointer to this dialog.
    AudioFileDlg(KsVSTHostInterface& engine, HostSettings& settings, bool isInstrument,
                 Dialog*& slot);

    bool isPlaying() const { return playing; }
    bool isRecording() const { return recording; }
    uint32_t maxRecordFrames() const { return maxFrames; }
    const std::string& currentFile() const { return currentPath; }

protected:
    bool onInitDialog() override;
    bool onCommand(int controlId, int notification) override;
    std::optional<INT_PTR> onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onClose() override;
    void onDestroyed() override;

private:
    bool engineReady() const;
    double engineRate() const;
    void loadStoredFile();
    void fillLists();
    void placeWindow();
    void loadFile();
    void stepFolder(bool forward);
    bool loadCandidate(const std::string& path);
    void showLoadedName(const std::string& name);
    void rewind();
    void togglePlay();
    void startPlaying();
    void stopPlaying();
    void toggleRecording(bool fromPlayer);
    void startRecording(bool fromPlayer);
    void stopRecording();
    void offerToSave(uint32_t frames);
    bool saveRecording(const std::string& path, uint32_t frames);
    void detectFileTempo();
    void updateControls();
    void onTimer();
    void onOptionChanged(int controlId);
    void enablePlayerChoices(bool enable);
    void enable(int controlId, bool enabled);
    bool checked(int controlId) const;
    void check(int controlId, bool on);

    KsVSTHostInterface& engine;
    HostSettings& settings;
    Dialog*& slot;
    bool isInstrument;
    bool playing = false;
    bool recording = false;
    bool offering = false; // the take is being offered for saving
    bool detectTempo = false;
    bool loop = false;
    bool startOnMidi = false;
    int32_t recordOption = 0;
    int32_t maxLengthIndex = 0;
    uint32_t maxFrames = 0;
    std::string currentPath;
    uint32_t fileFrames = 0;
    int32_t lastLeft = 0;
    int32_t lastTop = 0;
};
