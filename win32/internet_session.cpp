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

bool ConnectToReportServer(const InternetTimeouts& timeouts, ReportServerConnection& server)
{
    ScopedInternetHandle internet(InternetOpenW(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0));
    if (!internet.IsValid())
        return false;
    SetInternetTimeouts(internet.Get(), timeouts);

    ScopedInternetHandle connection(InternetConnectW(internet.Get(), BREVORA_REPORT_SERVER_HOST,
                                                     BREVORA_REPORT_SERVER_PORT, NULL, NULL,
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
