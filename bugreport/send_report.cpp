#include "bugreport/send_report.h"

#include <cwchar>

#include "bugreport/report_files.h"
#include "bugreport/form_examples.h"
#include "bugreport/report_checks.h"
#include "bugreport/report_profile.h"
#include "bugreport/upload_request.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"

static const WCHAR kThanksText[] = L"Thanks for your bug report.";
static const WCHAR kFailedText[] =
    L"Your bug report could not be sent to the Brevora developers.\nDo you want to try again?";

// Room for the comparison with the e-mail example: anything longer differs.
static const int kEmailCompareSize = 1000;

// The wait cursor on the dialog class (all the program's dialogs share it)
// for as long as the upload works; the cursor before is put back after.
class WaitCursor
{
public:
    explicit WaitCursor(HWND hDlg) : m_hDlg(hDlg), m_previous(0), m_set(false)
    {
        HCURSOR wait = LoadCursorW(NULL, IDC_WAIT);
        if (wait != NULL) {
            m_previous = SetClassLongPtrW(hDlg, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(wait));
            m_set = true;
            SetCursor(wait);
        }
    }
    ~WaitCursor()
    {
        if (!m_set)
            return;
        SetClassLongPtrW(m_hDlg, GCLP_HCURSOR, m_previous);
        SetCursor(reinterpret_cast<HCURSOR>(m_previous));
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HWND m_hDlg;
    ULONG_PTR m_previous;
    bool m_set;
};

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

static bool UploadWithWaitCursor(HWND hDlg)
{
    WaitCursor cursor(hDlg);
    return PostBugReport(hDlg);
}

void SendBugReport(HWND hDlg)
{
    if (!CheckReportForm(hDlg))
        return;
    ClearEmailExample(hDlg);

    // Thanks only for a report the server has taken; otherwise the report
    // stays in the form for another try.
    while (!UploadWithWaitCursor(hDlg)) {
        if (MessageBoxW(hDlg, kFailedText, kCaption, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return;
    }
    MessageBoxW(hDlg, kThanksText, kCaption, MB_OK);
    EndDialog(hDlg, 0);
}
