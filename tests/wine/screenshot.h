// Saves what the screen shows inside a window's rectangle as a 24-bit BMP.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

bool SaveWindowScreenshot(HWND hwnd, const std::wstring& path);

// Waits until the screen shows the window drawn: what the screen shows in
// its rectangle is more than one colour and stays the same between two looks
// (Wine puts a painted window on the X screen a little later). Messages of
// the calling thread are handled meanwhile, for windows of its own.
bool WaitUntilDrawnOnScreen(HWND hwnd, DWORD timeoutMs);

// What the screen shows inside the window's rectangle, 32 bits a pixel
// (blue, green, red, unused), rows top down; empty when it cannot be read.
std::vector<DWORD> CaptureWindowPixels(HWND hwnd);
