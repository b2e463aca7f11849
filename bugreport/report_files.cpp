#include "bugreport/report_files.h"

WCHAR g_szProfilePath[MAX_PATH];
WCHAR g_szDxDiagPath[MAX_PATH];
HANDLE g_hProfile = INVALID_HANDLE_VALUE;
