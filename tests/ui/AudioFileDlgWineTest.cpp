// The Audio Player / Recorder window under Wine, opened from a real main
// window with the pass-through test effect on the clock-paced audio device.

#include "AudioFileDlg.h"
#include "CKsVSTHostDlg.h"
#include "KsAudioFileBase.h"
#include "MessageBox.h"
#include "TestPlugins.h"
#include "WindowCapture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Shown {
    std::string text;
    std::string caption;
};

void collectMessage(HWND, const char* text, const char* caption, void* user) {
    static_cast<std::vector<Shown>*>(user)->push_back({text, caption});
}

// The engine's own messages have no owner window; a box left up would hold
// the test in its modal loop.
void collectEngineMessage(const std::string& text, const std::string& caption, void* user) {
    static_cast<std::vector<Shown>*>(user)->push_back({text, caption});
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string unixPath(std::string path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path.erase(0, 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string binFolder() {
    return platform::executableDirectory() + "\\";
}

std::string soxFile(const char* name) {
    return binFolder() + "audio\\" + name;
}

struct Samples {
    int32_t rate = 0;
    std::vector<float> left, right;
};

Samples readFile(const std::string& path) {
    Samples samples;
    std::unique_ptr<KsAudioFileBase> reader;
    const uint32_t frames = createReaderForPath(reader, path);
    if (frames == 0)
        return samples;
    samples.left.resize(frames);
    samples.right.resize(frames);
    if (!reader->readSamples({samples.left.data(), samples.right.data()}))
        return {};
    samples.rate = reader->sampleRate;
    return samples;
}

// Answers for the file dialogs and the save question, in order.
struct Answers {
    std::vector<std::string> paths; // an empty path cancels
    size_t nextPath = 0;
    bool saveAnswer = true;
    int questions = 0;
    std::function<void()> whileAsking; // runs inside the question's own loop
};

bool chooseFromAnswers(bool, std::string& path, void* user) {
    auto* answers = static_cast<Answers*>(user);
    if (answers->nextPath >= answers->paths.size())
        return false;
    path = answers->paths[answers->nextPath++];
    return !path.empty();
}

bool answerQuestion(const char*, const char*, void* user) {
    auto* answers = static_cast<Answers*>(user);
    ++answers->questions;
    if (answers->whileAsking)
        answers->whileAsking();
    return answers->saveAnswer;
}

class AudioFileDlgWine : public ::testing::Test {
protected:
    void SetUp() override {
        previousDevices = fileText(devicesPath());
        hadDevices = GetFileAttributesA(devicesPath().c_str()) != INVALID_FILE_ATTRIBUTES;
        std::ofstream control(devicesPath(), std::ios::trunc);
        control << "playback.file " << unixPath(binFolder() + "player-render.raw") << "\n"
                << deviceLines;
        control.close();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kestrune\\KsTestEffect");
        setUserMessageSink(collectMessage, &messages);
        platform::setMessageSink(collectEngineMessage, &messages);
        window = std::make_unique<CKsVSTHostDlg>(testPluginPath("KsTestEffect"));
        // A shutdown here ends with the stream stopped, never by ending the process.
        window->setProcessEnd([](int) { ADD_FAILURE() << "the shutdown ended the process"; });
        ASSERT_TRUE(window->createMainWindow());
        pumpPending();
        ASSERT_NE(window->settings(), nullptr);
        // A new effect's settings open the player at start-up; each test
        // opens its own after arranging the settings.
        ASSERT_NE(window->audioPlayer(), nullptr);
        closePlayer();
    }
    void TearDown() override {
        setPlayerFileChooser(nullptr, nullptr);
        setPlayerQuestionSink(nullptr, nullptr);
        if (window && window->mainWindowOpen()) {
            PostMessageA(window->handle(), WM_CLOSE, 0, 0);
            pumpUntil([&] { return !window->mainWindowOpen(); });
        }
        window.reset();
        platform::setMessageSink(nullptr, nullptr);
        setUserMessageSink(nullptr, nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kestrune\\KsTestEffect");
        restoreDevices();
    }

    static std::string devicesPath() { return binFolder() + "ksfile-devices.conf"; }
    // Later tests in this process and other programs see the devices as
    // they were before this test.
    void restoreDevices() {
        if (!hadDevices) {
            DeleteFileA(devicesPath().c_str());
            return;
        }
        std::ofstream control(devicesPath(), std::ios::binary | std::ios::trunc);
        control << previousDevices;
    }

    void useAnswers() {
        setPlayerFileChooser(chooseFromAnswers, &answers);
        setPlayerQuestionSink(answerQuestion, &answers);
    }

    void pumpPending() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            window->processMessage(message);
    }
    bool pumpUntil(const std::function<bool()>& condition) {
        for (int round = 0; round < 4000; ++round) {
            pumpPending();
            if (condition())
                return true;
            Sleep(5);
        }
        return false;
    }

    AudioFileDlg* openPlayer() {
        SendMessageA(window->handle(), WM_COMMAND, ID_FILE_AUDIOPLAYER, 0);
        pumpPending();
        return dynamic_cast<AudioFileDlg*>(window->audioPlayer());
    }
    void closePlayer() {
        PostMessageA(player(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return window->audioPlayer() == nullptr; }));
    }
    HWND player() { return window->audioPlayer()->handle(); }
    void click(int controlId) {
        SendMessageA(player(), WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(player(), controlId)));
    }
    void select(int listId, int index) {
        SendDlgItemMessageA(player(), listId, CB_SETCURSEL, index, 0);
        SendMessageA(player(), WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(player(), listId)));
    }
    std::string text(int controlId) {
        char buffer[256] = {};
        GetDlgItemTextA(player(), controlId, buffer, sizeof buffer);
        return buffer;
    }
    void tick() { SendMessageA(player(), WM_TIMER, 2, 0); }
    bool audioRunning() { return window->hostEngine().running.load(); }

    KsVSTHostInterface& engine() { return window->hostEngine(); }
    HostSettings& settings() { return *window->settings(); }

    std::string deviceLines; // more device settings, set before SetUp
    std::string previousDevices;
    bool hadDevices = false;
    std::vector<Shown> messages;
    Answers answers;
    std::unique_ptr<CKsVSTHostDlg> window;
};

// Option 3 starts the recorder with the player and stops it with the
// file's end; the take, saved as 16-bit WAV, is the file itself.
TEST_F(AudioFileDlgWine, PlayedFileIsRecordedThroughTheEffectAndSaved) {
    ASSERT_TRUE(audioRunning());
    const std::string input = soxFile("wav-s16-stereo-48k.wav");
    const std::string saved = binFolder() + "player-take.wav";
    DeleteFileA(saved.c_str());
    settings().samplePath = input;
    settings().sampleLooped = false;
    settings().sampleRecordOption = 3;
    useAnswers();
    // A refused name leaves alone the file its temporary name would have had.
    const std::string bystander = binFolder() + "player-take.xyz~z";
    std::ofstream(bystander) << "kept";
    answers.paths = {binFolder() + "player-take.xyz", saved};
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(text(IDC_PLAYER_FILENAME), "wav-s16-stereo-48k.wav");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(player(), IDC_RECORDER_RECORD)));

    click(IDC_PLAYER_PLAY);
    ASSERT_TRUE(dialog->isPlaying());
    EXPECT_TRUE(dialog->isRecording());
    EXPECT_EQ(text(IDC_PLAYER_PLAY), "Stop");
    EXPECT_EQ(text(IDC_RECORDER_RECORD), "Waiting");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(player(), IDC_PLAYER_LOAD)));
    const Samples original = readFile(input);
    ASSERT_EQ(original.rate, 48000);
    const auto rate = static_cast<size_t>(settings().outputDevice->sampleRate);
    EXPECT_EQ(dialog->maxRecordFrames(), original.left.size() * rate / 48000);
    // The timer stops the player at the file's end, which stops the take.
    ASSERT_TRUE(pumpUntil([&] { return !dialog->isPlaying(); }));
    EXPECT_FALSE(dialog->isRecording());
    EXPECT_EQ(answers.questions, 1);
    ASSERT_EQ(messages.size(), 1u) << "a name the writers refuse";
    EXPECT_EQ(messages[0].text, kSaveRecordingFailedText);
    EXPECT_EQ(messages[0].caption, "Kestrune");
    EXPECT_NE(GetFileAttributesA(bystander.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(bystander.c_str());
    EXPECT_EQ(engine().recorderState.load(), 0);
    EXPECT_FALSE(engine().recordLeft) << "the take is released after saving";

    const Samples take = readFile(saved);
    ASSERT_EQ(take.rate, static_cast<int32_t>(settings().outputDevice->sampleRate));
    ASSERT_EQ(take.left.size(), original.left.size());
    for (size_t i = 0; i < take.left.size(); ++i) {
        ASSERT_NEAR(take.left[i], original.left[i], 2.0f / 32768.0f) << "frame " << i;
        ASSERT_NEAR(take.right[i], original.right[i], 2.0f / 32768.0f) << "frame " << i;
    }
    EXPECT_EQ(text(IDC_PLAYER_PLAY), "Play");
    EXPECT_EQ(text(IDC_RECORDER_RECORD), "Start Recording");
}

// Closing offers the running take and stops the recorder: a recorder left
// running would write into arrays the next take frees.
TEST_F(AudioFileDlgWine, ClosingWhileRecordingOffersTheTakeAndStopsTheRecorder) {
    ASSERT_TRUE(audioRunning());
    useAnswers();
    const std::string saved = binFolder() + "player-closed-take.wav";
    DeleteFileA(saved.c_str());
    answers.paths = {saved};
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    select(IDC_RECORDER_LENGTHS, 17); // "8 min", beyond 300 seconds
    EXPECT_EQ(settings().sampleRecordMaxBars, 17);
    click(IDC_RECORDER_RECORD);
    ASSERT_TRUE(dialog->isRecording());
    const auto rate = static_cast<uint32_t>(settings().outputDevice->sampleRate);
    EXPECT_EQ(engine().recordCapacity, 480u * rate) << "the whole chosen length";
    ASSERT_TRUE(pumpUntil([&] { return engine().recordedFrames.load() > 4800; }));
    tick();
    EXPECT_EQ(text(IDC_RECORDER_RECORD), "Stop Recording");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(player(), IDC_RECORDER_OPTIONS)));

    closePlayer();
    EXPECT_EQ(answers.questions, 1);
    EXPECT_EQ(engine().recorderState.load(), 0);
    EXPECT_FALSE(engine().recordLeft);
    EXPECT_FALSE(engine().playerDialogOpen.load());
    const Samples take = readFile(saved);
    EXPECT_GT(take.left.size(), 4800u);
}

// Stored option values no list entry has (a damaged registry) act as the
// entries the lists show for them: recording by hand stays possible.
TEST_F(AudioFileDlgWine, OddStoredRecorderChoicesActAsTheEntriesShown) {
    for (int32_t odd : {7, -1}) {
        settings().sampleRecordOption = odd;
        settings().sampleRecordMaxBars = odd * 100;
        ASSERT_NE(openPlayer(), nullptr);
        EXPECT_EQ(SendDlgItemMessageA(player(), IDC_RECORDER_OPTIONS, CB_GETCURSEL, 0, 0), 0);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(player(), IDC_RECORDER_RECORD))) << odd;
        closePlayer();
    }
}

// Closing the program while a take records offers it as closing the player
// does, before the engine that holds it is gone.
TEST_F(AudioFileDlgWine, ClosingTheProgramWhileRecordingOffersTheTake) {
    useAnswers();
    const std::string saved = binFolder() + "program-closed-take.wav";
    DeleteFileA(saved.c_str());
    answers.paths = {saved};
    ASSERT_NE(openPlayer(), nullptr);
    click(IDC_RECORDER_RECORD);
    ASSERT_TRUE(pumpUntil([&] { return engine().recordedFrames.load() > 4800; }));
    PostMessageA(window->handle(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return !window->mainWindowOpen(); }));
    EXPECT_EQ(answers.questions, 1);
    EXPECT_GT(readFile(saved).left.size(), 4800u);
}

// A take saved over the file the player has loaded replaces it.
TEST_F(AudioFileDlgWine, ATakeSavedOverTheLoadedFileReplacesIt) {
    const std::string loaded = binFolder() + "player-loaded.wav";
    ASSERT_TRUE(CopyFileA(soxFile("wav-s16-stereo-48k.wav").c_str(), loaded.c_str(), FALSE));
    settings().samplePath = loaded;
    useAnswers();
    answers.paths = {loaded};
    ASSERT_NE(openPlayer(), nullptr);
    const size_t loadedFrames = readFile(loaded).left.size();
    click(IDC_RECORDER_RECORD);
    ASSERT_TRUE(pumpUntil([&] { return engine().recordedFrames.load() > 2 * loadedFrames; }));
    click(IDC_RECORDER_RECORD);
    EXPECT_EQ(answers.questions, 1);
    EXPECT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_GT(readFile(loaded).left.size(), 2 * loadedFrames);
    closePlayer();
    DeleteFileA(loaded.c_str());
}

// A device slower than the file: the player stops at the file's end in
// device frames, and that is the take's length.
class AudioFileDlgWineAt44k : public AudioFileDlgWine {
protected:
    void SetUp() override {
        // The effect takes input, and the engine refuses an input at
        // another rate than the output.
        deviceLines = "playback.rate 44100\ncapture.rate 44100\n";
        AudioFileDlgWine::SetUp();
    }
};

TEST_F(AudioFileDlgWineAt44k, PlayerStopsAtTheFileEndInDeviceFrames) {
    ASSERT_TRUE(audioRunning());
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(settings().outputDevice->sampleRate, 44100.0);
    settings().samplePath = soxFile("wav-s16-stereo-48k.wav");
    settings().sampleLooped = false;
    settings().sampleRecordOption = 3;
    useAnswers();
    answers.saveAnswer = false;
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    const size_t fileFrames = readFile(settings().samplePath).left.size();
    ASSERT_GT(fileFrames, 0u);
    click(IDC_PLAYER_PLAY);
    ASSERT_TRUE(dialog->isRecording());
    const uint32_t fileEnd = static_cast<uint32_t>(fileFrames * 44100 / 48000);
    EXPECT_EQ(dialog->maxRecordFrames(), fileEnd);
    ASSERT_TRUE(pumpUntil([&] { return !dialog->isPlaying(); }));
    EXPECT_GE(engine().playedFrames.load(), fileEnd);
    EXPECT_EQ(answers.questions, 1);
    EXPECT_EQ(engine().recorderState.load(), 0);
}

// The file ends while the question from closing is open: the timer's ticks
// inside the question's loop must not stop the take again and free it.
TEST_F(AudioFileDlgWine, FileEndingDuringTheCloseQuestionOffersTheTakeOnce) {
    ASSERT_TRUE(audioRunning());
    const std::string saved = binFolder() + "player-close-at-end.wav";
    DeleteFileA(saved.c_str());
    settings().samplePath = soxFile("wav-s16-stereo-48k.wav");
    settings().sampleLooped = false;
    settings().sampleRecordOption = 3;
    useAnswers();
    answers.paths = {saved};
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    click(IDC_PLAYER_PLAY);
    ASSERT_TRUE(dialog->isRecording());
    for (int wait = 0; wait < 4000 && engine().recordedFrames.load() == 0; ++wait)
        Sleep(1); // no pumping: no tick may stop the player before the close
    ASSERT_GT(engine().recordedFrames.load(), 0u);
    const uint32_t fileEnd = dialog->maxRecordFrames();
    answers.whileAsking = [&] {
        for (int wait = 0; wait < 4000 && engine().playedFrames.load() < fileEnd; ++wait)
            Sleep(1);
        tick();
    };
    closePlayer();
    EXPECT_EQ(answers.questions, 1);
    EXPECT_EQ(engine().recorderState.load(), 0);
    EXPECT_FALSE(engine().recordLeft);
    EXPECT_GT(readFile(saved).left.size(), 0u);
}

// The platform's own boxes: the question is answered Yes and a name that
// does not exist yet is typed into the real "Save As" dialog, which must
// take it.
TEST_F(AudioFileDlgWine, RealSaveDialogTakesANewName) {
    ASSERT_TRUE(audioRunning());
    const std::string saved = binFolder() + "player-new-name.wav";
    DeleteFileA(saved.c_str());
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    click(IDC_RECORDER_RECORD);
    ASSERT_TRUE(pumpUntil([&] { return engine().recordedFrames.load() > 2400; }));

    std::atomic<bool> answered{false};
    std::atomic<int> namesTyped{0};
    std::atomic<bool> stopped{false};
    std::thread user([&] {
        for (int round = 0; round < 12000 && !stopped; ++round) {
            HWND question = FindWindowA("#32770", kPlayerCaption);
            if (question != nullptr && !answered && GetDlgItem(question, IDYES) != nullptr) {
                answered = true;
                PostMessageA(question, WM_COMMAND, IDYES, 0);
            }
            HWND save = FindWindowA("#32770", "Save As");
            HWND name = save != nullptr ? GetDlgItem(save, 0x480) : nullptr; // edt1
            if (name == nullptr && save != nullptr)
                name = GetDlgItem(save, 0x47c); // cmb13
            if (name != nullptr && IsWindowVisible(save)) {
                // A refused name leaves the dialog open: give up after a few.
                const int typed = ++namesTyped;
                SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(saved.c_str()));
                PostMessageA(save, WM_COMMAND, typed > 3 ? IDCANCEL : IDOK, 0);
                Sleep(500);
            }
            Sleep(5);
        }
    });
    click(IDC_RECORDER_RECORD); // stops: the question, then the save dialog
    stopped = true;
    user.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(namesTyped.load(), 1);
    EXPECT_FALSE(dialog->isRecording());
    const Samples take = readFile(saved);
    EXPECT_GT(take.left.size(), 2400u);
}

// The folder's own listing order decides; other files, folders and a file
// that fails to load are passed over, and both ends wrap.
TEST_F(AudioFileDlgWine, SteppingThroughAFolderSkipsAndWraps) {
    const std::string folder = binFolder() + "player-folder\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "folder.wav").c_str(), nullptr);
    for (const char* name : {"a.wav", "b.aiff", "c.WAV"})
        ASSERT_TRUE(CopyFileA(
            soxFile(name[0] == 'b' ? "aiff-s16-stereo.aiff" : "wav-s16-stereo.wav").c_str(),
            (folder + name).c_str(), FALSE));
    std::ofstream(folder + "notes.txt") << "not audio";
    std::ofstream(folder + "broken.wav") << "not a wave file";
    std::vector<std::string> order; // as the folder lists its candidates
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::string name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name != "notes.txt")
            order.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    ASSERT_EQ(order.size(), 4u);
    std::vector<std::string> loadable;
    std::copy_if(order.begin(), order.end(), std::back_inserter(loadable),
                 [](const std::string& name) { return name != "broken.wav"; });

    auto loads = [](const std::string& name) { return name != "broken.wav"; };
    // ">" takes the next candidate that loads, else the first one.
    auto expectedNext = [&](const std::string& current) -> std::string {
        auto at = std::find(order.begin(), order.end(), current);
        for (auto next = at + 1; next < order.end(); ++next)
            if (loads(*next))
                return *next;
        return loads(order[0]) ? order[0] : std::string();
    };
    settings().samplePath = folder + loadable[0];
    AudioFileDlg* dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    std::string current = loadable[0];
    for (size_t step = 1; step <= loadable.size() + 1 && !current.empty(); ++step) {
        click(IDC_PLAYER_NEXT);
        current = expectedNext(current);
        if (current.empty()) {
            EXPECT_EQ(dialog->currentFile(), "") << "the first candidate failed too";
            break;
        }
        EXPECT_EQ(dialog->currentFile(), folder + current) << "step " << step;
        EXPECT_EQ(text(IDC_PLAYER_FILENAME), current);
        EXPECT_EQ(settings().samplePath, folder + current);
    }
    settings().samplePath = folder + order[0];
    closePlayer();
    dialog = openPlayer();
    ASSERT_NE(dialog, nullptr);
    click(IDC_PLAYER_PREVIOUS); // the first candidate wraps to the last
    EXPECT_EQ(dialog->currentFile(), folder + order.back());
    click(IDC_PLAYER_PREVIOUS);
    EXPECT_EQ(dialog->currentFile(), folder + order[order.size() - 2]);
    EXPECT_TRUE(messages.empty()) << "stepping shows no message";

    useAnswers();
    answers.paths = {folder + "broken.wav"};
    click(IDC_PLAYER_LOAD);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kLoadSampleFailedText);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(text(IDC_PLAYER_FILENAME), "");
    EXPECT_EQ(dialog->currentFile(), folder + "broken.wav");
}

// Stands in for a window the player's handler shows: a message box (which
// disables the player) or a window with no owner (a driver's control panel),
// whose loop may deliver a close of the main window.
struct CloseMainWhileAsking {
    CKsVSTHostDlg* window;
    bool disablesOwner;
    int shown = 0;
    bool playerStayed = false;
};

void closeMainWhileAsking(HWND owner, const char*, const char*, void* user) {
    auto* asking = static_cast<CloseMainWhileAsking*>(user);
    ++asking->shown;
    EnableWindow(owner, asking->disablesOwner ? FALSE : TRUE);
    SendMessageA(asking->window->handle(), WM_CLOSE, 0, 0);
    asking->playerStayed = asking->window->audioPlayer() != nullptr;
    EnableWindow(owner, TRUE);
}

// The player's handler still runs after its box: closing the program then
// would delete the player under it.
TEST_F(AudioFileDlgWine, ClosingWhileThePlayerShowsAMessageWaitsForTheAnswer) {
    const std::string notAudio = binFolder() + "player-not-audio.wav";
    std::ofstream(notAudio, std::ios::trunc) << "not audio";
    ASSERT_NE(openPlayer(), nullptr);
    for (const bool disablesOwner : {true, false}) {
        useAnswers();
        answers.paths = {notAudio};
        answers.nextPath = 0;
        CloseMainWhileAsking asking{window.get(), disablesOwner};
        setUserMessageSink(closeMainWhileAsking, &asking);
        click(IDC_PLAYER_LOAD);
        setUserMessageSink(collectMessage, &messages);
        EXPECT_EQ(asking.shown, 1) << disablesOwner;
        ASSERT_TRUE(asking.playerStayed) << disablesOwner;
        EXPECT_TRUE(window->mainWindowOpen());
        EXPECT_EQ(text(IDC_PLAYER_FILENAME), "");
    }
}

TEST_F(AudioFileDlgWine, WindowPositionIsClampedAndRememberedAndPictured) {
    ASSERT_TRUE(settings().writeDword("playerPositionX", 300));
    ASSERT_TRUE(settings().writeDword("playerPositionY", 900));
    settings().sampleCalcTempo = true;
    settings().samplePath = soxFile("wav-s16-stereo-48k.wav"); // 0.2 s: no tempo
    ASSERT_NE(openPlayer(), nullptr);
    RECT frame;
    GetWindowRect(player(), &frame);
    ASSERT_LT(frame.right - frame.left, 500);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 50);
    EXPECT_EQ(text(IDC_PLAYER_TEMPO), "failed");
    EXPECT_EQ(SendDlgItemMessageA(player(), IDC_RECORDER_LENGTHS, CB_GETCOUNT, 0, 0), 19);
    EXPECT_EQ(SendDlgItemMessageA(player(), IDC_RECORDER_OPTIONS, CB_GETCOUNT, 0, 0), 4);

    std::string folder = binFolder() + "screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(captureWindowToBmp(player(), folder + "\\audio-player-recorder.bmp"));

    SetWindowPos(player(), nullptr, 40, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    tick();
    closePlayer();
    int32_t x = 0, y = 0;
    ASSERT_TRUE(settings().readDword("playerPositionX", x));
    ASSERT_TRUE(settings().readDword("playerPositionY", y));
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 60);
}

} // namespace
