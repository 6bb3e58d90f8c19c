#pragma once

// The audio driver over ASIO drivers: every registered driver is listed as
// an input entry followed by an output entry (both with the driver's number
// as `index`). A stream runs on the ASIO driver's own thread: each block
// converts the two selected input channels into `channelBuffers`, calls the
// engine, and converts the pair into the two selected output channels while
// silencing every other output.
//
// Everything but the block runs on the window thread. The ASIO callbacks
// carry no user argument, so the one driver object of the process is
// reached through `instance`.

#include "AsioDrivers.h"
#include "KsAudioBase.h"

#include <atomic>
#include <vector>

class KsASIO : public KsAudioBase {
public:
    // Buffers the stream creates per direction at most.
    static constexpr int32_t kMaxBuffersPerDirection = 32;

    KsASIO();
    ~KsASIO() override;

    bool start(AudioDeviceSettings* inputDevice, AudioDeviceSettings* outputDevice,
               AudioCallback callback, void* userData) override;
    void stop() override;
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    // Reads the driver's channels, rate and preferred buffer size. A probe
    // (`probeOnly`) of an entry already read answers from the entry; before
    // a start the driver is always asked, since its control panel may have
    // changed the size or the rate since.
    bool open(AudioDeviceSettings* device, bool probeOnly) override;
    // The driver's own settings window; while streaming, the running driver's.
    bool showControlPanel(AudioDeviceSettings* device);

    static inline std::atomic<KsASIO*> instance{nullptr};

    AsioDrivers drivers;
    ASIODriverInfo driverInfo{};
    ASIOCallbacks callbacks{};
    // One record per channel of the driver (at least 64), inputs first; once
    // the buffers exist, record k describes buffer k.
    std::vector<ASIOChannelInfo> channelInfos;
    int32_t inputChannels = 0;
    int32_t outputChannels = 0;
    ASIOBufferInfo bufferInfos[2 * kMaxBuffersPerDirection]{};
    int32_t inputBuffers = 0;
    int32_t outputBuffers = 0;
    int32_t inputLatency = 0;
    int32_t outputLatency = 0;
    int32_t minSize = 0;
    int32_t maxSize = 0;
    int32_t preferredSize = 0;
    int32_t granularity = 0;
    double sampleRate = 0.0;
    int32_t bufferSize = 0;
    bool postOutput = false;
    int32_t leftInput = 0;
    int32_t rightInput = 0;
    int32_t leftOutput = 0;
    int32_t rightOutput = 0;
    AudioDeviceSettings* inputDevice = nullptr;
    AudioCallback callback = nullptr;
    void* userData = nullptr;

    // The block's own view of `running`, shared with the driver's thread.
    std::atomic<bool> streaming{false};

    // The block as the driver's thread runs it, for half `half`.
    void processBlock(int32_t half);

private:
    // Waits up to two seconds for a block in our code to end; false if it did not.
    bool blockEnded() const;
    void listDevices();
    bool initDriver();
    bool prepareBuffers();
    bool runsAsAnnounced(const AudioDeviceSettings& output) const;
    void describe(AudioDeviceSettings& device);
    void describeUnreadEntries(int32_t driverIndex);
    bool readChannelInfos();
    bool driverName(const AudioDeviceSettings* device, char* name);
    void convertInputs(int32_t half);
    void writeOutputs(int32_t half);
    void silenceOutputs(int32_t half);

    static void bufferSwitch(int32_t index, AsioBool processNow);
    static ASIOTime* bufferSwitchTimeInfo(ASIOTime* time, int32_t index, AsioBool processNow);
    static void sampleRateDidChange(double rate);
    static int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt);

    // Blocks in our code: a driver may deliver from two threads at once
    // (after a reset), and one ending must not count the other out.
    std::atomic<int> blocksInside{0};
    // Cleared once the driver's stop has returned: a block it still delivers
    // then may find the half-buffers disposed of, and leaves them alone.
    std::atomic<bool> buffersHeld{false};
};

// The answer to a driver's message (`asioMessage`).
int32_t asioMessageAnswer(int32_t selector, int32_t value);
