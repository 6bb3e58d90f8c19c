// Plays the running host like a user at the computer keyboard: waits for its
// main window and for audio, plays a short phrase with key events into the
// window, takes a picture of the window and leaves through the File menu.
//
//   ksdrive SCREENSHOT.bmp
//   ksdrive --exit      only waits for the main window and leaves through
//                       the File menu, as a user closing the program
//
// Exit code 0 when every step worked.

#include "WindowCapture.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr UINT kExitCommand = 32774;

struct Found {
    HWND main = nullptr;
    HWND editor = nullptr;
};

BOOL CALLBACK findHostWindow(HWND window, LPARAM user) {
    auto* found = reinterpret_cast<Found*>(user);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0)
        return TRUE;
    HWND editor = FindWindowExA(window, nullptr, "PluginWndCtrl", nullptr);
    if (editor == nullptr)
        return TRUE;
    found->main = window;
    found->editor = editor;
    return FALSE;
}

Found waitForHost() {
    Found found;
    for (int round = 0; round < 600 && found.main == nullptr; ++round) {
        EnumWindows(findHostWindow, reinterpret_cast<LPARAM>(&found));
        Sleep(50);
    }
    return found;
}

// The caption carries the tempo once audio runs.
bool waitForAudio(HWND main) {
    for (int round = 0; round < 200; ++round) {
        char caption[512] = {};
        GetWindowTextA(main, caption, sizeof caption);
        if (std::strstr(caption, "| Tempo: ") != nullptr)
            return true;
        Sleep(50);
    }
    return false;
}

void sendKey(HWND target, UINT virtualKey, bool down) {
    const UINT scanCode = MapVirtualKeyA(virtualKey, 0);
    LPARAM flags = 1 | (static_cast<LPARAM>(scanCode) << 16);
    if (!down)
        flags |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
    PostMessageA(target, down ? WM_KEYDOWN : WM_KEYUP, virtualKey, flags);
}

// C, D, E, F, G, then a C major chord, on the computer keyboard's keys.
void playPhrase(HWND editor) {
    const char melody[] = "DFGHJ";
    for (const char* key = melody; *key != '\0'; ++key) {
        sendKey(editor, static_cast<UINT>(*key), true);
        Sleep(220);
        sendKey(editor, static_cast<UINT>(*key), false);
        Sleep(30);
    }
    const char chord[] = "DGJ";
    for (const char* key = chord; *key != '\0'; ++key)
        sendKey(editor, static_cast<UINT>(*key), true);
    Sleep(600);
    for (const char* key = chord; *key != '\0'; ++key)
        sendKey(editor, static_cast<UINT>(*key), false);
    Sleep(300);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ksdrive SCREENSHOT.bmp | ksdrive --exit\n");
        return 2;
    }
    Found host = waitForHost();
    if (host.main == nullptr) {
        std::fprintf(stderr, "ksdrive: the host's window did not appear\n");
        return 1;
    }
    if (std::strcmp(argv[1], "--exit") == 0) {
        PostMessageA(host.main, WM_COMMAND, kExitCommand, 0);
        return 0;
    }
    const bool audio = waitForAudio(host.main);
    if (!audio)
        std::fprintf(stderr, "ksdrive: audio did not start\n");
    playPhrase(host.editor);
    const bool captured = captureWindowToBmp(host.main, argv[1]);
    if (!captured)
        std::fprintf(stderr, "ksdrive: no screenshot\n");
    PostMessageA(host.main, WM_COMMAND, kExitCommand, 0);
    return audio && captured ? 0 : 1;
}
