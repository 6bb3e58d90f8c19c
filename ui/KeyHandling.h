#pragma once

// What the main window does with a key message before it is dispatched:
// shortcuts, the transport toggle, keys offered to the plug-in's editor and
// the computer keyboard's notes. Plain code; the window supplies the target.

#include "vst2.h"

#include <cstdint>

enum class KeyMessageKind { down, up, other };

struct KeyMessage {
    KeyMessageKind kind = KeyMessageKind::other;
    uint32_t virtualKey = 0;
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

// The parts of the main window and the engine the key handling reaches.
class KeyTarget {
public:
    virtual ~KeyTarget() = default;
    virtual void runCommand(int commandId) = 0;
    virtual bool sendComputerKey(uint8_t key, bool down) = 0;
    virtual bool hasPlugin() const = 0;
    virtual bool editorHasKeyFocus() = 0;
    // effEditKeyDown or effEditKeyUp; the plug-in's answer.
    virtual VstIntPtr offerKeyToPlugin(bool down, VstInt32 character, VstIntPtr vstKey,
                                       float modifiers) = 0;
    virtual bool transportRequested() const = 0;
    virtual void setTransport(bool playing) = 0;
};

// The VST 2 virtual key code of a Windows virtual key; 0 for keys without one.
VstIntPtr vstVirtualKey(uint32_t windowsKey);
// The character the plug-in receives: the virtual key, letters in lower case.
VstInt32 keyCharacter(uint32_t windowsKey);
// Shift 1, Alt 2, Ctrl 8.
int keyModifiers(const KeyMessage& message);

// Runs what the key means; true when the message must not be dispatched.
bool handleKeyMessage(const KeyMessage& message, KeyTarget& target);
