// The wait box (IDD_WAIT), shown while system information is gathered.
#pragma once

#include <windows.h>

// Set when the gathering begins and never reset: it runs once per process.
extern int g_bSysInfoStarted;

INT_PTR CALLBACK WaitDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
