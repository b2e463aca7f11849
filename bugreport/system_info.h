// Gathering of system information into the report profile: the DirectX
// diagnostic tool's text report and a few environment variables.
#pragma once

#include <windows.h>

// How long the wait box waits for the tool to end: two minutes, after which
// it goes on with whatever the tool has written. A variable so that a test
// need not wait that long.
extern DWORD g_dwDxDiagWaitMs;

// How many times the wait box checks the tool's report for its size, 500 ms
// apart: 100, so that a report that stays empty is waited for some 50
// seconds. A variable for the same reason.
extern int g_nReportChecks;

enum DxDiagRun
{
    DXDIAG_NOT_STARTED = 0,
    DXDIAG_ENDED,
    DXDIAG_STILL_RUNNING  // given up on after g_dwDxDiagWaitMs; left to run
};

// Starts "dxdiag.exe /t <g_szDxDiagPath>" and waits until it has ended, at
// most g_dwDxDiagWaitMs.
DxDiagRun RunDxDiag();

// Copies the diagnostic report, taken as ANSI text, into [DxDiag] "Content".
// With waitForReport it first waits (at most g_nReportChecks, 500 ms apart) for
// the report to become non-empty, as a tool may write it after its end;
// without, it takes the report as it is.
void ImportDxDiagReport(bool waitForReport = true);

// Writes the eight environment variables into [System Information]; one that
// is not set is written as its unexpanded reference, e.g. "%PYTHONPATH%".
void CollectEnvironment();
