// MIDI between the outside world and the plug-in: inputs through their
// filters into the event lists, the computer keyboard, and the plug-in's
// MIDI output.

#include "KsVSTHostInterface.h"

#include <algorithm>

namespace {

constexpr uint32_t kListIndexBit = 1u << 31;
constexpr uint32_t kProducerMask = kListIndexBit - 1;
constexpr uint8_t kComputerKeyVelocity = 94;
constexpr int32_t kHighestOctave = 10;

// Semitone of a note key: the middle letter row holds the white keys, the
// row above the black ones.
int semitoneOfKey(uint8_t key) {
    switch (key) {
    case 'D':
        return 0;
    case 'R':
        return 1;
    case 'F':
        return 2;
    case 'T':
        return 3;
    case 'G':
        return 4;
    case 'H':
        return 5;
    case 'U':
        return 6;
    case 'J':
        return 7;
    case 'I':
        return 8;
    case 'K':
        return 9;
    case 'O':
        return 10;
    case 'L':
        return 11;
    default:
        return -1;
    }
}

bool passesFilters(const MidiMessage& m, const MidiDeviceSettings& d) {
    const int32_t channel = readSharedOption(d.channel);
    if (channel != 0 && channel - 1 != m.channel)
        return false;
    if (readSharedOption(d.filterCCMessages) && m.status == 0xB0)
        return false;
    if (readSharedOption(d.filterProgramChanges) && m.status == 0xC0)
        return false;
    return m.data1 >= readSharedOption(d.keyboardRangeLeft) &&
           m.data1 <= readSharedOption(d.keyboardRangeRight);
}

} // namespace

bool KsVSTHostInterface::appendEvent(uint8_t status, uint8_t data1, uint8_t data2) {
    // Announce the append and learn the write list in one step.
    const uint32_t state = eventLock.fetch_add(1, std::memory_order_acq_rel);
    EventList& list = eventLists[state >> 31];
    const uint32_t slot = list.count.fetch_add(1, std::memory_order_relaxed);
    const bool stored = slot < list.capacity;
    if (stored) {
        VstMidiEvent& event = list.record(slot);
        event.deltaFrames = 0;
        event.midiData[0] = static_cast<char>(status);
        event.midiData[1] = static_cast<char>(data1);
        event.midiData[2] = static_cast<char>(data2);
    } else {
        droppedEvents.fetch_add(1, std::memory_order_relaxed);
    }
    eventLock.fetch_sub(1, std::memory_order_release);
    return stored;
}

// Swaps the lists only when no producer is appending: the flip of the index
// succeeds only on a state with no producers, so every event written to the
// delivered list is complete and no later append can reach it.
void KsVSTHostInterface::deliverEvents() {
    uint32_t state = eventLock.load(std::memory_order_acquire);
    if ((state & kProducerMask) != 0)
        return; // the events wait for the next cycle
    if (eventLists[state >> 31].count.load(std::memory_order_relaxed) == 0)
        return; // nothing to deliver; an append starting now lands in this list
    if (!eventLock.compare_exchange_strong(state, state ^ kListIndexBit, std::memory_order_acq_rel))
        return;
    EventList& list = eventLists[state >> 31];
    const uint32_t count = std::min(list.count.load(std::memory_order_acquire), list.capacity);
    VstEvents* header = list.header();
    header->numEvents = static_cast<VstInt32>(count);
    list.count.store(0, std::memory_order_relaxed);
    if (count == 0)
        return;
    list.restoreRecords(count);
    dispatch(effProcessEvents, 0, 0, header);
    startArmedPlayerAndRecorder();
}

bool KsVSTHostInterface::startMidi() {
    if (startsRefused || !isAttached())
        return false;
    stopMidi();
    midiOutDevice = nullptr;
    for (const auto& device : midiDriver->devices) {
        if (!device->isInput && device->active) {
            midiOutDevice = device.get();
            break;
        }
    }
    bool result = true;
    if (dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")) == 1)
        result = openMidiInputs();
    if (dispatch(effCanDo, 0, 0, const_cast<char*>("sendVstMidiEvent")) == 1 &&
        midiOutDevice != nullptr)
        result = openMidiOutput() && result;
    return result;
}

bool KsVSTHostInterface::openMidiInputs() {
    bool result = true;
    for (const auto& known : settings->midiDevices) {
        if (!known->isInput || !known->active || known->deviceIndex == -1)
            continue;
        MidiDeviceSettings* device = settings->findMidiDevice(*known);
        if (device == nullptr)
            return false;
        inputContexts.push_back(std::make_unique<InputContext>());
        InputContext* context = inputContexts.back().get();
        context->device = device;
        context->engine = this;
        // Only an input that opened can deliver the clock the host's song
        // position then follows.
        if (!midiDriver->open(device, nullptr, midiInputCallback, context)) {
            known->active = false;
            device->active = false;
            result = false;
        } else if (device->sync) {
            syncActive.store(true);
        }
    }
    return result;
}

bool KsVSTHostInterface::openMidiOutput() {
    if (!midiDriver->open(nullptr, midiOutDevice, nullptr, this)) {
        midiOutDevice = nullptr;
        return false;
    }
    hostLib->record.midiOutUserData = this;
    hostLib->record.midiOutHook = midiOutHook;
    return true;
}

// The driver reports every input closed before `close` returns, so the
// input contexts are released here, on the window thread, and never by the
// MIDI thread.
void KsVSTHostInterface::stopMidi() {
    if (!isAttached())
        return;
    midiDriver->close();
    syncActive.store(false);
    inputContexts.clear();
}

void KsVSTHostInterface::midiInputCallback(const MidiMessage& message, void* userData) {
    auto* context = static_cast<InputContext*>(userData);
    if (context == nullptr || context->engine == nullptr || context->device == nullptr)
        return;
    if (message.status == 0 && message.type == 0) {
        context->closed.store(true);
        return;
    }
    context->engine->routeInput(message, *context);
}

void KsVSTHostInterface::routeInput(const MidiMessage& message, InputContext& input) {
    const MidiDeviceSettings& device = *input.device;
    if (message.type == 0xF0) {
        handleSystemMessage(message, input);
        return;
    }
    if (handleTapTrigger(message) || handleTapLearning(message))
        return;
    if (!passesFilters(message, device))
        return;
    appendEvent(static_cast<uint8_t>(message.status | (message.channel & 0x0F)), message.data1,
                message.data2);
}

void KsVSTHostInterface::midiOutHook(const VstMidiEvent& event, void* engine) {
    auto* self = static_cast<KsVSTHostInterface*>(engine);
    MidiMessage message;
    message.status = static_cast<uint8_t>(event.midiData[0]);
    message.data1 = static_cast<uint8_t>(event.midiData[1]);
    message.data2 = static_cast<uint8_t>(event.midiData[2]);
    self->midiDriver->sendShortMessage(message);
}

bool KsVSTHostInterface::sendComputerKey(uint8_t key, bool down) {
    if (!isAttached())
        return false;
    if (key == 'P') {
        appendEvent(0xB0, 0x7B, 0x00); // All Notes Off, channel 1
        return true;
    }
    if (const int semitone = semitoneOfKey(key); semitone >= 0) {
        const int note = octave * 12 + semitone;
        // Above MIDI's range (octave 10, keys I to L) there is no note to play.
        if (note <= 127) {
            uint8_t& held = keyStates[note];
            if (held == 0 && down) {
                held = 1;
                appendEvent(0x90, static_cast<uint8_t>(note), kComputerKeyVelocity);
            } else if (held == 1 && !down) {
                held = 0;
                appendEvent(0x90, static_cast<uint8_t>(note), 0);
            }
        }
    } else if (key == 'C' || key == 'V') {
        if (!down)
            octave += key == 'C' ? -1 : 1;
    } else {
        return false;
    }
    octave = std::clamp(octave, 0, kHighestOctave);
    return true;
}
