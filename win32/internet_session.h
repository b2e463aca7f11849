// The one way the program opens a connection to the report server: WinINet
// handles with time limits, so a server that never answers cannot hold the
// program for as long as the system would let it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "win32/scoped_handles.h"

struct InternetTimeouts
{
    DWORD connectMs;
    DWORD sendMs;
    DWORD receiveMs;
};

// Both uploads, the bug report and the crash report: a server that takes
// the connection and never answers must not hold the program for ever; a
// large body on a slow line needs the generous send time.
const InternetTimeouts kUploadTimeouts = { 15000, 120000, 60000 };

// The Internet handle and the connection made from it; the connection is
// closed first.
struct ReportServerConnection
{
    ScopedInternetHandle internet;
    ScopedInternetHandle connection;
};

// Opens a session with the program's agent and connects it to the report
// server of the build settings. Returns false, with nothing open, on failure.
bool ConnectToReportServer(const InternetTimeouts& timeouts, ReportServerConnection& server);
