#include "bugreport/wait_dialog.h"

#include "bugreport/system_info.h"

int g_bSysInfoStarted = 0;

// The template has no position of its own: centre the box on the desktop.
static void CentreOnDesktop(HWND hwnd)
{
    HWND desktop = GetDesktopWindow();
    RECT desktopRect = {};
    RECT dialogRect = {};
    GetClientRect(desktop, &desktopRect);
    GetWindowRect(hwnd, &dialogRect);

    POINT topLeft;
    topLeft.x = (desktopRect.right - desktopRect.left) / 2 - (dialogRect.right - dialogRect.left) / 2;
    topLeft.y = (desktopRect.bottom - desktopRect.top) / 2 - (dialogRect.bottom - dialogRect.top) / 2;
    ClientToScreen(desktop, &topLeft);
    // No SWP_NOZORDER: the box also goes to the top.
    SetWindowPos(hwnd, NULL, topLeft.x, topLeft.y, 0, 0, SWP_NOSIZE);
}

// The gathering blocks this thread for as long as the tool runs, so it
// starts from a posted message: only after the box has been painted once.
static void OnPaint(HWND hwnd)
{
    PostMessageW(hwnd, WM_APP, 0, 0);
}

static void OnGatherSystemInfo(HWND hwnd)
{
    // Every paint posts a WM_APP; only the first one gathers.
    if (g_bSysInfoStarted)
        return;
    g_bSysInfoStarted = 1;

    // Posted messages come before paints: the box has painted itself, but
    // its text has not been drawn yet. Draw it now, or the user would look at
    // an empty box for as long as the thread is blocked. Wine's X11 driver
    // puts drawing on screen only when the thread looks at its queue, so look
    // once (nothing is taken from it).
    RedrawWindow(hwnd, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    MSG pending;
    PeekMessageW(&pending, NULL, 0, 0, PM_NOREMOVE);

    const DxDiagRun run = RunDxDiag();
    if (run != DXDIAG_NOT_STARTED)
        ImportDxDiagReport(run == DXDIAG_ENDED);
    CollectEnvironment();
    EndDialog(hwnd, 0);
}

// Returns FALSE for every message, the handled ones included, so that the
// default dialog handling always runs as well (it does the painting).
INT_PTR CALLBACK WaitDlgProc(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CentreOnDesktop(hwnd);
        return FALSE;
    case WM_PAINT:
        OnPaint(hwnd);
        return FALSE;
    case WM_APP:
        OnGatherSystemInfo(hwnd);
        return FALSE;
    }
    return FALSE;
}
