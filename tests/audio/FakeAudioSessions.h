#pragma once

// An audio session system of endpoints simulated in memory, so the WASAPI
// driver's logic runs and is checked on any system. Every wait on the
// stream event is one device period: started render streams play one
// period of what is queued, started capture streams deliver one period of
// a test signal.

#include "WasapiSystem.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fake {

std::vector<unsigned char> formatBytes(uint16_t tag, uint16_t channels, uint32_t rate,
                                       uint16_t bits, uint16_t subFormatTag = 0);
std::vector<unsigned char> floatStereo48k();

struct InitializeCall {
    wasapi::ShareMode mode;
    uint32_t flags;
    wasapi::Duration duration;
    wasapi::Duration periodicity;
    std::vector<unsigned char> format;
};

// One endpoint: what it reports and how its streams behave.
struct FakeEndpoint {
    std::wstring id;
    std::wstring name;
    std::wstring description;
    std::vector<unsigned char> format;
    bool itemFails = false;
    bool storeFails = false;
    bool idFails = false;
    bool formatReadFails = false;
    wasapi::Result initializeResult = wasapi::kOk;
    // An exclusive stream's buffer (and period) is the frames its duration
    // holds, cut down to whole frames; shared streams keep these.
    uint32_t bufferFrames = 1440; // the stream's buffer
    uint32_t periodFrames = 480;  // frames played or captured per event
    // Nonzero: an exclusive buffer must be a multiple of this many frames;
    // other durations are refused as not aligned, and the refused client
    // then tells the aligned size (rounded up) and can no longer be used.
    uint32_t exclusiveAlignmentFrames = 0;
    wasapi::Duration period = 100000; // 10 ms
    // Reported by an initialised stream; negative: the call fails.
    wasapi::Duration streamLatency = -1;
    // Capture: sample value of channel c in frame n (in the device format).
    std::function<double(uint64_t frame, uint16_t channel)> signal;
    // Capture: every packet is flagged silent (its bytes still hold the signal).
    bool capturesSilence = false;

    // Records nothing (no log, no rendered samples), so the stream loop can
    // be watched for allocations.
    bool quiet = false;

    // What happened.
    std::vector<InitializeCall> initializeCalls;
    int activations = 0;
    int clientsAlive = 0;
    bool started = false;
    std::vector<std::string> log; // "start", "stop", "getBuffer 480", ...
    std::vector<unsigned char> rendered;
    uint32_t padding = 0;
    uint64_t capturedFrames = 0;
    uint32_t pendingCapture = 0;
    std::vector<unsigned char> writtenFormat;
    std::vector<wasapi::Result> renderGetBufferResults; // consumed first, then kOk
};

class FakeSystem : public wasapi::System {
public:
    FakeSystem();

    void initializeThread() override { ++threadInitialisations; }
    wasapi::Result createEnumerator(std::unique_ptr<wasapi::DeviceEnumerator>& enumerator) override;
    std::unique_ptr<wasapi::StreamEvent> createEvent() override;
    std::string toMultibyte(const std::wstring& text, size_t maxBytes) override;
    void sleepMs(uint32_t milliseconds) override { sleeps.push_back(milliseconds); }

    FakeEndpoint& addEndpoint(wasapi::Flow flow, const std::wstring& id, const std::wstring& name,
                              const std::wstring& description,
                              std::vector<unsigned char> format = floatStereo48k());
    // Called by the stream event for every wait.
    void advanceOnePeriod();

    std::vector<std::shared_ptr<FakeEndpoint>> endpoints[2];
    std::wstring defaultId[2];
    bool enumeratorFails = false;
    int waitsBeforeTimeout = -1; // -1: waits never time out
    int waits = 0;
    uint64_t timedOutMs = 0;         // the time-outs of the waits that timed out
    std::function<void(int)> onWait; // called with the count at every wait
    int eventsAlive = 0;
    int threadInitialisations = 0;
    std::vector<uint32_t> sleeps;
};

} // namespace fake
