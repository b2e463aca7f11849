// The one way the program opens a connection to the report server: WinINet
// handles with time limits, so a server that never answers cannot hold the
// program for as long as the system would let it, and plain HTTP or TLS as
// the build chose (BREVORA_REPORT_SERVER_SCHEME).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "win32/scoped_handles.h"

struct InternetTimeouts
{
    DWORD connectMs;
    DWORD sendMs;
    DWORD receiveMs;
};

// Both uploads, the bug report and the crash report: a server that takes
// the connection and never answers must not hold the program for ever.
// Both write their bodies in pieces, so the send limit is per piece.
const InternetTimeouts kUploadTimeouts = { 15000, 60000, 60000 };

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

// Opens a request for path on the connection, accepting any type, with flags
// and, in a TLS build, INTERNET_FLAG_SECURE; the system checks the server's
// certificate in full (issuer, host name, dates), and a failed check fails
// the request.
HINTERNET OpenReportServerRequest(const ReportServerConnection& server, const WCHAR* verb, const WCHAR* path,
                                  DWORD flags);

// True when the request was answered with a 2xx status: an error page (404,
// 500, a proxy's page) is no answer.
bool IsAnsweredWithSuccess(HINTERNET request);

// Writes the body of an upload into request (the HINTERNET of
// PostToReportServer); false stops the upload there.
typedef bool (*SendBodyFn)(void* context, HINTERNET request);

// Both uploads: POSTs a body of length bytes to path on the report server as
// a form, with the report's upload key as its Idempotency-Key header (none
// when the key is empty), send writing the body. Returns the answer's status
// code, 0 when there is none: no connection, or a body that did not go out
// whole, whose request is abandoned.
DWORD PostToReportServer(const WCHAR* path, DWORD flags, const std::wstring& key, uint64_t length, SendBodyFn send,
                         void* context);

// Writes all of bytes into the request (a HINTERNET), however WinINet splits
// the writes; the shape of the portable code's body writers.
bool WriteAllToRequest(void* request, const char* bytes, size_t length);
