#include "bugreport/report_request.h"

#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "app/scoped_handles.h"
#include "bugreport/internet_timeouts.h"
#include "bugreport/report_body.h"
#include "bugreport/report_gathering.h"
#include "build_settings.h"

static const WCHAR kAgent[] = L"Brevora Bug Reporter";
static const WCHAR kReportPath[] = L"/bugreport/report/";
static const WCHAR kContentTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded";
static const DWORD kContentTypeHeaderLength = 47;

// A server that takes the connection and never answers must not hold the
// form for ever; a 20 MiB body on a slow line needs the generous send time.
static const DWORD kConnectTimeoutMs = 15000;
static const DWORD kSendTimeoutMs = 120000;
static const DWORD kReceiveTimeoutMs = 60000;

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

static void SetUploadTimeouts(HINTERNET handle)
{
    SetInternetTimeouts(handle, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
}

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
    ScopedInternetHandle internet(InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0));
    if (!internet.IsValid())
        return false;
    SetUploadTimeouts(internet.Get());

    ScopedInternetHandle connection(InternetConnectW(internet.Get(), BREVORA_REPORT_SERVER_HOST,
                                                     BREVORA_REPORT_SERVER_PORT, L"", L"",
                                                     INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.IsValid())
        return false;
    // Wine's WinINet does not hand the timeouts down from the Internet handle.
    SetUploadTimeouts(connection.Get());

    LPCWSTR acceptTypes[] = { L"*/*", NULL };
    ScopedInternetHandle request(HttpOpenRequestW(connection.Get(), L"POST", kReportPath, NULL, NULL, acceptTypes,
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
