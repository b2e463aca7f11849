#include "bugreport/send_report.h"

#include <cwchar>
#include <new>

#include "bugreport/report_files.h"
#include "bugreport/form_examples.h"
#include "bugreport/report_checks.h"
#include "bugreport/report_gathering.h"
#include "bugreport/report_profile.h"
#include "bugreport/sending_dialog.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"
#include "win32/upload_key.h"

static const WCHAR kThanksText[] = L"Thanks for your bug report.";
static const WCHAR kFailedText[] =
    L"Your bug report could not be sent to the Brevora developers.\nDo you want to try again?";

// Room for the comparison with the e-mail example: anything longer differs.
static const int kEmailCompareSize = 1000;

// The e-mail example is never sent: an address field that still shows it
// is emptied, and so is its profile key.
static void ClearEmailExample(HWND hDlg)
{
    WCHAR email[kEmailCompareSize] = L"";
    GetDlgItemTextW(hDlg, IDC_EMAIL, email, kEmailCompareSize);
    if (wcscmp(email, kEmailExample) != 0)
        return;
    SetDlgItemTextW(hDlg, IDC_EMAIL, L"");
    DeleteBugReportValue(kProfileKeyEmail);
}

// The key of the report in the form, made at its first Send and kept for
// every later try until the form changes.
static std::wstring g_reportKey;

void ForgetReportKey()
{
    g_reportKey.clear();
}

// A new copy of the form's texts for every try: the thread sends that copy.
static SendOutcome GatherAndSend(HWND hDlg)
{
    try {
        ReportToSend report = GatherReport(hDlg);
        report.key = g_reportKey;
        return RunSendingBox(hDlg, report);
    } catch (const std::bad_alloc&) {
        return SEND_FAILED;
    }
}

void SendBugReport(HWND hDlg)
{
    if (!CheckReportForm(hDlg))
        return;
    ClearEmailExample(hDlg);
    if (g_reportKey.empty())
        g_reportKey = MakeUploadKey();

    // Thanks only for a report the server has taken; otherwise the report
    // stays in the form for another try.
    for (;;) {
        const SendOutcome outcome = GatherAndSend(hDlg);
        if (outcome == SEND_ACCEPTED)
            break;
        if (outcome == SEND_CANCELLED)
            return;
        if (MessageBoxW(hDlg, kFailedText, kCaption, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return;
    }
    MessageBoxW(hDlg, kThanksText, kCaption, MB_OK);
    EndDialog(hDlg, 0);
}
