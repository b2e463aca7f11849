#include "bugreport/report_checks.h"

#include "bugreport/form_examples.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"


struct DescriptionCheck
{
    const int* cleared;
    int id;
    const WCHAR* message;
};

static bool RefuseForm(HWND hDlg, const WCHAR* message, int focusId)
{
    MessageBoxW(hDlg, message, kCaption, MB_OK | MB_ICONWARNING);
    // A description that still shows its example is emptied by this focus.
    SetFocus(GetDlgItem(hDlg, focusId));
    return false;
}

static bool IsEmpty(HWND hDlg, int id)
{
    return GetWindowTextLengthW(GetDlgItem(hDlg, id)) == 0;
}

bool CheckReportForm(HWND hDlg)
{
    // An edit that still shows its example counts as empty, although it is not.
    const DescriptionCheck checks[] = {
        { &g_bStepsCleared, IDC_STEPS, L"Please describe the steps to reproduce your bug" },
        { &g_bHappenedCleared, IDC_HAPPENED, L"Please describe what happened" },
        { &g_bShouldHappenCleared, IDC_SHOULDHAPPEN, L"Please describe what should have happened" },
    };
    for (const DescriptionCheck& check : checks) {
        if (!*check.cleared || IsEmpty(hDlg, check.id))
            return RefuseForm(hDlg, check.message, check.id);
    }
    if (IsDlgButtonChecked(hDlg, IDC_ALLOWCONTACT) == BST_CHECKED && IsEmpty(hDlg, IDC_EMAIL))
        return RefuseForm(hDlg, L"Please enter your email address", IDC_EMAIL);
    return true;
}
