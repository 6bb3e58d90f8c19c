// Any stream of MIDI messages and computer keys through the engine's input
// path: filters, clock, taps, learning and the event lists never fault.

#include "KsVSTHostInterface.h"

#include <cstddef>
#include <cstdint>

namespace {

struct SilentMidi : KsMidiBase {
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback cb,
              void* user) override {
        callback = cb;
        context = user;
        return true;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
    MidiInputCallback callback = nullptr;
    void* context = nullptr;
};

VstIntPtr dispatcher(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == effCanDo ? 1 : 0;
}
void processReplacing(AEffect*, float**, float**, VstInt32) {}
int64_t counter = 0;
int64_t fakeCounter() {
    return counter;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    AEffect effect{};
    effect.magic = kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.processReplacing = processReplacing;
    effect.numOutputs = 2;
    KsVSTHostLib lib;
    lib.effect = &effect;
    AudioDriverPair drivers(nullptr, nullptr);
    SilentMidi midi;
    HostSettings settings("Fuzz Midi", false);
    auto device = std::make_unique<MidiDeviceSettings>();
    device->deviceIndex = 0;
    device->isInput = true;
    device->active = true;
    device->sync = data[0] & 1;
    device->syncWhilePlaying = data[0] & 2;
    device->filterCCMessages = data[0] & 4;
    device->filterProgramChanges = data[0] & 8;
    device->channel = static_cast<int8_t>(data[1]);
    device->keyboardRangeLeft = static_cast<int8_t>(data[2]);
    device->keyboardRangeRight = static_cast<int8_t>(data[3]);
    device->delay = static_cast<int16_t>(data[4] | data[5] << 8);
    settings.midiDevices.push_back(std::move(device));
    KsVSTHostInterface engine;
    engine.readPerformanceCounter = fakeCounter;
    engine.attach(&lib, &drivers, &midi, &settings);
    engine.startMidi();
    float left[16] = {}, right[16] = {};
    float* pair[2] = {left, right};
    AudioDeviceSettings output;
    output.sampleRate = 48000.0;
    settings.outputDevice = &output;
    for (size_t i = 6; i + 4 <= size; i += 4) {
        const uint8_t kind = data[i];
        if (kind < 0x80) {
            engine.sendComputerKey(data[i + 1], data[i + 2] & 1);
            if (kind == 0x7F)
                engine.learnMode = true;
        } else if (midi.callback != nullptr) {
            counter += data[i + 3];
            MidiMessage m =
                MidiMessage::fromBytes(kind, data[i + 1], data[i + 2], data[i + 3] * 0.5);
            if (m.status == 0xF8)
                m.clockIntervalMs = m.deltaMs;
            midi.callback(m, midi.context);
        }
        if (data[i + 3] == 0)
            KsVSTHostInterface::audioCycle(pair, pair, 16, &engine);
    }
    engine.stopMidi();
    lib.effect = nullptr;
    return 0;
}
