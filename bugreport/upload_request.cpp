#include "bugreport/upload_request.h"

#include <wininet.h>

#include <cwchar>
#include <new>

#include "report_format/body_stream.h"
#include "win32/internet_session.h"
#include "win32/scoped_handles.h"
#include "win32/upload_key.h"

static const WCHAR kReportPath[] = L"/bugreport/report/";
static const WCHAR kContentTypeHeader[] = L"Content-Type: application/x-www-form-urlencoded";

// Read-only and sharing everything: Brevora keeps its log open for writing
// while the user reports, and a missing file must not be created.
static HANDLE OpenSharedForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

static bool ReadFromHandleAt(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    if (!SetFilePointerEx(static_cast<HANDLE>(handle), position, NULL, FILE_BEGIN))
        return false;
    const BOOL ok = ReadFile(static_cast<HANDLE>(handle), buffer, size, &read, NULL);
    *got = read;
    return ok != FALSE;
}

static FileSource MakeFileSource(const ScopedHandle& file)
{
    LARGE_INTEGER size;
    const bool measured = file.IsValid() && GetFileSizeEx(file.Get(), &size);
    return FileSource{ file.Get(), measured ? static_cast<uint64_t>(size.QuadPart) : kMissingFileSize,
                       ReadFromHandleAt };
}

namespace {

struct RequestSink
{
    HINTERNET request;
    uint64_t sent;
    uint64_t total;
    UploadProgressFn progress;
    void* context;
};

bool WritePiece(void* sink, const char* bytes, size_t length)
{
    RequestSink* s = static_cast<RequestSink*>(sink);
    while (length > 0) {
        DWORD written = 0;
        if (!InternetWriteFile(s->request, bytes, static_cast<DWORD>(length), &written) || written == 0)
            return false;
        bytes += written;
        length -= written;
        s->sent += written;
    }
    return s->progress(s->context, s->sent, s->total);
}

}  // namespace

static bool StreamReport(const ReportToSend& report, UploadProgressFn progress, void* context)
{
    ScopedHandle dxdiagFile(OpenSharedForReading(report.dxdiagPath));
    ScopedHandle logFile(OpenSharedForReading(report.logPath));
    const FileSource dxdiag = MakeFileSource(dxdiagFile);
    const FileSource log = MakeFileSource(logFile);
    ReportBodyPlan plan;
    if (!PlanReportBody(report.texts, dxdiag, log, plan))
        return false;
    const uint64_t length = GetReportBodyLength(plan);

    ReportServerConnection server;
    if (!ConnectToReportServer(kUploadTimeouts, server))
        return false;
    ScopedInternetHandle request(OpenReportServerRequest(server, L"POST", kReportPath, INTERNET_FLAG_NO_AUTH));
    if (!request.IsValid())
        return false;

    // Our headers: the type and the report's key; WinINet adds the length
    // from dwBufferTotal.
    std::wstring headers = kContentTypeHeader;
    const std::wstring keyHeader = FormatUploadKeyHeader(report.key);
    if (!keyHeader.empty())
        headers += L"\r\n" + keyHeader;
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = headers.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    buffers.dwHeadersTotal = static_cast<DWORD>(headers.size());
    buffers.dwBufferTotal = static_cast<DWORD>(length);
    if (!HttpSendRequestExW(request.Get(), &buffers, NULL, 0, 0))
        return false;

    RequestSink sink = { request.Get(), 0, length, progress, context };
    if (!WriteReportBody(plan, dxdiag, log, WritePiece, &sink) || !HttpEndRequestW(request.Get(), NULL, 0, 0)) {
        AbandonRequest(request);
        return false;
    }
    return IsAnsweredWithSuccess(request.Get());
}

bool PostBugReport(const ReportToSend& report, UploadProgressFn progress, void* context)
{
    // Memory that runs out while the report is put together is a failed
    // upload like any other: the user may try again or go back to the form.
    try {
        return StreamReport(report, progress, context);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
