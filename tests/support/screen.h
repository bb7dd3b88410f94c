// What a window shows on the screen, for tests that must look rather than ask.
#ifndef UPDATER_TESTS_SUPPORT_SCREEN_H
#define UPDATER_TESTS_SUPPORT_SCREEN_H

#include <windows.h>

#include <vector>

// The window's client area as it stands on the screen, row by row.
std::vector<COLORREF> CaptureClientPixels(HWND window);

#endif
