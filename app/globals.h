// State that start-up sets and the dialogs share for the life of the process.
#pragma once

#include <windows.h>

#include <string>

#include "app/string_map.h"

// Crash mode's parameter block for the sending thread.
struct SendParams
{
    HWND hDlg;
    std::string dumpPath;
    std::string confPath;
    std::string logPath;
    StringMap fields;
};

extern int g_bBugReportMode;
extern WCHAR g_szProfilePath[MAX_PATH];
extern WCHAR g_szDxDiagPath[MAX_PATH];
extern HANDLE g_hProfile;
extern SendParams g_sendParams;
