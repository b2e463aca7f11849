#include "crash/crash_dialog.h"

#include <vector>

#include "win32/escape_to_dialog.h"
#include "build_settings.h"
#include "crash/crash_upload.h"
#include "crash/email.h"
#include "res/resource.h"
#include "win32/fixed_texts.h"
#include "win32/narrow_text.h"
#include "win32/upload_key.h"

SendParams g_sendParams = {};
StringMap g_crashFields;
HANDLE g_hSendThread = NULL;

static const UINT kCloseDelayMs = 5000;
// The thread posts its end as its last act, so it is gone at once.
static const DWORD kSendThreadEndMs = 5000;
static const char kCommentsKey[] = "Comments";
static const WCHAR kUnsentText[] =
    L"The crash report could not be sent: no mail program took it, and the report server could not be "
    L"reached.\n\nThe crash dump is in this folder:\n\n";
static const WCHAR kUnsentAdvice[] = L"\n\nYou can send it to the Brevora developers yourself.";
static const WCHAR kKeptText[] =
    L"\n\nA copy of the report is kept, and the Brevora Bug Reporter will send it the next time it starts.";

void OnCommentsChanged(HWND hwnd)
{
    // The whole comment: whatever the user wrote reaches the mail.
    HWND edit = GetDlgItem(hwnd, IDC_COMMENTS);
    std::vector<WCHAR> text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1);
    GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));

    if (text[0] == L'\0')
        g_crashFields.erase(kCommentsKey);
    else
        g_crashFields[kCommentsKey] = NarrowText(CP_UTF8, text.data());
}

void OnSendReport(HWND hwnd)
{
    EnableWindow(GetDlgItem(hwnd, IDC_COMMENTS), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_SEND), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_DONTSEND), FALSE);

    g_hSendThread = NULL;
    g_sendParams.hDlg = hwnd;
    g_sendParams.fields = g_crashFields;
    g_sendParams.unsent = false;
    g_sendParams.kept = false;

    // From here on g_sendParams belongs to the sending thread; this thread
    // does not touch it again.
    g_hSendThread = CreateThread(NULL, 0, SendThreadProc, &g_sendParams, 0, NULL);
}

DWORD WINAPI SendThreadProc(LPVOID parameter)
{
    SendParams* p = static_cast<SendParams*>(parameter);
    {
        CEmail email;
        email.AddTo(BREVORA_CRASH_MAILBOX, "");
        email.SetFrom(BREVORA_CRASH_MAILBOX, "");
        email.SetSubject(kMailSubject);
        email.SetBody(p->fields[kCommentsKey]);

        const struct { const std::string* path; const char* name; } files[] = {
            { &p->dumpPath, "brevora.dmp" },
            { &p->confPath, "brevora.conf" },
            { &p->logPath, "brevora.log" },
        };
        for (const auto& file : files) {
            if (!file.path->empty() && GetFileAttributesA(file.path->c_str()) != INVALID_FILE_ATTRIBUTES)
                email.AddAttachment(*file.path, file.name);
        }

        // The mail first; when it cannot go out, the report server. A mail
        // the user discarded stays unsent: that was the user's choice.
        const ULONG result = email.SendMail();
        if (result != SUCCESS_SUCCESS && result != MAPI_USER_ABORT) {
            const CrashUploadOutcome outcome = PostCrashReport(p->fields[kCommentsKey], p->version, p->dumpPath,
                                                               p->logPath, p->confPath, MakeUploadKey());
            p->unsent = !outcome.delivered;
            p->kept = outcome.kept;
        }
        PostMessageW(p->hDlg, WM_APP, 1, 0);
    }
    return 0;
}

bool IsSendThreadRunning()
{
    return g_hSendThread != NULL && WaitForSingleObject(g_hSendThread, 0) == WAIT_TIMEOUT;
}

static void OnInitDialog(HWND hwnd)
{
    HICON icon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    RouteEscapeToDialog(GetDlgItem(hwnd, IDC_COMMENTS));
    SetFocus(GetDlgItem(hwnd, IDC_COMMENTS));
}

std::wstring GetDumpFolder(const std::string& dumpPath)
{
    const std::string path = dumpPath.empty() ? std::string(".") : dumpPath;
    const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
    if (length == 0)
        return std::wstring();
    std::vector<WCHAR> wide(length);
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

    DWORD size = GetFullPathNameW(wide.data(), 0, NULL, NULL);
    if (size == 0)
        return std::wstring(wide.data());
    std::vector<WCHAR> full(size);
    LPWSTR filePart = NULL;
    size = GetFullPathNameW(wide.data(), static_cast<DWORD>(full.size()), full.data(), &filePart);
    if (size == 0 || size >= full.size())
        return std::wstring(wide.data());
    if (!dumpPath.empty() && filePart != NULL)
        *filePart = L'\0';
    std::wstring folder = full.data();
    if (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();  // "C:\\Crashes", but "C:\\" stays a root
    return folder;
}

// The report went nowhere: the user learns where the dump is, so that it can
// still reach the developers.
static void WarnReportUnsent(HWND hwnd)
{
    const std::wstring text =
        kUnsentText + GetDumpFolder(g_sendParams.dumpPath) + kUnsentAdvice + (g_sendParams.kept ? kKeptText : L"");
    MessageBoxW(hwnd, text.c_str(), kCaption, MB_OK | MB_ICONWARNING);
}

static void OnCloseTimer(HWND hwnd)
{
    // A second tick while the warning is up must not end the dialog under it.
    KillTimer(hwnd, 0);
    // The sending thread has ended (OnSendThreadDone waited for it), so its
    // outcome can be read.
    if (g_sendParams.unsent)
        WarnReportUnsent(hwnd);
    EndDialog(hwnd, 1);
}

static void OnSendThreadDone(HWND hwnd)
{
    WaitForSingleObject(g_hSendThread, kSendThreadEndMs);
    SetTimer(hwnd, 0, kCloseDelayMs, NULL);
}

INT_PTR CALLBACK CrashDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hwnd);
        return FALSE;  // the focus is set

    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_SEND)
            OnSendReport(hwnd);
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_DONTSEND)
            EndDialog(hwnd, 0);
        else if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_COMMENTS)
            OnCommentsChanged(hwnd);
        // IDCANCEL (Esc) is deliberately ignored.
        return FALSE;

    case WM_APP:
        OnSendThreadDone(hwnd);
        return TRUE;

    case WM_TIMER:
        OnCloseTimer(hwnd);
        return FALSE;

    case WM_CLOSE:
        EndDialog(hwnd, 0);
        return FALSE;

    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return FALSE;
    }

    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    }
    return FALSE;
}
