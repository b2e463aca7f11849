// Time limits for WinINet handles, so a server that never answers cannot
// hold the program for as long as the system would let it.
#pragma once

#include <windows.h>
#include <wininet.h>

// Sets the connect, send and receive timeouts of handle (and of the handles
// made from it).
void SetInternetTimeouts(HINTERNET handle, DWORD connectMs, DWORD sendMs, DWORD receiveMs);
