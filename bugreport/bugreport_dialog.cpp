#include "bugreport/bugreport_dialog.h"

#include "res/resource.h"

// Shows the form and lets the user end it; the checks and the upload come later.
INT_PTR CALLBACK BugReportDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDC_SEND || LOWORD(wParam) == IDC_CANCEL))
            EndDialog(hwnd, 0);
        return FALSE;
    case WM_CLOSE:
        EndDialog(hwnd, 0);
        return FALSE;
    }
    return FALSE;
}
