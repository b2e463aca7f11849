// Which Brevora a report comes from: the installed version, read once at
// start-up and carried by every report.
#pragma once

#include <windows.h>

// Room for the registry value as start-up reads it: at most 129 characters
// and the terminator fit the 260 bytes it asks for.
const DWORD kInstalledVersionChars = 260;

// The empty text when the registry holds no version.
extern WCHAR g_szInstalledVersion[kInstalledVersionChars];
