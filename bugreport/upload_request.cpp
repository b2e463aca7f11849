#include "bugreport/upload_request.h"

#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "win32/scoped_handles.h"
#include "win32/internet_session.h"
#include "report_format/record_format.h"
#include "bugreport/report_gathering.h"

static const WCHAR kReportPath[] = L"/bugreport/report/";
static const WCHAR kContentTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded";
static const DWORD kContentTypeHeaderLength = 47;

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

static bool IsAccepted(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL))
        return false;
    return status >= 200 && status < 300;
}

bool PostBugReport(HWND hDlg)
{
    ReportServerConnection server;
    if (!ConnectToReportServer(kUploadTimeouts, server))
        return false;

    LPCWSTR acceptTypes[] = { L"*/*", NULL };
    ScopedInternetHandle request(HttpOpenRequestW(server.connection.Get(), L"POST", kReportPath, NULL, NULL, acceptTypes,
                                                  INTERNET_FLAG_NO_AUTH, 0));
    if (!request.IsValid())
        return false;

    std::unique_ptr<char, FreeDeleter> body(static_cast<char*>(std::calloc(kReportBodySize, 1)));
    if (!body || !GatherReportBody(hDlg, body.get(), kReportBodySize))
        return false;

    WCHAR header[kContentTypeHeaderLength + 1];
    wcscpy_s(header, kContentTypeHeader);
    if (!HttpSendRequestW(request.Get(), header, kContentTypeHeaderLength, body.get(),
                          static_cast<DWORD>(std::strlen(body.get()))))
        return false;
    return IsAccepted(request.Get());
}
