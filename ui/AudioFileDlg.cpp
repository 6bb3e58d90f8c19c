#include "AudioFileDlg.h"

#include "AudioFileDlgLogic.h"
#include "Files.h"
#include "KsAudioFileBase.h"
#include "resource.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace playerDialog;

namespace {

constexpr UINT_PTR kTimerId = 2;
constexpr UINT kTimerPeriodMs = 500;
constexpr const char* kErrorCaption = "Error";

FileChooser fileChooser = nullptr;
void* fileChooserUser = nullptr;
QuestionSink questionSink = nullptr;
void* questionSinkUser = nullptr;

bool runFileDialog(HWND owner, bool save, std::string& path) {
    char buffer[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = sizeof buffer;
    dialog.lpstrDefExt = "wav";
    BOOL chosen = FALSE;
    if (save) {
        std::strcpy(buffer, "recording");
        dialog.lpstrTitle = "Save As";
        dialog.lpstrFilter = "WAV files (*.wav)\0*.wav\0";
        // A new name must be accepted; an existing one is confirmed first.
        dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameA(&dialog);
    } else {
        dialog.lpstrFilter = "Supported Files\0*.wav; *.aif; *.aiff; *mp3\0";
        dialog.Flags = OFN_EXPLORER;
        chosen = GetOpenFileNameA(&dialog);
    }
    if (!chosen)
        return false;
    path = buffer;
    return true;
}

bool chooseFile(HWND owner, bool save, std::string& path) {
    if (fileChooser != nullptr)
        return fileChooser(save, path, fileChooserUser);
    return runFileDialog(owner, save, path);
}

bool askYesNo(HWND owner, const char* text, const char* caption) {
    if (questionSink != nullptr)
        return questionSink(text, caption, questionSinkUser);
    return MessageBoxA(owner, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string nameWithoutFolder(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The playable files of a folder, in the order the file system lists them.
std::vector<std::string> playableFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            isPlayableName(entry.cFileName))
            names.emplace_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

constexpr int kPlayerControls[] = {
    IDC_PLAYER_LOAD,  IDC_PLAYER_PREVIOUS, IDC_PLAYER_NEXT,        IDC_PLAYER_DETECTTEMPO,
    IDC_PLAYER_TEMPO, IDC_PLAYER_LOOP,     IDC_PLAYER_REWIND,      IDC_PLAYER_FILENAME,
    IDC_PLAYER_PLAY,  IDC_PLAYER_TIME,     IDC_PLAYER_STARTONMIDI,
};
// What may not change while the player plays.
constexpr int kPlayerChoices[] = {IDC_PLAYER_LOAD, IDC_PLAYER_PREVIOUS,
                                  IDC_PLAYER_NEXT, IDC_PLAYER_DETECTTEMPO,
                                  IDC_PLAYER_LOOP, IDC_PLAYER_STARTONMIDI};

} // namespace

void setPlayerFileChooser(FileChooser chooser, void* user) {
    fileChooser = chooser;
    fileChooserUser = user;
}

void setPlayerQuestionSink(QuestionSink sink, void* user) {
    questionSink = sink;
    questionSinkUser = user;
}

AudioFileDlg::AudioFileDlg(KsVSTHostInterface& hostEngine, HostSettings& hostSettings,
                           bool instrument, Dialog*& owner)
    : Dialog(IDD_AUDIOFILE), engine(hostEngine), settings(hostSettings), slot(owner),
      isInstrument(instrument) {}

bool AudioFileDlg::engineReady() const {
    return settings.outputDevice != nullptr;
}

double AudioFileDlg::engineRate() const {
    return settings.outputDevice != nullptr ? settings.outputDevice->sampleRate : 0.0;
}

bool AudioFileDlg::onInitDialog() {
    SetTimer(handle(), kTimerId, kTimerPeriodMs, nullptr);
    if (isInstrument) {
        for (int control : kPlayerControls)
            enable(control, false);
    } else {
        SetFocus(GetDlgItem(handle(), IDC_PLAYER_PLAY));
    }
    detectTempo = settings.sampleCalcTempo;
    check(IDC_PLAYER_DETECTTEMPO, detectTempo);
    setControlText(IDC_PLAYER_FILENAME, "");
    loadStoredFile();
    loop = settings.sampleLooped;
    startOnMidi = settings.sampleStartByMidi;
    check(IDC_PLAYER_LOOP, loop);
    check(IDC_PLAYER_STARTONMIDI, startOnMidi);
    fillLists();
    updateControls();
    check(IDC_PLAYER_OPENONSTARTUP, settings.openPlayerOnStartup);
    if (settings.startPlayerAutomatic)
        togglePlay();
    placeWindow();
    engine.playerDialogOpen.store(true);
    return isInstrument; // false: the focus was given to "Play"
}

// Only a path with a folder shows its name; any path may load.
void AudioFileDlg::loadStoredFile() {
    if (!engineReady() || settings.samplePath.size() < 5)
        return;
    currentPath = settings.samplePath;
    fileFrames = engine.loadPlayerFile(currentPath);
    if (fileFrames == 0)
        return;
    const std::string name = nameAfterLastBackslash(currentPath);
    if (currentPath.find('\\') != std::string::npos && !name.empty()) {
        setControlText(IDC_PLAYER_FILENAME, name);
        detectFileTempo();
    }
}

void AudioFileDlg::fillLists() {
    HWND options = GetDlgItem(handle(), IDC_RECORDER_OPTIONS);
    const int optionEntries = optionCount(isInstrument);
    for (int index = 0; index < optionEntries; ++index)
        SendMessageA(options, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(optionText(index)));
    // An odd stored value acts as the entry the list shows for it.
    recordOption = listSelection(settings.sampleRecordOption, optionEntries);
    SendMessageA(options, CB_SETCURSEL, recordOption, 0);

    HWND lengths = GetDlgItem(handle(), IDC_RECORDER_LENGTHS);
    for (int index = 0; index < kLengthCount; ++index)
        SendMessageA(lengths, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lengthText(index)));
    maxLengthIndex = listSelection(settings.sampleRecordMaxBars, kLengthCount);
    SendMessageA(lengths, CB_SETCURSEL, maxLengthIndex, 0);
}

void AudioFileDlg::placeWindow() {
    int32_t x = 0;
    int32_t y = 0;
    settings.readDword("playerPositionX", x);
    settings.readDword("playerPositionY", y);
    RECT frame;
    GetWindowRect(handle(), &frame);
    const Position position = openingPosition(x, y, frame.right - frame.left);
    SetWindowPos(handle(), nullptr, position.x, position.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool AudioFileDlg::onCommand(int controlId, int notification) {
    if (controlId == IDCANCEL) {
        onClose();
        return true;
    }
    if (controlId == IDOK)
        return true;
    if (notification == CBN_SELCHANGE &&
        (controlId == IDC_RECORDER_OPTIONS || controlId == IDC_RECORDER_LENGTHS)) {
        onOptionChanged(controlId);
        return true;
    }
    if (notification != BN_CLICKED)
        return false;
    switch (controlId) {
    case IDC_PLAYER_LOAD:
        loadFile();
        return true;
    case IDC_PLAYER_PREVIOUS:
    case IDC_PLAYER_NEXT:
        stepFolder(controlId == IDC_PLAYER_NEXT);
        return true;
    case IDC_PLAYER_REWIND:
        rewind();
        return true;
    case IDC_PLAYER_PLAY:
        togglePlay();
        return true;
    case IDC_RECORDER_RECORD:
        if (engineReady())
            toggleRecording(false);
        return true;
    case IDC_PLAYER_LOOP:
    case IDC_PLAYER_STARTONMIDI:
    case IDC_PLAYER_OPENONSTARTUP:
    case IDC_PLAYER_DETECTTEMPO:
        onOptionChanged(controlId);
        return true;
    default:
        return false;
    }
}

void AudioFileDlg::onOptionChanged(int controlId) {
    switch (controlId) {
    case IDC_PLAYER_LOOP:
        settings.sampleLooped = loop = checked(controlId);
        break;
    case IDC_PLAYER_STARTONMIDI:
        settings.sampleStartByMidi = startOnMidi = checked(controlId);
        break;
    case IDC_RECORDER_OPTIONS:
        settings.sampleRecordOption = recordOption =
            static_cast<int32_t>(SendDlgItemMessageA(handle(), controlId, CB_GETCURSEL, 0, 0));
        break;
    case IDC_RECORDER_LENGTHS:
        settings.sampleRecordMaxBars = maxLengthIndex =
            static_cast<int32_t>(SendDlgItemMessageA(handle(), controlId, CB_GETCURSEL, 0, 0));
        break;
    case IDC_PLAYER_OPENONSTARTUP:
        settings.openPlayerOnStartup = checked(controlId);
        settings.save();
        return;
    case IDC_PLAYER_DETECTTEMPO:
        settings.sampleCalcTempo = detectTempo = checked(controlId);
        settings.save();
        detectFileTempo();
        return;
    default:
        return;
    }
    settings.save();
    updateControls();
}

void AudioFileDlg::loadFile() {
    if (!engineReady())
        return;
    std::string path;
    if (!chooseFile(handle(), false, path))
        return;
    currentPath = path;
    fileFrames = engine.loadPlayerFile(currentPath);
    if (fileFrames == 0) {
        showUserMessage(handle(), kLoadSampleFailedText, kErrorCaption);
        setControlText(IDC_PLAYER_FILENAME, "");
        return;
    }
    showLoadedName(nameWithoutFolder(currentPath));
}

void AudioFileDlg::showLoadedName(const std::string& name) {
    setControlText(IDC_PLAYER_FILENAME, name);
    settings.samplePath = currentPath;
    settings.save();
    detectFileTempo();
}

void AudioFileDlg::stepFolder(bool forward) {
    if (!engineReady() || currentPath.empty())
        return;
    const std::string folder = folderOf(currentPath);
    const std::vector<std::string> candidates = playableFilesIn(folder);
    const std::string current = currentPath.substr(folder.size());
    if (!forward) {
        if (std::optional<std::string> name = previousCandidate(candidates, current))
            loadCandidate(folder + *name);
        return;
    }
    for (const std::string& name : nextCandidates(candidates, current)) {
        if (loadCandidate(folder + name))
            return;
        currentPath.clear();
    }
}

bool AudioFileDlg::loadCandidate(const std::string& path) {
    currentPath = path;
    fileFrames = engine.loadPlayerFile(currentPath);
    if (fileFrames == 0)
        return false;
    showLoadedName(nameWithoutFolder(path));
    return true;
}

void AudioFileDlg::rewind() {
    if (!engineReady())
        return;
    setControlText(IDC_PLAYER_TIME, "0:00");
    engine.rewindPlayer();
}

void AudioFileDlg::togglePlay() {
    if (!engineReady() || !IsWindowEnabled(GetDlgItem(handle(), IDC_PLAYER_PLAY)))
        return;
    if (playing)
        stopPlaying();
    else
        startPlaying();
    updateControls();
}

void AudioFileDlg::stopPlaying() {
    playing = false;
    enablePlayerChoices(true);
    engine.setPlayerState(0, false);
    if (recordOption == kOptionFollowPlayer)
        toggleRecording(true);
}

// A recorder that follows the player is armed first: a MIDI event coming
// between the two then starts the take early, never the player without it.
void AudioFileDlg::startPlaying() {
    const bool recorderFollows =
        recordOption == kOptionStartOnPlay || recordOption == kOptionFollowPlayer;
    const bool armRecorder = recorderFollows && !recording;
    const int32_t mode = startOnMidi || recorderFollows ? 2 : 1;
    playing = true;
    if (armRecorder)
        toggleRecording(true);
    if (!playing)
        return; // stopped by the timer while the recorder's error was shown
    if (!engine.setPlayerState(mode, loop)) {
        playing = false;
        if (armRecorder && recording)
            toggleRecording(true);
        return;
    }
    setControlText(IDC_PLAYER_PLAY, startOnMidi ? "Waiting" : "Stop");
    enablePlayerChoices(false);
    if (armRecorder && !startOnMidi)
        engine.startBothRequest.store(true);
}

void AudioFileDlg::toggleRecording(bool fromPlayer) {
    recording = fromPlayer ? playing : !recording;
    if (recording)
        startRecording(fromPlayer);
    else
        stopRecording();
    updateControls();
}

void AudioFileDlg::startRecording(bool fromPlayer) {
    RecordingStart start;
    start.fromPlayer = fromPlayer;
    start.recordOption = recordOption;
    start.startOnMidi = startOnMidi;
    start.loop = loop;
    start.fileFrames = fileFrames;
    start.fileRate = engine.playerFileSampleRate();
    start.maxLengthIndex = maxLengthIndex;
    start.engineRate = engineRate();
    start.tempo = engine.getTempo();
    const RecorderRequest request = recorderRequest(start);
    maxFrames = request.maxFrames;
    if (!engine.setRecorderState(request.mode, maxFrames)) {
        // Nothing records: the take's arrays could not be had, or a cycle
        // that never ended still holds the old ones.
        recording = false;
        showUserMessage(
            handle(), engine.recorderOutOfMemory ? kRecordingMemoryText : kRecorderStartFailedText,
            kErrorCaption);
        return;
    }
    setControlText(IDC_RECORDER_RECORD, request.mode == 2 ? "Waiting" : "Stop Recording");
}

// The question and the Save As dialog run message loops of their own: the
// timer's ticks there must not stop the take a second time and free it.
void AudioFileDlg::stopRecording() {
    if (offering)
        return;
    const bool stopped = engine.setRecorderState(0, 0);
    const uint32_t frames = engine.recordedFrames.load();
    if (!stopped) {
        // A cycle may still write the take: it is kept, not read.
        showUserMessage(handle(), kRecorderStopFailedText, kErrorCaption);
        return;
    }
    if (frames > 0 && engine.recordLeft && engine.recordRight) {
        offering = true;
        offerToSave(frames);
        offering = false;
    }
    engine.freeRecorderBuffers();
}

void AudioFileDlg::offerToSave(uint32_t frames) {
    if (!askYesNo(handle(), kSaveRecordingQuestion, kPlayerCaption))
        return;
    for (float* channel : {engine.recordLeft.get(), engine.recordRight.get()})
        std::transform(channel, channel + frames, channel,
                       [](float sample) { return std::clamp(sample, -1.0f, 1.0f); });
    std::string path;
    while (chooseFile(handle(), true, path)) {
        if (saveRecording(path, frames))
            return;
        showUserMessage(handle(), kSaveRecordingFailedText, kPlayerCaption);
    }
}

// The take goes to a file beside the chosen one, which it replaces only when
// written whole and on the disk: a full disk or a power cut keeps a file
// chosen for overwriting as it was.
bool AudioFileDlg::saveRecording(const std::string& path, uint32_t frames) {
    if (!hasWriterForPath(path))
        return false; // refused before any file, the temporary one included, is touched
    const std::string temporary = playerDialog::temporaryTakePath(path);
    const std::string& target = temporary.empty() ? path : temporary;
    std::unique_ptr<KsAudioFileBase> writer;
    const auto rate = static_cast<uint32_t>(engineRate());
    bool written = createWriterForPath(writer, target, frames, rate) &&
                   writer->writeSamples16({engine.recordLeft.get(), engine.recordRight.get()},
                                          frames, false) &&
                   platform::flushToDisk(writer->file);
    if (writer != nullptr)
        written = writer->close() && written;
    writer.reset();
    if (written && (temporary.empty() || platform::replaceFile(temporary, path)))
        return true;
    if (!temporary.empty())
        DeleteFileA(temporary.c_str());
    return false;
}

void AudioFileDlg::detectFileTempo() {
    if (!detectTempo || fileFrames == 0) {
        setControlText(IDC_PLAYER_TEMPO, "");
        return;
    }
    const std::optional<double> bpm =
        tempoFromFileLength(engine.playerFileSampleRate(), fileFrames);
    if (bpm)
        engine.setTempo(*bpm);
    setControlText(IDC_PLAYER_TEMPO, tempoText(bpm));
}

void AudioFileDlg::updateControls() {
    const ControlStates states = controlStates(playing, recording, recordOption);
    if (states.resetPlayer) {
        setControlText(IDC_PLAYER_PLAY, "Play");
        setControlText(IDC_PLAYER_TIME, "0:00");
    }
    enable(IDC_RECORDER_OPTIONS, states.optionsEnabled);
    if (states.resetRecorder) {
        setControlText(IDC_RECORDER_RECORD, "Start Recording");
        setControlText(IDC_RECORDER_TIME, "0:00 / max:");
    }
    enable(IDC_RECORDER_LENGTHS, states.lengthsEnabled);
    enable(IDC_RECORDER_RECORD, states.recordButtonEnabled);
}

std::optional<INT_PTR> AudioFileDlg::onMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_TIMER || wParam != kTimerId)
        return std::nullopt;
    onTimer();
    return 0;
}

// The engine stops an unlooped file and a full take itself; the tick only
// brings the window up to date, up to one period late.
void AudioFileDlg::onTimer() {
    if (offering)
        return;
    const double rate = engineRate();
    if (playing) {
        if (engine.playerState.load() == 1)
            setControlText(IDC_PLAYER_PLAY, "Stop");
        const uint32_t played = engine.playedFrames.load();
        const uint32_t fileEnd =
            fileLengthAtEngineRate(fileFrames, engine.playerFileSampleRate(), rate);
        if (played >= fileEnd && !loop) {
            togglePlay();
            return;
        }
        setControlText(IDC_PLAYER_TIME, timeText(played, rate));
    }
    if (recording) {
        if (engine.recorderState.load() == 1)
            setControlText(IDC_RECORDER_RECORD, "Stop Recording");
        const uint32_t recorded = engine.recordedFrames.load();
        if (recorded >= maxFrames) {
            toggleRecording(false);
            return;
        }
        setControlText(IDC_RECORDER_TIME, timeText(recorded, rate) + " / max:");
    }
    updateControls();
    RECT frame;
    GetWindowRect(handle(), &frame);
    lastLeft = frame.left;
    lastTop = frame.top;
}

// A take still running is offered for saving and stopped: left running, it
// would keep writing arrays the next take frees.
void AudioFileDlg::onClose() {
    if (offering)
        return; // its question is open: this window stays until it is answered
    if (engineReady()) {
        if (recording) {
            recording = false;
            stopRecording();
        }
        engine.setPlayerState(0, false);
        engine.freePlayerBuffers();
    }
    engine.playerDialogOpen.store(false);
    settings.openPlayerOnStartup = checked(IDC_PLAYER_OPENONSTARTUP);
    settings.save();
    DestroyWindow(handle());
}

void AudioFileDlg::onDestroyed() {
    settings.writeDword("playerPositionX", lastLeft);
    settings.writeDword("playerPositionY", lastTop);
    slot = nullptr;
    delete this;
}

void AudioFileDlg::enablePlayerChoices(bool enabled) {
    for (int control : kPlayerChoices)
        enable(control, enabled);
}

void AudioFileDlg::enable(int controlId, bool enabled) {
    EnableWindow(GetDlgItem(handle(), controlId), enabled ? TRUE : FALSE);
}

bool AudioFileDlg::checked(int controlId) const {
    return IsDlgButtonChecked(handle(), controlId) == BST_CHECKED;
}

void AudioFileDlg::check(int controlId, bool on) {
    CheckDlgButton(handle(), controlId, on ? BST_CHECKED : BST_UNCHECKED);
}
