// Gathering of system information into the report profile: the DirectX
// diagnostic tool's text report and a few environment variables.
#pragma once

#include <windows.h>

// Starts "dxdiag.exe /t <g_szDxDiagPath>" and waits until it has ended.
// Returns non-zero when the tool could be started.
BOOL RunDxDiag();

// Waits (at most 100 checks, 500 ms apart) for the diagnostic report to
// become non-empty and copies it, taken as ANSI text, into [DxDiag] "Content".
void ImportDxDiagReport();

// Writes the eight environment variables into [System Information]; one that
// is not set is written as its unexpanded reference, e.g. "%PYTHONPATH%".
void CollectEnvironment();
