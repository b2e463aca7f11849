// Writers of the report profile, the INI file at g_szProfilePath that holds
// what the report will carry. Every write goes through the system's
// private-profile service by path (a null value deletes a key); nothing is
// written through g_hProfile.
#pragma once

#include <windows.h>

// Copies the control's text into [Bug Report] under key. An empty control
// writes nothing, so the key keeps its earlier value.
void WriteProfileField(HWND control, const WCHAR* key);

// Writes key=value into [System Information].
void WriteSystemInfo(const WCHAR* key, const WCHAR* value);
