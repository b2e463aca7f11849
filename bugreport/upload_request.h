// The upload itself: the body gathered from the form, the profile and the
// two files, posted to the report server in one request.
#pragma once

#include <windows.h>

// True only when the server answered with a 2xx status.
bool PostBugReport(HWND hDlg);
