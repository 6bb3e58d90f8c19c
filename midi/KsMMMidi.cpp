#include "KsMMMidi.h"

#include "Clock.h"
#include "MidiDeviceList.h"

#include <windows.h>

#include <mmsystem.h>

namespace {

constexpr DWORD kCloseNoticeWaitMs = 5000;

class WinmmCatalog : public MidiDeviceCatalog {
public:
    uint32_t inputCount() const override { return midiInGetNumDevs(); }
    uint32_t outputCount() const override { return midiOutGetNumDevs(); }
    std::optional<std::string> inputName(uint32_t id) const override {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            return std::nullopt;
        return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
    }
    std::optional<std::string> outputName(uint32_t id) const override {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            return std::nullopt;
        return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
    }
};

void CALLBACK inputProcedure(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR first,
                             DWORD_PTR) {
    auto* input = reinterpret_cast<MidiInputContext*>(instance);
    if (input == nullptr)
        return;
    if (message == MIM_DATA)
        deliverShortMessage(*input, static_cast<uint32_t>(first), platform::performanceCounter());
    else if (message == MIM_CLOSE)
        deliverCloseNotice(*input);
}

bool waitForCloseNotice(const MidiInputContext& context) {
    const DWORD start = GetTickCount();
    while (!context.closeNoticed.load(std::memory_order_acquire)) {
        if (GetTickCount() - start > kCloseNoticeWaitMs)
            return false;
        Sleep(1);
    }
    return true;
}

} // namespace

KsMMMidi::KsMMMidi() : arrivals(platform::performanceFrequency()) {
    devices = buildMidiDeviceList(WinmmCatalog());
}

KsMMMidi::~KsMMMidi() {
    KsMMMidi::close();
    devices.clear();
}

bool KsMMMidi::open(const MidiDeviceSettings* input, const MidiDeviceSettings* outputDevice,
                    MidiInputCallback callback, void* userData) {
    if (input == nullptr && outputDevice == nullptr)
        return false;
    closed.store(false);
    if (input != nullptr && !openInput(*input, callback, userData))
        return false;
    return outputDevice == nullptr || openOutput(*outputDevice);
}

bool KsMMMidi::openInput(const MidiDeviceSettings& device, MidiInputCallback callback,
                         void* userData) {
    auto context = std::make_unique<MidiInputContext>(callback, userData, arrivals);
    HMIDIIN handle = nullptr;
    if (midiInOpen(&handle, static_cast<UINT>(device.deviceIndex),
                   reinterpret_cast<DWORD_PTR>(&inputProcedure),
                   reinterpret_cast<DWORD_PTR>(context.get()),
                   CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return false; // no close notice will come: the context goes now
    OpenInput opened{reinterpret_cast<uintptr_t>(handle), std::move(context)};
    if (midiInStart(handle) != MMSYSERR_NOERROR) {
        closeInput(opened); // else the device stays open and its context is lost
        return false;
    }
    inputs.push_back(std::move(opened));
    return true;
}

bool KsMMMidi::openOutput(const MidiDeviceSettings& device) {
    HMIDIOUT handle = nullptr;
    if (midiOutOpen(&handle, static_cast<UINT>(device.deviceIndex), 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR)
        return false;
    // A second output in a row replaces the first; the engine opens one.
    if (const MidiOutputGate::Handle previous = output.withdraw(); previous != 0)
        midiOutClose(reinterpret_cast<HMIDIOUT>(previous));
    output.publish(reinterpret_cast<MidiOutputGate::Handle>(handle));
    return true;
}

void KsMMMidi::closeInput(OpenInput& input) {
    auto handle = reinterpret_cast<HMIDIIN>(input.handle);
    // A delivery may run on a thread of the system's own, even while the
    // close notice comes: none reaches the engine once this returns. After
    // its close notice the system calls with the context no more, so it is
    // freed then; without a notice it is kept.
    constexpr int kDeliveryWaitMs = static_cast<int>(kCloseNoticeWaitMs);
    const bool deliveriesStopped = stopDeliveries(*input.context, kDeliveryWaitMs);
    midiInStop(handle);
    midiInReset(handle);
    if (midiInClose(handle) != MMSYSERR_NOERROR || !waitForCloseNotice(*input.context) ||
        !deliveriesStopped || !stopDeliveries(*input.context, kDeliveryWaitMs)) {
        abandonInput(*input.context);
        (void)input.context.release(); // the system may still call with it
        return;
    }
    input.context.reset();
}

void KsMMMidi::close() {
    closed.store(true);
    for (OpenInput& input : inputs)
        closeInput(input);
    inputs.clear();
    if (const MidiOutputGate::Handle handle = output.withdraw(); handle != 0)
        midiOutClose(reinterpret_cast<HMIDIOUT>(handle));
}

void KsMMMidi::sendShortMessage(const MidiMessage& message) {
    if (closed.load())
        return;
    const DWORD packed = static_cast<DWORD>(message.status) |
                         static_cast<DWORD>(message.data1) << 8 |
                         static_cast<DWORD>(message.data2) << 16;
    output.sendThrough([packed](MidiOutputGate::Handle handle) {
        midiOutShortMsg(reinterpret_cast<HMIDIOUT>(handle), packed);
    });
}
