// Send in the bug-report form: the checks, then the upload, until the server
// has the report or the user gives up.
#pragma once

#include <windows.h>

// Refused form: a message and the focus on the field to fill; the form stays.
// Accepted report: the thank-you box, then the form ends. Failed upload: the
// user may try again, or go back to the form with everything kept.
void SendBugReport(HWND hDlg);

// The form has changed: its next Send is a new report, with a new key. Until
// then every Send and Retry is another try of the same report.
void ForgetReportKey();
