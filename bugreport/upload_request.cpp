#include "bugreport/upload_request.h"

#include <wininet.h>

#include <cwchar>
#include <new>
#include <string>

#include "win32/scoped_handles.h"
#include "win32/internet_session.h"
#include "bugreport/report_gathering.h"

static const WCHAR kReportPath[] = L"/bugreport/report/";
static const WCHAR kContentTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded";
static const DWORD kContentTypeHeaderLength = 47;


static bool IsAccepted(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL))
        return false;
    return status >= 200 && status < 300;
}

static bool PostGatheredReport(HWND hDlg)
{
    ReportServerConnection server;
    if (!ConnectToReportServer(kUploadTimeouts, server))
        return false;

    LPCWSTR acceptTypes[] = { L"*/*", NULL };
    ScopedInternetHandle request(HttpOpenRequestW(server.connection.Get(), L"POST", kReportPath, NULL, NULL, acceptTypes,
                                                  INTERNET_FLAG_NO_AUTH, 0));
    if (!request.IsValid())
        return false;

    std::string body;
    if (!GatherReportBody(hDlg, body))
        return false;

    WCHAR header[kContentTypeHeaderLength + 1];
    wcscpy_s(header, kContentTypeHeader);
    if (!HttpSendRequestW(request.Get(), header, kContentTypeHeaderLength, &body[0], static_cast<DWORD>(body.size())))
        return false;
    return IsAccepted(request.Get());
}

bool PostBugReport(HWND hDlg)
{
    // Memory that runs out while the report is put together is a failed
    // upload like any other: the user may try again or go back to the form.
    try {
        return PostGatheredReport(hDlg);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
