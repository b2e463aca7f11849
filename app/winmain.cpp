// Entry point: splits the command line and runs the dialogs of the chosen mode.
#include <windows.h>
#include <commctrl.h>

#include "app/cmdline.h"
#include "app/globals.h"
#include "bugreport/bugreport_dialog.h"
#include "crash/crash_dialog.h"
#include "res/resource.h"

// Exactly three arguments after the program path select crash mode.
static const size_t kCrashModeArgCount = 4;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CCmdLine cmdLine;

    g_bBugReportMode = (cmdLine.size() == kCrashModeArgCount) ? 0 : 1;

    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&icc);

    if (!g_bBugReportMode) {
        g_sendParams.dumpPath = cmdLine[1];
        g_sendParams.logPath = cmdLine[2];
        g_sendParams.confPath = cmdLine[3];
        DialogBoxParamW(NULL, MAKEINTRESOURCEW(IDD_CRASH), NULL, CrashDlgProc, 0);
        return 0;
    }

    DialogBoxParamW(NULL, MAKEINTRESOURCEW(IDD_BUGREPORT), NULL, BugReportDlgProc, 0);
    return 0;
}
