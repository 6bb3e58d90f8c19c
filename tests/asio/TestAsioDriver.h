#pragma once

// An ASIO driver of our own for tests: configured by a small text (one
// "key value" per line), it runs a thread that calls the host's buffer
// switch at the block rate, feeds every input half-buffer with a known
// signal in the channel's sample type, fills every output half-buffer with
// a marker before the host's turn, and records what the host left in each.
// On Windows it is an in-process COM server (TestAsioDll.cpp); elsewhere the
// tests register it in-process.

#include "AsioInterface.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct TestAsioConfig {
    std::string driverName = "KsTest ASIO";
    int32_t inputs = 2;
    int32_t outputs = 2;
    std::vector<int32_t> inputTypes;  // per channel; missing ones take `inputType`
    std::vector<int32_t> outputTypes; // per channel; missing ones take `outputType`
    int32_t inputType = ASIOSTFloat32LSB;
    int32_t outputType = ASIOSTFloat32LSB;
    std::vector<std::string> inputNames; // missing ones are "In n" (from 1)
    std::vector<std::string> outputNames;
    int32_t minSize = 64;
    int32_t maxSize = 2048;
    int32_t preferredSize = 256;
    int32_t granularity = -1;
    double sampleRate = 48000.0;
    bool initFails = false;
    std::string errorText = "KsTest ASIO: no hardware";
    int32_t controlPanelResult = 0;
    bool timeInfo = false;       // calls bufferSwitchTimeInfo when the host supports it
    bool outputReady = true;     // accepts ASIOOutputReady
    int32_t resetAfter = 0;      // asks for a reset after this many blocks (0: never)
    int32_t recordBlocks = 64;   // blocks recorded per output from the start
    bool blockAfterStop = false; // delivers one more block while disposing of the buffers

    int32_t typeOf(bool isInput, int32_t channel) const;
    std::string nameOf(bool isInput, int32_t channel) const;
};

// Reads "key value" lines; unknown keys and bad values are ignored.
// Keys: name, inputs, outputs, inputType, outputType, input.N.type,
// output.N.type, input.N.name, output.N.name, minSize, maxSize,
// preferredSize, granularity, sampleRate, initFails, errorText,
// controlPanelResult, timeInfo, outputReady, resetAfter, recordBlocks,
// blockAfterStop.
TestAsioConfig parseTestAsioConfig(const std::string& text);

// What outlives the driver objects of one registered instance: the
// configuration each new object takes, and what the objects saw.
struct TestAsioInstance {
    // Forgets what earlier objects saw (no object may be alive).
    void reset();

    TestAsioConfig config;
    std::atomic<int> created{0};
    std::atomic<int> released{0};
    std::atomic<int> releasedRunning{0}; // released before the host stopped them
    std::atomic<int> inits{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> controlPanels{0};
    std::atomic<int> blocks{0};
    std::atomic<int> running{0};
    std::atomic<int32_t> resetAnswer{-1};
    std::atomic<int32_t> createdBufferSize{0};
    std::atomic<int32_t> createdBuffers{0};
    // Runs inside every control panel call, as the panel's own loop would.
    std::atomic<void (*)(void*)> onControlPanel{nullptr};
    std::atomic<void*> onControlPanelUser{nullptr};
    std::atomic<int> lateBlocks{0};      // delivered after the host's stop
    std::atomic<int> writesAfterStop{0}; // output halves the host changed in them
    // Written by the driver's thread, read after it stopped.
    std::vector<int32_t> outputTypes;                   // of the created output buffers
    std::vector<std::vector<unsigned char>> recorded;   // per created output buffer
    std::vector<std::vector<unsigned char>> lastBlocks; // per created output buffer
};

// The signal the driver feeds: input channel `channel`, frame `frame` (from
// the start), as a 16-bit value.
int16_t testAsioSignal(int32_t channel, uint32_t frame);
// That value stored as one sample of `type` (`asioSampleWidth` bytes).
void encodeTestAsioSample(int32_t type, int16_t value, unsigned char* out);
// Bytes per sample of a type as the driver lays out its buffers (4 for
// types it does not know).
size_t testAsioSampleWidth(int32_t type);
// The marker byte every output half-buffer holds before the host's turn.
constexpr unsigned char kTestAsioMarker = 0xA5;

class TestAsioDriver final : public IAsioDriver {
public:
    explicit TestAsioDriver(TestAsioInstance& instance);
    ~TestAsioDriver();

    int32_t QueryInterface(const AsioClassId& interfaceId, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    AsioBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override;
    AsioError start() override;
    AsioError stop() override;
    AsioError getChannels(int32_t* inputs, int32_t* outputs) override;
    AsioError getLatencies(int32_t* input, int32_t* output) override;
    AsioError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override;
    AsioError canSampleRate(double rate) override;
    AsioError getSampleRate(double* rate) override;
    AsioError setSampleRate(double rate) override;
    AsioError getClockSources(ASIOClockSource* clocks, int32_t* count) override;
    AsioError setClockSource(int32_t reference) override;
    AsioError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* time) override;
    AsioError getChannelInfo(ASIOChannelInfo* info) override;
    AsioError createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    AsioError disposeBuffers() override;
    AsioError controlPanel() override;
    AsioError future(int32_t, void*) override { return asioInvalidParameter; }
    AsioError outputReady() override;

private:
    struct Buffer {
        bool isInput;
        int32_t channel;
        int32_t type;
        std::vector<unsigned char> halves[2];
    };
    void run();
    void runBlock(int half);
    void fillInputs(int half);
    void recordOutputs(int half);
    void deliverLateBlock();

    TestAsioInstance& instance;
    TestAsioConfig config;
    std::atomic<uint32_t> references{1};
    std::vector<Buffer> buffers;
    ASIOCallbacks hostCallbacks{};
    bool useTimeInfo = false;
    int32_t bufferFrames = 0;
    std::atomic<uint32_t> samplePosition{0};
    std::atomic<bool> stopRequest{false};
    std::thread thread;
    ASIOTime time{};
};
