#include "win32/internet_session.h"

#include <utility>

#include "build_settings.h"
#include "win32/fixed_texts.h"
#include "win32/upload_key.h"

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

// Ends a request whose body did not go out whole. Its connection must not
// carry the next request, which the server would take for the rest of this
// body: Wine keeps such a connection for reuse, so the kept connections are
// dropped too (on Windows the call only has the settings read again).
static void AbandonRequest(ScopedInternetHandle& request)
{
    InternetCloseHandle(request.Release());
    InternetSetOptionW(NULL, INTERNET_OPTION_SETTINGS_CHANGED, NULL, 0);
}

static DWORD ReadStatusCode(HINTERNET request)
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

static const WCHAR kFormTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded";

DWORD PostToReportServer(const WCHAR* path, DWORD flags, const std::wstring& key, uint64_t length, SendBodyFn send,
                         void* context)
{
    ReportServerConnection server;
    if (!ConnectToReportServer(kUploadTimeouts, server))
        return 0;
    ScopedInternetHandle request(OpenReportServerRequest(server, L"POST", path, flags));
    if (!request.IsValid())
        return 0;

    // Our headers: the type and the report's key; WinINet adds the length
    // from dwBufferTotal.
    std::wstring headers = kFormTypeHeader;
    const std::wstring keyHeader = FormatUploadKeyHeader(key);
    if (!keyHeader.empty())
        headers += L"\r\n" + keyHeader;
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = headers.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    buffers.dwHeadersTotal = static_cast<DWORD>(headers.size());
    buffers.dwBufferTotal = static_cast<DWORD>(length);
    if (!HttpSendRequestExW(request.Get(), &buffers, NULL, 0, 0))
        return 0;
    if (!send(context, request.Get()) || !HttpEndRequestW(request.Get(), NULL, 0, 0)) {
        AbandonRequest(request);
        return 0;
    }
    return ReadStatusCode(request.Get());
}

bool WriteAllToRequest(void* request, const char* bytes, size_t length)
{
    while (length > 0) {
        DWORD written = 0;
        if (!InternetWriteFile(static_cast<HINTERNET>(request), bytes, static_cast<DWORD>(length), &written) ||
            written == 0)
            return false;
        bytes += written;
        length -= written;
    }
    return true;
}
