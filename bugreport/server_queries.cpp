#include "bugreport/server_queries.h"

#include <wininet.h>

#include <memory>

#include "win32/scoped_handles.h"
#include "win32/internet_session.h"
#include "report_format/query_answers.h"

static const WCHAR kComponentsPath[] = L"/bugreport/components/";
static const WCHAR kLatestVersionPath[] = L"/bugreport/latest_version";

// Long enough for a slow line.
InternetTimeouts g_queryTimeouts = { 15000, 15000, 20000 };

static bool ReadInternetChunk(void* source, char* buffer, size_t size, size_t* got)
{
    DWORD read = 0;
    if (!InternetReadFile(static_cast<HINTERNET>(source), buffer, static_cast<DWORD>(size), &read))
        return false;
    *got = read;
    return true;
}

static size_t ConvertAnsiToWide(const char* text, size_t length, wchar_t* out, size_t capacity)
{
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(length),
                                    out, out != NULL ? static_cast<int>(capacity) : 0);
    return units > 0 ? static_cast<size_t>(units) : 0;
}

// GETs path from the report server into body (kResponseLimit bytes and a
// NUL). Returns false when the request failed, the status was not 2xx or
// the body was empty.
static bool FetchFromServer(const WCHAR* path, char* body)
{
    ReportServerConnection server;
    if (!ConnectToReportServer(g_queryTimeouts, server))
        return false;

    // Always the server's current answer: a cached version would hide an update.
    ScopedInternetHandle request(
        OpenReportServerRequest(server, L"GET", path, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE));
    if (!request.IsValid() || !HttpSendRequestW(request.Get(), NULL, 0, NULL, 0))
        return false;
    // An error page (a missing path, a failing server, a proxy's page) would
    // otherwise be read as a version or as component names.
    if (!IsAnsweredWithSuccess(request.Get()))
        return false;

    size_t count = 0;
    if (!ReadResponse(ReadInternetChunk, request.Get(), body, kResponseLimit, &count) || count == 0)
        return false;
    body[count] = '\0';
    return true;
}

void GetComponents(WCHAR* components)
{
    if (components == NULL)
        return;
    components[0] = L'\0';
    std::unique_ptr<char[]> body(new char[kResponseLimit + 1]);
    if (FetchFromServer(kComponentsPath, body.get()))
        HandleComponentsResponse(ConvertAnsiToWide, body.get(), components, kComponentsSize);
}

void GetLatestVersion(WCHAR* version, DWORD versionSize, WCHAR* url, DWORD urlSize)
{
    if (version == NULL || url == NULL || versionSize == 0 || urlSize == 0)
        return;
    version[0] = L'\0';
    url[0] = L'\0';
    std::unique_ptr<char[]> body(new char[kResponseLimit + 1]);
    if (FetchFromServer(kLatestVersionPath, body.get()))
        HandleVersionResponse(ConvertAnsiToWide, body.get(), version, versionSize, url, urlSize);
}
