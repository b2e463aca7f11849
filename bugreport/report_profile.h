// Writers of the report profile, the INI file at g_szProfilePath that holds
// what the report will carry. Every write goes through the system's
// private-profile service by path; nothing is written through g_hProfile.
// [Bug Report] is written whole each time, so that a value of several lines
// stands in the file once, exactly as the form holds it.
#pragma once

#include <windows.h>

// Copies the control's text into [Bug Report] under key. An empty control
// writes nothing, so the key keeps its earlier value.
void WriteProfileField(HWND control, const WCHAR* key);

// Sets key in [Bug Report] to value; a new key goes last.
void WriteBugReportValue(const WCHAR* key, const WCHAR* value);

// Removes key from [Bug Report]; a missing key changes nothing.
void DeleteBugReportValue(const WCHAR* key);

// Writes key=value into [System Information].
void WriteSystemInfo(const WCHAR* key, const WCHAR* value);
