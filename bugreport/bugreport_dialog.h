// The bug-report form (IDD_BUGREPORT): component, three descriptions,
// contact permission and address, each change mirrored into the profile.
#pragma once

#include <windows.h>

INT_PTR CALLBACK BugReportDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
