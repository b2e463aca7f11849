#include "bugreport/wait_dialog.h"

// Shows the box until it has been painted once, then ends it; the gathering
// of system information comes later. Returns FALSE for every message so the
// default dialog handling always runs too.
INT_PTR CALLBACK WaitDlgProc(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_PAINT:
        // Ends only after the first paint has been handled: the user sees the box.
        PostMessageW(hwnd, WM_APP, 0, 0);
        return FALSE;
    case WM_APP:
        EndDialog(hwnd, 0);
        return FALSE;
    }
    return FALSE;
}
