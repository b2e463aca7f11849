#include "bugreport/details_dialog.h"

#include <memory>
#include <new>

#include "bugreport/report_files.h"
#include "res/resource.h"

// Reads the whole profile through g_hProfile; the profile service writes by
// path, so this shows every value written so far. Any failure leaves the
// view empty.
static void ShowProfile(HWND hDlg)
{
    const DWORD size = GetFileSize(g_hProfile, NULL);
    if (size == 0 || size == INVALID_FILE_SIZE)
        return;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    if (!bytes || SetFilePointer(g_hProfile, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return;
    DWORD got = 0;
    if (!ReadFile(g_hProfile, bytes.get(), size, &got, NULL) || got != size)
        return;
    bytes[size] = '\0';

    const int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.get(), static_cast<int>(size), NULL, 0);
    if (units <= 0)
        return;
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[static_cast<size_t>(units) + 1]);
    if (!text)
        return;
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.get(), static_cast<int>(size), text.get(), units);
    text[units] = L'\0';
    SetDlgItemTextW(hDlg, IDC_DETAILS, text.get());
}

// Every message returns FALSE, WM_INITDIALOG included: no control is given
// the focus, and Esc still reaches the view as IDCANCEL.
INT_PTR CALLBACK DetailsDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowProfile(hDlg);
        return FALSE;
    case WM_COMMAND:
        // The Close button, Esc and the close box all arrive as IDCANCEL.
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, 0);
        return FALSE;
    }
    return FALSE;
}
