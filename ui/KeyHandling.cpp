#include "KeyHandling.h"

#include "resource.h"

#include <array>

namespace {

constexpr uint32_t kKeyReturn = 0x0D;
constexpr uint32_t kKeyEscape = 0x1B;
constexpr uint32_t kKeySpace = 0x20;

struct KeyCode {
    uint32_t windowsKey;
    VstIntPtr vstKey;
};

constexpr std::array<KeyCode, 29> kSingleKeys{{
    {0x08, 1},  {0x09, 2},  {0x0C, 3},  {0x0D, 4},  {0x13, 5},  {0x1B, 6},  {0x20, 7},  {0x23, 9},
    {0x24, 10}, {0x25, 11}, {0x26, 12}, {0x27, 13}, {0x28, 14}, {0x21, 15}, {0x22, 16}, {0x29, 17},
    {0x2A, 18}, {0x2B, 19}, {0x2C, 20}, {0x2D, 21}, {0x2E, 22}, {0x2F, 23}, {0x90, 52}, {0x91, 53},
    {0x10, 54}, {0x11, 55}, {0x12, 56}, {0x6A, 34}, {0x6B, 35},
}};

struct KeyRange {
    uint32_t first;
    uint32_t last;
    VstIntPtr firstVstKey;
};

// Numpad digits, the numpad operators after Add, and the function keys.
constexpr std::array<KeyRange, 3> kKeyRanges{
    {{0x60, 0x69, 24}, {0x6C, 0x6F, 36}, {0x70, 0x7B, 40}}};

int shortcutCommand(uint32_t key) {
    switch (key) {
    case 'A':
        return ID_FILE_AUDIOSETTINGS;
    case 'M':
        return ID_FILE_MIDISETTINGS;
    case 'P':
        return ID_FILE_AUDIOPLAYER;
    case 'R':
        return ID_FILE_AUDIOENGINE;
    case 'T':
        return ID_FILE_TEMPO;
    default:
        return 0;
    }
}

// Step 1: shortcuts with Ctrl. Empty when the key is not one of them.
bool handleCtrlShortcut(const KeyMessage& message, KeyTarget& target, bool& swallowed) {
    if (int command = shortcutCommand(message.virtualKey); command != 0) {
        if (message.kind == KeyMessageKind::up)
            target.runCommand(command);
        swallowed = true;
        return true;
    }
    if (message.virtualKey == 'X') {
        swallowed = message.kind == KeyMessageKind::down ? target.sendComputerKey('P', true) : true;
        return true;
    }
    return false;
}

// Step 2: Space toggles the transport on release, Escape never closes.
bool handlePlainKey(const KeyMessage& message, KeyTarget& target) {
    if (message.kind == KeyMessageKind::up && message.virtualKey == kKeySpace) {
        if (!target.editorHasKeyFocus())
            target.setTransport(!target.transportRequested());
        return true;
    }
    return message.kind == KeyMessageKind::down && message.virtualKey == kKeyEscape;
}

} // namespace

VstIntPtr vstVirtualKey(uint32_t windowsKey) {
    for (const KeyCode& code : kSingleKeys)
        if (code.windowsKey == windowsKey)
            return code.vstKey;
    for (const KeyRange& range : kKeyRanges)
        if (windowsKey >= range.first && windowsKey <= range.last)
            return range.firstVstKey + static_cast<VstIntPtr>(windowsKey - range.first);
    return 0;
}

VstInt32 keyCharacter(uint32_t windowsKey) {
    if (windowsKey >= 'A' && windowsKey <= 'Z')
        return static_cast<VstInt32>(windowsKey - 'A' + 'a');
    return static_cast<VstInt32>(windowsKey);
}

int keyModifiers(const KeyMessage& message) {
    return (message.shift ? 1 : 0) + (message.ctrl ? 8 : 0) + (message.alt ? 2 : 0);
}

bool handleKeyMessage(const KeyMessage& message, KeyTarget& target) {
    if (message.kind == KeyMessageKind::other)
        return false;
    if (message.ctrl) {
        bool swallowed = false;
        if (handleCtrlShortcut(message, target, swallowed))
            return swallowed;
    } else if (handlePlainKey(message, target)) {
        return true;
    }
    const bool down = message.kind == KeyMessageKind::down;
    if (target.hasPlugin()) {
        VstIntPtr answer = target.offerKeyToPlugin(down, keyCharacter(message.virtualKey),
                                                   vstVirtualKey(message.virtualKey),
                                                   static_cast<float>(keyModifiers(message)));
        if (answer == 1)
            return true;
        if (target.editorHasKeyFocus())
            return false;
    }
    if (target.sendComputerKey(static_cast<uint8_t>(message.virtualKey & 0xFF), down))
        return true;
    return down && message.virtualKey == kKeyReturn;
}
