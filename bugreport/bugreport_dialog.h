// The bug-report form (IDD_BUGREPORT).
#pragma once

#include <windows.h>

INT_PTR CALLBACK BugReportDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
