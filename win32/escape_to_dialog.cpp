#include "win32/escape_to_dialog.h"

// The edit class's own procedure; every edit shares it.
static WNDPROC g_pfnEditProc = NULL;

static LRESULT CALLBACK EscapeToDialogEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcW(g_pfnEditProc, edit, message, wParam, lParam);
    if (message == WM_GETDLGCODE && lParam != 0) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE)
            result &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
    }
    return result;
}

void RouteEscapeToDialog(HWND edit)
{
    if (edit == NULL)
        return;
    WNDPROC previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EscapeToDialogEditProc)));
    if (previous != EscapeToDialogEditProc)
        g_pfnEditProc = previous;
}
