#include "bugreport/bugreport_dialog.h"

#include <cwchar>
#include <memory>
#include <new>

#include "bugreport/report_files.h"
#include "bugreport/report_origin.h"
#include "bugreport/details_dialog.h"
#include "bugreport/form_examples.h"
#include "bugreport/report_profile.h"
#include "bugreport/send_report.h"
#include "bugreport/server_queries.h"
#include "win32/escape_to_dialog.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"

static const WCHAR kFallbackComponents[] = L"Brevora\n";

// A description edit with its example, its example-cleared flag and its
// profile key.
struct DescriptionEdit
{
    int id;
    const WCHAR* example;
    int* cleared;
    const WCHAR* key;
};

static const DescriptionEdit kDescriptionEdits[] = {
    { IDC_STEPS, kStepsExample, &g_bStepsCleared, kProfileKeySteps },
    { IDC_HAPPENED, kHappenedExample, &g_bHappenedCleared, kProfileKeyHappened },
    { IDC_SHOULDHAPPEN, kShouldHappenExample, &g_bShouldHappenCleared, kProfileKeyShouldHappen },
};

static const DescriptionEdit* FindDescriptionEdit(int id)
{
    for (const DescriptionEdit& edit : kDescriptionEdits) {
        if (edit.id == id)
            return &edit;
    }
    return NULL;
}

static void SetDialogIcon(HWND hDlg)
{
    HICON icon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

// The server's components, one per line; runs of line feeds count as one,
// and a carriage return stays part of its name.
static void FillComponentList(HWND hDlg)
{
    std::unique_ptr<WCHAR[]> components(new (std::nothrow) WCHAR[kComponentsSize]());
    if (!components)
        return;
    GetComponents(components.get());
    if (components[0] == L'\0')
        wcscpy_s(components.get(), kComponentsSize, kFallbackComponents);

    HWND list = GetDlgItem(hDlg, IDC_ELEMENT);
    WCHAR* context = NULL;
    for (WCHAR* name = wcstok_s(components.get(), L"\n", &context); name != NULL;
         name = wcstok_s(NULL, L"\n", &context))
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

static void OnInitDialog(HWND hDlg)
{
    SetDialogIcon(hDlg);
    FillComponentList(hDlg);

    // Selecting by message sends no CBN_SELCHANGE: the first entry is
    // written here.
    HWND list = GetDlgItem(hDlg, IDC_ELEMENT);
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    WriteProfileField(list, kProfileKeyElement);
    // Shown in the details view as it travels in the report.
    WriteBugReportValue(kProfileKeyVersion, g_szInstalledVersion);
    SetFocus(list);

    for (const DescriptionEdit& edit : kDescriptionEdits) {
        HWND control = GetDlgItem(hDlg, edit.id);
        RouteEscapeToDialog(control);
        SetWindowTextW(control, edit.example);
        SendMessageW(control, EM_SETREADONLY, TRUE, 0);
    }
    // The single-line edit reports this change too, so "Email" holds the
    // example from the start.
    SetDlgItemTextW(hDlg, IDC_EMAIL, kEmailExample);
}

// The first focus takes the example away for good; what the user types
// from then on is the description.
static void OnDescriptionFocus(HWND hDlg, const DescriptionEdit& edit)
{
    if (*edit.cleared)
        return;
    SendDlgItemMessageW(hDlg, edit.id, EM_SETREADONLY, FALSE, 0);
    SetDlgItemTextW(hDlg, edit.id, L"");
    *edit.cleared = 1;
}

static void OnDescriptionChanged(HWND hDlg, const DescriptionEdit& edit)
{
    // An example is never the user's text, whatever the edit reports.
    if (*edit.cleared)
        WriteProfileField(GetDlgItem(hDlg, edit.id), edit.key);
}

// Order matters for the profile: unticking shows the example, which the
// edit reports into "Email", and only then deletes "Email".
static void OnContactSwitch(HWND hDlg)
{
    HWND email = GetDlgItem(hDlg, IDC_EMAIL);
    if (IsDlgButtonChecked(hDlg, IDC_ALLOWCONTACT) == BST_CHECKED) {
        SetWindowTextW(email, L"");
        EnableWindow(email, TRUE);
        WriteBugReportValue(kProfileKeyAllowContact, L"1");
    } else {
        SetWindowTextW(email, kEmailExample);
        EnableWindow(email, FALSE);
        DeleteBugReportValue(kProfileKeyAllowContact);
        DeleteBugReportValue(kProfileKeyEmail);
    }
}

static void OnShowDetails(HWND hDlg)
{
    DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_DETAILS), hDlg, DetailsDlgProc, 0);
}

static void OnCommand(HWND hDlg, int id, int code)
{
    if (code == BN_CLICKED) {
        switch (id) {
        case IDC_SEND:
            SendBugReport(hDlg);
            break;
        case IDC_DETAILS:
            OnShowDetails(hDlg);
            break;
        case IDC_ALLOWCONTACT:
            ForgetReportKey();
            OnContactSwitch(hDlg);
            break;
        case IDC_CANCEL:
            EndDialog(hDlg, 0);
            break;
        }
        // IDOK (Enter without a default button) and IDCANCEL (Esc) do nothing.
        return;
    }

    // Any change makes the form another report than the one tried before.
    if (code == EN_CHANGE || code == CBN_SELCHANGE)
        ForgetReportKey();

    const DescriptionEdit* edit = FindDescriptionEdit(id);
    if (code == EN_SETFOCUS && edit != NULL)
        OnDescriptionFocus(hDlg, *edit);
    else if (code == EN_CHANGE && edit != NULL)
        OnDescriptionChanged(hDlg, *edit);
    else if (code == EN_CHANGE && id == IDC_EMAIL)
        WriteProfileField(GetDlgItem(hDlg, IDC_EMAIL), kProfileKeyEmail);
    else if (code == CBN_SELCHANGE && id == IDC_ELEMENT)
        WriteProfileField(GetDlgItem(hDlg, IDC_ELEMENT), kProfileKeyElement);
}

// Every message returns FALSE: the dialog manager does its default work
// throughout, and after WM_INITDIALOG the focus stays on the component list.
INT_PTR CALLBACK BugReportDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return FALSE;
    case WM_COMMAND:
        OnCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    case WM_CLOSE:
        EndDialog(hDlg, 0);
        return FALSE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    }
    return FALSE;
}
