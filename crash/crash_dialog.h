// The crash dialog (IDD_CRASH).
#pragma once

#include <windows.h>

INT_PTR CALLBACK CrashDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
