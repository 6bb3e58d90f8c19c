#pragma once

// The engine: between the audio drivers and the plug-in it runs the audio
// cycle, routes MIDI, keeps the tempo and transport the plug-in reads as
// host time, saves the plug-in's state and plays and records audio.
//
// Threads: the window thread attaches, starts and stops audio and MIDI and
// calls every operation not marked otherwise. The audio thread runs the
// cycle (`audioCycle`). The MIDI driver's thread runs the input callback.
// They meet only through atomics; the audio thread and the MIDI callback
// take no lock, allocate nothing and never wait.

#include "CpuLoadMeter.h"
#include "EventList.h"
#include "HostSettings.h"
#include "KsAudioBase.h"
#include "KsAudioFileBase.h"
#include "KsMidiBase.h"
#include "KsVSTHostLib.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class KsVSTHostInterfaceBase {
public:
    KsVSTHostInterfaceBase() = default;
    virtual ~KsVSTHostInterfaceBase() = default;
    KsVSTHostInterfaceBase(const KsVSTHostInterfaceBase&) = delete;
    KsVSTHostInterfaceBase& operator=(const KsVSTHostInterfaceBase&) = delete;

    // Tap tempo learning. The learned trigger is one packed word (status and
    // data1), so the window thread can forget it while the MIDI thread reads
    // it: there is no shared object to free.
    std::atomic<bool> learnMode{false};
    // Taken by the one input that learns; cleared before learning starts.
    std::atomic_flag learnClaim = ATOMIC_FLAG_INIT;
    void startTapLearning() {
        learnClaim.clear();
        learnMode.store(true);
    }
    std::optional<MidiMessage> learnedTapMessage() const;
    void setLearnedTapMessage(uint8_t status, uint8_t data1);
    void forgetLearnedTapMessage();
    // Taps may come from several inputs, each on a thread of its own.
    std::atomic<bool> tapCCWasLow{false};

    std::atomic<bool> playerDialogOpen{false};

    KsVSTHostLib* hostLib = nullptr;
    AudioDriverPair* audioDrivers = nullptr;
    KsMidiBase* midiDriver = nullptr;
    HostSettings* settings = nullptr;

    std::atomic<bool> running{false};
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> inCycle{false};
    // Requests to the cycle: the requester writes the value (`tempo`,
    // `transportRequested`) before it raises the pending flag, and the cycle
    // takes the flag with an exchange before it reads the value, so the last
    // request always reaches the plug-in.
    std::atomic<bool> tempoPending{false};
    std::atomic<double> tempo{120.0};
    double ppqPerSample = 0.0; // audio thread while streaming
    std::atomic<bool> transportPending{true};
    std::atomic<bool> transportRequested{false}; // the transport wanted next
    std::atomic<bool> transportPlaying{false};   // as the cycle last showed it

    // Recorder.
    std::atomic<int32_t> recorderState{0};
    std::unique_ptr<float[]> recordLeft;
    std::unique_ptr<float[]> recordRight;
    uint32_t recordCapacity = 0;
    bool recorderOutOfMemory = false; // why the last start failed, if it did
    std::atomic<uint32_t> recordedFrames{0};

    // Player.
    std::atomic<int32_t> playerState{0};
    std::atomic<bool> startBothRequest{false};
    std::unique_ptr<float[]> playerLeft;
    std::unique_ptr<float[]> playerRight;
    std::unique_ptr<KsAudioFileBase> playerFile;
    std::atomic<uint32_t> playedFrames{0};
    uint32_t playerLength = 0;
    uint32_t playerFileRate = 0; // sample rate of the loaded file; 0 without one
    bool loop = false;
    bool finished = false;

    MidiDeviceSettings* midiOutDevice = nullptr;

    // The two event lists. `eventLock` holds the index of the write list in
    // its top bit and the number of producers appending right now below it:
    // choosing the list and announcing an append are one atomic step, and
    // the cycle swaps only when no producer is inside.
    EventList eventLists[2];
    std::atomic<uint32_t> eventLock{0};
    std::atomic<uint64_t> droppedEvents{0}; // appends refused by a full list
    uint32_t writeIndex() const { return eventLock.load() >> 31; }
    EventList& writeList() { return eventLists[writeIndex()]; }

    // MIDI clock; its tempo is measured per input (see InputContext).
    std::atomic<bool> syncActive{false};

    // Written by the window thread only while the player is stopped and no
    // cycle runs; a rewind while it plays is handed to the cycle.
    double playerPos = 0.0;
    double playerStep = 0.0;
    std::atomic<bool> rewindRequest{false};

    std::atomic<double> clockPpq{0.0};
    std::atomic<double> lastClockPpq{0.0};
    std::atomic<double> ppqPos{0.0};

    uint8_t keyStates[128] = {};
    int32_t octave = 4;

private:
    static constexpr uint32_t kNoLearnedTap = 0;
    std::atomic<uint32_t> learnedTap{kNoLearnedTap};
};

class KsVSTHostInterface : public KsVSTHostInterfaceBase {
public:
    KsVSTHostInterface();
    ~KsVSTHostInterface() override;

    void attach(KsVSTHostLib* lib, AudioDriverPair* drivers, KsMidiBase* midi,
                HostSettings* hostSettings);
    bool isAttached() const;

    // Audio.
    bool startAudio();
    void stopAudio();
    // Once the plug-in is about to close, no stream and no MIDI input starts
    // again (a plug-in closing may run the window thread's messages, a
    // settings window's Apply among them).
    void refuseStarts() { startsRefused = true; }
    // A start or stop is under way: the plug-in may be inside one of its
    // calls (and may run the window thread's messages there).
    bool inAudioTransition() const { return audioTransition; }
    // Before the plug-in closes: a stream that `stopAudio` could not end is
    // waited for two seconds more and then cut off from the engine, so no
    // block reaches the plug-in afterwards (an ASIO stop is tried once more;
    // a block still stuck keeps `running` set).
    void cutOffStream() { endStreamThreadBounded(); }
    // The per-block function the drivers call (audio thread).
    static bool audioCycle(float** inputs, float** outputs, uint32_t frames, void* engine);

    // Tempo and transport.
    double getTempo() const { return tempo.load(); }
    void setTempo(double bpm);
    void setTransport(bool playing);

    // MIDI.
    bool startMidi();
    void stopMidi();
    bool sendComputerKey(uint8_t key, bool down);
    // Appends one event for the next block; false when the list is full.
    // Safe from any number of threads at once; never waits.
    bool appendEvent(uint8_t status, uint8_t data1, uint8_t data2);
    static void midiInputCallback(const MidiMessage& message, void* context);

    // Player and recorder (window thread).
    // Reads a whole file into the player; its frame count, 0 on failure.
    uint32_t loadPlayerFile(const std::string& path);
    int32_t playerFileSampleRate() const { return static_cast<int32_t>(playerFileRate); }
    bool setPlayerState(int32_t state, bool looped);
    void rewindPlayer();
    void freePlayerBuffers();
    bool setRecorderState(int32_t state, uint32_t maxFrames);
    void freeRecorderBuffers();

    // The plug-in's state file.
    void saveState();
    void loadState();

    // Settings changes made on the MIDI or audio thread (a learned tap, a
    // tempo from the plug-in) are saved here, on the window thread, which
    // calls this from its timer. True when something was saved.
    bool saveSettingsIfRequested();

    CpuLoadMeter cpuMeter;
    int32_t cycleCount = 0;
    std::atomic<int32_t> cpuLoad{0};
    int64_t perfFrequency = 0;
    int64_t lastTapCounter = 0;
    // The clock taps are timed with; tests give their own.
    int64_t (*readPerformanceCounter)() = nullptr;
    uint32_t tapSumMs = 0;
    int32_t tapCount = 0;
    // Held by the input whose tap is being counted; never waited for.
    std::atomic_flag tapInProgress = ATOMIC_FLAG_INIT;

private:
    // One per open input. Inputs deliver on threads of their own, so the
    // clock's tempo is measured from each input's own clocks.
    struct InputContext {
        MidiDeviceSettings* device;
        KsVSTHostInterface* engine;
        std::atomic<bool> closed{false};
        double clockAccumulatedMs = 0.0;
        int32_t clockCount = 0;
    };

    // Audio start and the cycle's steps.
    bool isInstrument() const;
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const;
    bool startAudioNow();
    void stopStream();
    bool openDevicesAndCheckFormats(AudioDeviceSettings*& input, AudioDeviceSettings*& output);
    void releasePreparedStreams();
    void prepareHostTime(const AudioDeviceSettings& output);
    bool startStreaming(AudioDeviceSettings* input, AudioDeviceSettings* output);
    struct StreamLink;
    static void runStreamThread(std::shared_ptr<StreamLink> link, KsAudioBase* driver,
                                AudioDeviceSettings* input, AudioDeviceSettings* output);
    static bool streamCycle(float** inputs, float** outputs, uint32_t frames, void* link);
    void joinStreamThread();
    void endStreamThreadBounded();
    void stopAsioStream();
    void installHostHooks();
    bool cycle(float** inputs, float** outputs, uint32_t frames);
    void applyPendingTransportAndTempo();
    void startArmedByRequest();
    void deliverEvents();
    void startArmedPlayerAndRecorder();
    void writeHostPosition();
    void prepareInput(float** inputs, uint32_t frames);
    void playFile(float** inputs, uint32_t frames);
    void tapRecorder(float** outputs, uint32_t frames);
    void measureCpuLoad();
    double outputSampleRate() const;
    bool waitUntilOutsideCycle() const;
    bool stopPlayerOutsideCycle();
    bool stopRecorderOutsideCycle();
    bool readPlayerFile(const std::string& path);

    // Tempo from the plug-in, MIDI clock and taps.
    static void tempoHook(double bpm, void* engine);
    static void transportHook(bool playing, void* engine);
    void requestTempo(double bpm);
    void handleSystemMessage(const MidiMessage& message, InputContext& input);
    void handleClock(const MidiMessage& message, InputContext& input);
    bool handleTapTrigger(const MidiMessage& message);
    bool handleTapLearning(const MidiMessage& message);
    void tap();

    // MIDI routing.
    static void midiOutHook(const VstMidiEvent& event, void* engine);
    void routeInput(const MidiMessage& message, InputContext& input);
    bool openMidiInputs();
    bool openMidiOutput();

    // How the running stream was started, so it is stopped the same way.
    enum class StreamKind { none, asio, ownThread };
    StreamKind streamKind = StreamKind::none;
    bool audioTransition = false; // a start or stop is under way (window thread)
    bool startsRefused = false;
    std::thread streamThread;
    std::shared_ptr<StreamLink> streamLink;
    std::vector<std::unique_ptr<InputContext>> inputContexts;
    std::atomic<bool> settingsSaveRequested{false};
    // "saved.chunk" was there at start but could not be handed over.
    bool stateFileNotLoaded = false;
};
