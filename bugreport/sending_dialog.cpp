#include "bugreport/sending_dialog.h"

#include <commctrl.h>

#include <atomic>
#include <memory>
#include <new>

#include "res/resource.h"

// Posted by the sending thread: the bar's new position (wParam, 0..1000),
// and the end of the upload (wParam: 1 when the server took the report).
static const UINT WM_SEND_PROGRESS = WM_APP + 1;
static const UINT WM_SEND_DONE = WM_APP + 2;
static const int kBarRange = 1000;

namespace {

// What the sending thread shares with the box: the report, never changed
// once the thread runs, and the one cancel flag. The thread holds it for as
// long as it runs, also after a cancelled box has gone.
struct UploadJob
{
    UploadJob(HWND hBox, const ReportToSend& sent) : box(hBox), report(sent), cancelled(false), accepted(false) {}
    const HWND box;
    const ReportToSend report;
    std::atomic<bool> cancelled;
    std::atomic<bool> accepted;  // the server has answered 2xx
};

struct ProgressState
{
    UploadJob* job;
    int position;
};

}  // namespace

static std::shared_ptr<UploadJob> g_pUploadJob;

// Runs on the sending thread: a message only when the bar moves, and none
// once the user has cancelled.
static bool ReportProgress(void* context, uint64_t sent, uint64_t total)
{
    ProgressState* state = static_cast<ProgressState*>(context);
    if (state->job->cancelled)
        return false;
    const int position = total == 0 ? kBarRange : static_cast<int>(sent * kBarRange / total);
    if (position != state->position) {
        state->position = position;
        PostMessageW(state->job->box, WM_SEND_PROGRESS, static_cast<WPARAM>(position), 0);
    }
    return true;
}

static DWORD WINAPI SendThreadProc(LPVOID parameter)
{
    // The thread's own reference: the job outlives a box that is gone.
    std::unique_ptr<std::shared_ptr<UploadJob>> held(static_cast<std::shared_ptr<UploadJob>*>(parameter));
    UploadJob* job = held->get();
    ProgressState state = { job, 0 };
    const bool accepted = PostBugReport(job->report, ReportProgress, &state);
    job->accepted = accepted;
    if (!job->cancelled)
        PostMessageW(job->box, WM_SEND_DONE, accepted ? 1 : 0, 0);
    return 0;
}

static void OnInitDialog(HWND hDlg, const ReportToSend& report)
{
    SendDlgItemMessageW(hDlg, IDC_SEND_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
    try {
        g_pUploadJob = std::make_shared<UploadJob>(hDlg, report);
        std::unique_ptr<std::shared_ptr<UploadJob>> forThread(new std::shared_ptr<UploadJob>(g_pUploadJob));
        HANDLE thread = CreateThread(NULL, 0, SendThreadProc, forThread.get(), 0, NULL);
        if (thread != NULL) {
            forThread.release();  // the thread's now
            CloseHandle(thread);  // nothing waits for it
            return;
        }
    } catch (const std::bad_alloc&) {
    }
    PostMessageW(hDlg, WM_SEND_DONE, 0, 0);
}

static void OnCancel(HWND hDlg)
{
    // Too late once the server has the report: that is a sent report, and
    // the user is thanked for it.
    if (g_pUploadJob && g_pUploadJob->accepted) {
        EndDialog(hDlg, SEND_ACCEPTED);
        return;
    }
    // The thread sees the flag before its next piece, closes its request
    // and ends; the form is back at once. A body that went out whole may
    // still be stored: the next try of the report carries the same key.
    if (g_pUploadJob)
        g_pUploadJob->cancelled = true;
    EndDialog(hDlg, SEND_CANCELLED);
}

static INT_PTR CALLBACK SendingDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg, *reinterpret_cast<const ReportToSend*>(lParam));
        return TRUE;
    case WM_SEND_PROGRESS:
        SendDlgItemMessageW(hDlg, IDC_SEND_PROGRESS, PBM_SETPOS, wParam, 0);
        return TRUE;
    case WM_SEND_DONE:
        EndDialog(hDlg, wParam != 0 ? SEND_ACCEPTED : SEND_FAILED);
        return TRUE;
    case WM_COMMAND:
        // The button, Esc and the close box all arrive as IDCANCEL.
        if (LOWORD(wParam) == IDCANCEL)
            OnCancel(hDlg);
        return TRUE;
    }
    return FALSE;
}

SendOutcome RunSendingBox(HWND form, const ReportToSend& report)
{
    INITCOMMONCONTROLSEX classes = { sizeof(classes), ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&classes);
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_SENDING), form, SendingDlgProc,
                                           reinterpret_cast<LPARAM>(&report));
    g_pUploadJob.reset();
    if (result == SEND_ACCEPTED || result == SEND_CANCELLED)
        return static_cast<SendOutcome>(result);
    return SEND_FAILED;  // includes a box that could not be made (-1)
}
