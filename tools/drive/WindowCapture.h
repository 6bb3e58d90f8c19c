#pragma once

// A picture of a window as the screen shows it, written as a 24-bit BMP.

#include <windows.h>

#include <string>

bool captureWindowToBmp(HWND window, const std::string& path);
