#include "win32/internet_session.h"

#include <utility>

#include "build_settings.h"
#include "win32/fixed_texts.h"

static void SetInternetTimeouts(HINTERNET handle, const InternetTimeouts& timeouts)
{
    DWORD connectMs = timeouts.connectMs;
    DWORD sendMs = timeouts.sendMs;
    DWORD receiveMs = timeouts.receiveMs;
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(connectMs));
    InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &sendMs, sizeof(sendMs));
    InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof(receiveMs));
}

static const DWORD kSchemeFlags = BREVORA_REPORT_SERVER_HTTPS ? INTERNET_FLAG_SECURE : 0;

bool ConnectToReportServer(const InternetTimeouts& timeouts, ReportServerConnection& server)
{
    ScopedInternetHandle internet(InternetOpenW(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0));
    if (!internet.IsValid())
        return false;
    SetInternetTimeouts(internet.Get(), timeouts);

    ScopedInternetHandle connection(InternetConnectW(internet.Get(), BREVORA_REPORT_SERVER_HOST,
                                                     BREVORA_REPORT_SERVER_PORT, L"", L"",
                                                     INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.IsValid())
        return false;
    // Some WinINet versions (Wine's) do not hand the timeouts down from the
    // Internet handle, so the connection gets them too.
    SetInternetTimeouts(connection.Get(), timeouts);

    server.connection = std::move(connection);
    server.internet = std::move(internet);
    return true;
}

HINTERNET OpenReportServerRequest(const ReportServerConnection& server, const WCHAR* verb, const WCHAR* path,
                                  DWORD flags)
{
    LPCWSTR acceptTypes[] = { L"*/*", NULL };
    return HttpOpenRequestW(server.connection.Get(), verb, path, NULL, NULL, acceptTypes, flags | kSchemeFlags, 0);
}

void AbandonRequest(ScopedInternetHandle& request)
{
    InternetCloseHandle(request.Release());
    InternetSetOptionW(NULL, INTERNET_OPTION_SETTINGS_CHANGED, NULL, 0);
}

DWORD ReadStatusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL))
        return 0;
    return status;
}

bool IsAnsweredWithSuccess(HINTERNET request)
{
    const DWORD status = ReadStatusCode(request);
    return status >= 200 && status < 300;
}
