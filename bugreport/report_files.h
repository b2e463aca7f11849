// The two temporary files of bug-report mode: start-up creates them, the wait
// box, the form and the upload use them for the rest of the process.
#pragma once

#include <windows.h>

extern WCHAR g_szProfilePath[MAX_PATH];
extern WCHAR g_szDxDiagPath[MAX_PATH];
extern HANDLE g_hProfile;
