#include "bugreport/sending_dialog.h"

#include <commctrl.h>

#include <atomic>
#include <memory>
#include <new>

#include "res/resource.h"

// Posted to the box: the bar's new position (wParam, 0..1000), and the end
// of the upload, whose outcome the job holds.
static const UINT WM_SEND_PROGRESS = WM_APP + 1;
static const UINT WM_SEND_DONE = WM_APP + 2;
static const int kBarRange = 1000;
// Redrawing the bar costs the form's thread and the display server time that
// a fast upload is better left; twenty moves a second look smooth.
static const ULONGLONG kBarMoveIntervalMs = 50;

namespace {

// What the sending thread shares with the box: the report, never changed
// once the thread runs, the box once it exists, and the one cancel flag. The
// thread starts before the box is made, so that the box costs an upload no
// time, and holds the job for as long as it runs, also after a cancelled box
// has gone.
struct UploadJob
{
    explicit UploadJob(const ReportToSend& sent) : report(sent), box(NULL), cancelled(false), accepted(false), ended(false)
    {
    }
    const ReportToSend report;
    std::atomic<HWND> box;
    std::atomic<bool> cancelled;
    std::atomic<bool> accepted;  // the server has answered 2xx
    std::atomic<bool> ended;     // the thread has its outcome
};

struct ProgressState
{
    UploadJob* job;
    int position;
    ULONGLONG movedAtMs;
};

}  // namespace

static std::shared_ptr<UploadJob> g_pUploadJob;

// Runs on the sending thread: a message only when the bar moves, at most
// one per interval, none before the box exists, and none once the user has
// cancelled.
static bool ReportProgress(void* context, uint64_t sent, uint64_t total)
{
    ProgressState* state = static_cast<ProgressState*>(context);
    if (state->job->cancelled)
        return false;
    const int position = total == 0 ? kBarRange : static_cast<int>(sent * kBarRange / total);
    const ULONGLONG now = GetTickCount64();
    const HWND box = state->job->box;
    if (box != NULL && position != state->position && now - state->movedAtMs >= kBarMoveIntervalMs) {
        state->position = position;
        state->movedAtMs = now;
        PostMessageW(box, WM_SEND_PROGRESS, static_cast<WPARAM>(position), 0);
    }
    return true;
}

static DWORD WINAPI SendThreadProc(LPVOID parameter)
{
    // The thread's own reference: the job outlives a box that is gone.
    std::unique_ptr<std::shared_ptr<UploadJob>> held(static_cast<std::shared_ptr<UploadJob>*>(parameter));
    UploadJob* job = held->get();
    // The first move is shown at once: the box should not look stuck.
    ProgressState state = { job, 0, GetTickCount64() - kBarMoveIntervalMs };
    job->accepted = PostBugReport(job->report, ReportProgress, &state);
    job->ended = true;
    // A box made after this point finds the flag itself.
    const HWND box = job->box;
    if (box != NULL && !job->cancelled)
        PostMessageW(box, WM_SEND_DONE, 0, 0);
    return 0;
}

// The job and its thread, before the box; false when either cannot be made.
static bool StartUploadThread(const ReportToSend& report)
{
    try {
        g_pUploadJob = std::make_shared<UploadJob>(report);
        std::unique_ptr<std::shared_ptr<UploadJob>> forThread(new std::shared_ptr<UploadJob>(g_pUploadJob));
        HANDLE thread = CreateThread(NULL, 0, SendThreadProc, forThread.get(), 0, NULL);
        if (thread == NULL)
            return false;
        forThread.release();  // the thread's now
        CloseHandle(thread);  // nothing waits for it
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

static void OnInitDialog(HWND hDlg)
{
    SendDlgItemMessageW(hDlg, IDC_SEND_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
    g_pUploadJob->box = hDlg;
    // An upload that ended before the box existed ends it before it shows.
    if (g_pUploadJob->ended)
        PostMessageW(hDlg, WM_SEND_DONE, 0, 0);
}

static void OnCancel(HWND hDlg)
{
    // Too late once the server has the report: that is a sent report, and
    // the user is thanked for it.
    if (g_pUploadJob->accepted) {
        EndDialog(hDlg, SEND_ACCEPTED);
        return;
    }
    // The thread sees the flag before its next piece, closes its request
    // and ends; the form is back at once. A body that went out whole may
    // still be stored: the next try of the report carries the same key.
    g_pUploadJob->cancelled = true;
    EndDialog(hDlg, SEND_CANCELLED);
}

static INT_PTR CALLBACK SendingDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return TRUE;
    case WM_SEND_PROGRESS:
        SendDlgItemMessageW(hDlg, IDC_SEND_PROGRESS, PBM_SETPOS, wParam, 0);
        return TRUE;
    case WM_SEND_DONE:
        EndDialog(hDlg, g_pUploadJob->accepted ? SEND_ACCEPTED : SEND_FAILED);
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
    if (!StartUploadThread(report)) {
        g_pUploadJob.reset();
        return SEND_FAILED;
    }
    INITCOMMONCONTROLSEX classes = { sizeof(classes), ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&classes);
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_SENDING), form, SendingDlgProc, 0);
    SendOutcome outcome = SEND_FAILED;
    if (result == SEND_ACCEPTED || result == SEND_CANCELLED) {
        outcome = static_cast<SendOutcome>(result);
    } else {
        // No box (0 or -1): the thread is stopped as by a Cancel, and a
        // report the server already has still counts as sent.
        g_pUploadJob->cancelled = true;
        if (g_pUploadJob->accepted)
            outcome = SEND_ACCEPTED;
    }
    g_pUploadJob.reset();
    return outcome;
}
