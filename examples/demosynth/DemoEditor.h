#pragma once

// The demo instrument's editor and its help and about screens. The decisions
// (size, what to redraw, what the screens say) live here; the window itself
// is the platform's (EditorWindow.h): drawn with GDI on Windows, absent
// elsewhere.
//
// Threads: the window thread only. The held notes come from the synth
// through its atomics.

#include "DemoSynth.h"
#include "EditorLayout.h"
#include "vst2.h"

#include <array>
#include <cstddef>

namespace demo {

// Asks the host to give the editor a new size (audioMasterSizeWindow).
using SizeRequest = void (*)(int width, int height, void* user);

extern const char* const kHelpCaption;
extern const char* const kHelpText;
extern const char* const kAboutCaption;
extern const char* const kAboutText;

class DemoEditor {
public:
    DemoEditor(const DemoSynth& synth, SizeRequest request, void* user);
    ~DemoEditor();
    DemoEditor(const DemoEditor&) = delete;
    DemoEditor& operator=(const DemoEditor&) = delete;

    // The editor's size as the host asks for it (effEditGetRect).
    ERect* rect();
    // Opens the editor inside `parent`; false where there is no editor window.
    bool open(void* parent);
    void close();
    bool isOpen() const { return window != nullptr; }
    // Redraws when the held notes or the parameters changed since last drawn.
    void idle();
    // Switches between the compact and the wide size; an open editor resizes
    // its window and asks the host to follow.
    void toggleSize();
    // A mouse press at (x, y) of the editor.
    void press(int x, int y);
    bool hasKeyFocus() const;
    void showHelp();
    void showAbout();

    const EditorLayout& layout() const { return geometry; }
    // What the window draws: the notes and values as of the last `idle`.
    const HeldNotes& shownNotes() const { return notes; }
    // "Volume -3.1 dB  Attack 10 ms ..." for the values last shown.
    void describeParameters(char* out, size_t size) const;

private:
    bool takeChanges();

    const DemoSynth& synth;
    SizeRequest sizeRequest;
    void* sizeRequestUser;
    EditorLayout geometry;
    ERect hostRect{};
    void* window = nullptr;
    HeldNotes notes;
    std::array<float, kParameterCount> values{};
};

} // namespace demo
