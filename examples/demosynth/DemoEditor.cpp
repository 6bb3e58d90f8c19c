#include "DemoEditor.h"

#include "EditorWindow.h"

#include <cstdio>

namespace demo {

const char* const kHelpCaption = "KsDemoSynth Help";
const char* const kHelpText =
    "Play KsDemoSynth from a MIDI keyboard or from the computer keyboard.\n"
    "The keyboard strip shows the notes held; the notes played are also sent "
    "to the MIDI output.\n"
    "The box at the top right makes the editor larger or smaller.\n\n"
    "Volume: output level. Attack and Release: how fast a note rises and fades.\n"
    "Waveform: sine, triangle, saw or square. Detune: spread of the two oscillators.";
const char* const kAboutCaption = "About KsDemoSynth";
const char* const kAboutText = "KsDemoSynth 1.0\nA small polyphonic instrument by Kestrune.";

DemoEditor::DemoEditor(const DemoSynth& synth, SizeRequest request, void* user)
    : synth(synth), sizeRequest(request), sizeRequestUser(user) {
    takeChanges();
}

DemoEditor::~DemoEditor() {
    close();
}

ERect* DemoEditor::rect() {
    hostRect = ERect{0, 0, static_cast<int16_t>(geometry.height()),
                     static_cast<int16_t>(geometry.width())};
    return &hostRect;
}

bool DemoEditor::open(void* parent) {
    if (window != nullptr || parent == nullptr)
        return false;
    takeChanges();
    window = openEditorWindow(parent, *this);
    return window != nullptr;
}

void DemoEditor::close() {
    if (window == nullptr)
        return;
    closeEditorWindow(window);
    window = nullptr;
}

bool DemoEditor::takeChanges() {
    bool changed = false;
    const HeldNotes held = synth.heldNotes();
    if (!(held == notes)) {
        notes = held;
        changed = true;
    }
    for (int i = 0; i < kParameterCount; ++i) {
        const float value = synth.parameters().get(i);
        if (value != values[static_cast<size_t>(i)]) {
            values[static_cast<size_t>(i)] = value;
            changed = true;
        }
    }
    return changed;
}

void DemoEditor::idle() {
    if (takeChanges() && window != nullptr)
        redrawEditorWindow(window);
}

void DemoEditor::toggleSize() {
    geometry.toggle();
    if (window == nullptr)
        return;
    resizeEditorWindow(window, geometry.width(), geometry.height());
    if (sizeRequest != nullptr)
        sizeRequest(geometry.width(), geometry.height(), sizeRequestUser);
}

void DemoEditor::press(int x, int y) {
    if (geometry.growBox().contains(x, y))
        toggleSize();
}

bool DemoEditor::hasKeyFocus() const {
    return window != nullptr && editorWindowHasFocus(window);
}

void DemoEditor::showHelp() {
    showEditorMessage(window, kHelpCaption, kHelpText);
}

void DemoEditor::showAbout() {
    showEditorMessage(window, kAboutCaption, kAboutText);
}

void DemoEditor::describeParameters(char* out, size_t size) const {
    if (out == nullptr || size == 0)
        return;
    size_t used = 0;
    out[0] = '\0';
    for (int i = 0; i < kParameterCount && used < size; ++i) {
        char display[kParameterTextLength + 1];
        formatParameter(i, values[static_cast<size_t>(i)], display, sizeof(display));
        const ParameterInfo* info = parameterInfo(i);
        const int written = std::snprintf(out + used, size - used, "%s%s %s %s",
                                          i == 0 ? "" : "   ", info->name, display, info->label);
        if (written < 0)
            return;
        used += static_cast<size_t>(written);
    }
}

} // namespace demo
