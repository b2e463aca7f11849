// Entry point: splits the command line and runs the dialogs of the chosen mode.
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <cstdlib>

#include "app/cmdline.h"
#include "app/startup.h"
#include "bugreport/bugreport_dialog.h"
#include "bugreport/report_origin.h"
#include "bugreport/wait_dialog.h"
#include "crash/crash_dialog.h"
#include "crash/kept_reports_sender.h"
#include "res/resource.h"
#include "win32/narrow_text.h"

// Exactly three arguments after the program path select crash mode.
static const size_t kCrashModeArgCount = 4;

static const int kExitSuccess = 0;
static const int kExitTempFilesFailed = 1;

int g_bBugReportMode = 0;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CCmdLine cmdLine;

    g_bBugReportMode = (cmdLine.size() == kCrashModeArgCount) ? 0 : 1;

    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&icc);

    if (!g_bBugReportMode) {
        // The paths are handed on as the command line gives them, unchecked.
        g_sendParams.dumpPath = cmdLine[1];
        g_sendParams.logPath = cmdLine[2];
        g_sendParams.confPath = cmdLine[3];
        ReadInstalledVersion();
        g_sendParams.version = NarrowText(CP_UTF8, g_szInstalledVersion);
        // Reports an earlier crash could not send go now, if the line is up;
        // otherwise at a later start.
        DWORD flags = 0;
        if (InternetGetConnectedState(&flags, 0))
            StartSendingKeptReports();
        DialogBoxParamW(NULL, MAKEINTRESOURCEW(IDD_CRASH), NULL, CrashDlgProc, 0);
        // Closed while the mail program's window is still open: the sending
        // thread still reads g_sendParams, so end the process here, before
        // the static objects are destroyed under it.
        if (IsSendThreadRunning())
            std::_Exit(kExitSuccess);
        return kExitSuccess;
    }

    if (!RunOnlineCheck())
        return kExitSuccess;
    StartSendingKeptReports();
    if (!RunVersionCheck())
        return kExitSuccess;
    if (!CreateTempFiles())
        return kExitTempFilesFailed;

    DialogBoxParamW(NULL, MAKEINTRESOURCEW(IDD_WAIT), NULL, WaitDlgProc, 0);
    DialogBoxParamW(NULL, MAKEINTRESOURCEW(IDD_BUGREPORT), NULL, BugReportDlgProc, 0);
    return kExitSuccess;
}
