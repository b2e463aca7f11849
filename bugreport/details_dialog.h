// The details view (IDD_DETAILS): the report profile as it is on disk.
#pragma once

#include <windows.h>

INT_PTR CALLBACK DetailsDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
