#include "app/globals.h"

int g_bBugReportMode = 0;
WCHAR g_szProfilePath[MAX_PATH];
WCHAR g_szDxDiagPath[MAX_PATH];
HANDLE g_hProfile = INVALID_HANDLE_VALUE;
SendParams g_sendParams = {};
