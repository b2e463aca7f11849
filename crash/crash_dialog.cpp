#include "crash/crash_dialog.h"

#include "res/resource.h"

// Shows the crash dialog and lets the user end it; sending comes later.
INT_PTR CALLBACK CrashDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetFocus(GetDlgItem(hwnd, IDC_COMMENTS));
        return FALSE;  // the focus is set
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDC_SEND || LOWORD(wParam) == IDC_DONTSEND))
            EndDialog(hwnd, 0);
        return FALSE;
    case WM_CLOSE:
        EndDialog(hwnd, 0);
        return FALSE;
    }
    return FALSE;
}
