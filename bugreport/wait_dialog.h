// The wait box (IDD_WAIT) shown while system information is gathered.
#pragma once

#include <windows.h>

INT_PTR CALLBACK WaitDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
