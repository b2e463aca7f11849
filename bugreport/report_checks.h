// The form's checks before an upload.
#pragma once

#include <windows.h>

// True when the form is filled in. Otherwise shows why in a warning box
// owned by the form, puts the focus on the field to fill and returns false.
bool CheckReportForm(HWND hDlg);
