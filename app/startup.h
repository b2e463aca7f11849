// The steps of start-up in bug-report mode, in the order WinMain runs them.
#pragma once

#include <windows.h>

// Asks until the computer is on line. Returns false when the user cancels.
bool RunOnlineCheck();

// Reads the installed version into g_szInstalledVersion, the empty text
// when the registry holds none.
void ReadInstalledVersion();

// Reads the installed version, compares it with the server's latest and
// offers the update when they differ. Returns false when the program should end.
bool RunVersionCheck();

// Reads HKLM "Software\Brevora" "Version" into buffer; size holds the
// buffer's size in bytes and may be updated. On any failure to read the value
// the buffer holds the empty text; without the key it is left as it was.
void GetInstalledVersion(WCHAR* buffer, DWORD* size);

// Creates the report profile and the diagnostic output file in the temporary
// folder and opens the profile into g_hProfile. On failure prints which step
// failed and returns false.
bool CreateTempFiles();
