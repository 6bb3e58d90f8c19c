#pragma once

// Doubles of the audio and MIDI drivers and a fixture that wires the real
// engine to a real test plug-in and real settings.

#include "Clock.h"
#include "HostSettings.h"
#include "KsVSTHostInterface.h"
#include "MessageBox.h"
#include "MidiInputDelivery.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A driver whose callbacks come from its own thread, like an ASIO driver; or,
// with `ownThread` false, from the test itself through `runBlocks`.
class CallbackDriver : public KsAudioBase {
public:
    explicit CallbackDriver(bool ownThread = false) : ownThread(ownThread) {}
    ~CallbackDriver() override { CallbackDriver::stop(); }

    bool start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback cb,
               void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings* device, bool) override;

    // Runs `count` blocks on the calling thread; each starts with `inputValue`
    // in both channels. Returns how many the callback accepted.
    int runBlocks(int count, float inputValue = 0.25f);

    bool failStart = false;
    bool keepsStreamOnStop = false; // `stop` gives up, its stream still running
    int opens = 0;
    int starts = 0;
    std::atomic<int> blocks{0};

private:
    bool ownThread;
    AudioCallback callback = nullptr;
    void* userData = nullptr;
    uint32_t frames = 0;
    std::thread thread;
    std::atomic<bool> threadStop{false};
};

// A driver whose stream loop runs in the thread that calls `start`, like the
// WASAPI driver: it returns true when the callback asks to end.
class BlockingLoopDriver : public KsAudioBase {
public:
    bool start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback cb,
               void* user) override;
    void stop() override { freeChannelBuffers(); }
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings* device, bool) override;

    bool failStart = false;
    std::atomic<int> starts{0};
    bool ignoreEnd = false; // keeps streaming after the callback said stop
    int quietAfter = -1;    // after this many blocks the device delivers none
    std::atomic<int> blocks{0};
    std::atomic<bool> forceEnd{false};
    // While set, the next block is held up, as by a plug-in stuck in its
    // processing; `holding` shows it.
    std::atomic<bool> holdBlocks{false};
    std::atomic<bool> holding{false};

private:
    void holdWhileAsked();
};

class FakeMidiDriver : public KsMidiBase {
public:
    struct OpenCall {
        const MidiDeviceSettings* input;
        const MidiDeviceSettings* output;
        MidiInputCallback callback;
        void* userData;
        std::shared_ptr<MidiInputContext> context; // inputs only
    };
    FakeMidiDriver();
    bool open(const MidiDeviceSettings* input, const MidiDeviceSettings* output,
              MidiInputCallback callback, void* userData) override;
    void close() override;
    void sendShortMessage(const MidiMessage& m) override { sent.push_back(m); }
    // Delivers a message from the n-th opened input, as the driver's thread
    // would. A clock's interval is taken to be `deltaMs`: no other message
    // came between the two clocks.
    void receive(uint8_t first, uint8_t second, uint8_t third, double deltaMs = 1.0,
                 size_t input = 0);
    // Delivers a message read at `timeMs` through the drivers' own unpacking
    // and timing, as the winmm driver's input procedure does.
    void receiveAt(double timeMs, uint8_t first, uint8_t second, uint8_t third, size_t input);

    static constexpr int64_t kCountsPerSecond = 1000000000;
    MidiArrivalTimer arrivals{kCountsPerSecond};
    std::vector<OpenCall> opened;
    std::vector<MidiMessage> sent;
    int failOpenOfDeviceIndex = -100;
    bool failOutput = false;
    int closes = 0;
};

struct CapturedMessage {
    std::string text;
    std::string caption;
};

class EngineTest : public testing::Test {
protected:
    explicit EngineTest(const char* plugin = "KsTestEffect");
    ~EngineTest() override;

    AudioDeviceSettings* addDevice(KsAudioBase& driver, int32_t type, const std::string& name,
                                   bool isInput, double rate = 48000.0, uint16_t bits = 32,
                                   int32_t bufferSize = 64);
    // Selects an ASIO-like pair of entries driven by the test thread.
    void useManualDevices(bool withInput = true);
    std::vector<KsTestCall> callsSince(size_t from) const;
    KsTestProcessInfo processInfo() const { return control.processInfo(lib.effect); }
    std::vector<VstMidiEvent> received() const { return control.receivedEvents(lib.effect); }

    std::string pluginName;
    std::string testPlugin;
    KsVSTHostLib lib;
    TestPluginControl control;
    CallbackDriver* asio;
    BlockingLoopDriver* wasapi;
    std::unique_ptr<AudioDriverPair> drivers;
    FakeMidiDriver midi;
    std::unique_ptr<HostSettings> settings;
    KsVSTHostInterface engine;
    std::vector<CapturedMessage> messages;
};
