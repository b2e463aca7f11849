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

// A server that takes the connection and never answers must not hold the
// form for ever; a 20 MiB body on a slow line needs the generous send time.
static const InternetTimeouts kUploadTimeouts = { 15000, 120000, 60000 };

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

bool PostBugReport(HWND hDlg)
{
    ReportServerConnection server;
    if (!ConnectToReportServer(kUploadTimeouts, server))
        return false;

    ScopedInternetHandle request(OpenReportServerRequest(server, L"POST", kReportPath, INTERNET_FLAG_NO_AUTH));
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
    return IsAnsweredWithSuccess(request.Get());
}
