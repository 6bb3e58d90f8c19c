// Outside Windows the demo instrument has no editor window and shows no
// messages.

#include "EditorWindow.h"

namespace demo {

bool editorWindowsAvailable() {
    return false;
}

void* openEditorWindow(void*, DemoEditor&) {
    return nullptr;
}

void closeEditorWindow(void*) {}

void resizeEditorWindow(void*, int, int) {}

void redrawEditorWindow(void*) {}

bool editorWindowHasFocus(void*) {
    return false;
}

void showEditorMessage(void*, const char*, const char*) {}

} // namespace demo
