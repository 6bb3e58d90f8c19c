#pragma once

// The platform's side of the demo editor: a child window drawn from the
// editor's layout, and modal message windows. Where there is none (outside
// Windows), `openEditorWindow` answers null and the messages show nothing.

namespace demo {

class DemoEditor;

bool editorWindowsAvailable();
// A child window of `parent` showing `editor`; null on failure.
void* openEditorWindow(void* parent, DemoEditor& editor);
void closeEditorWindow(void* window);
void resizeEditorWindow(void* window, int width, int height);
void redrawEditorWindow(void* window);
bool editorWindowHasFocus(void* window);
// A modal message with an OK button, owned by the window holding `window`
// (or by none).
void showEditorMessage(void* window, const char* caption, const char* text);

} // namespace demo
