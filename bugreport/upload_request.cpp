#include "bugreport/upload_request.h"

#include <wininet.h>

#include <new>

#include "report_format/body_stream.h"
#include "win32/file_reading.h"
#include "win32/internet_session.h"
#include "win32/scoped_handles.h"

static const WCHAR kReportPath[] = L"/bugreport/report/";

// Read-only and sharing everything: Brevora keeps its log open for writing
// while the user reports, and a missing file must not be created.
static HANDLE OpenSharedForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

static FileSource MakeFileSource(const ScopedHandle& file)
{
    LARGE_INTEGER size;
    const bool measured = file.IsValid() && GetFileSizeEx(file.Get(), &size);
    return FileSource{ file.Get(), measured ? static_cast<uint64_t>(size.QuadPart) : kMissingFileSize,
                       ReadFileAt };
}

namespace {

// The planned body, and where its progress goes.
struct RequestSink
{
    const ReportBodyPlan* plan;
    const FileSource* dxdiag;
    const FileSource* log;
    HINTERNET request;
    uint64_t sent;
    uint64_t total;
    UploadProgressFn progress;
    void* context;
};

bool WritePiece(void* sink, const char* bytes, size_t length)
{
    RequestSink* s = static_cast<RequestSink*>(sink);
    if (!WriteAllToRequest(s->request, bytes, length))
        return false;
    s->sent += length;
    return s->progress(s->context, s->sent, s->total);
}

bool SendReportBody(void* context, HINTERNET request)
{
    RequestSink* s = static_cast<RequestSink*>(context);
    s->request = request;
    return WriteReportBody(*s->plan, *s->dxdiag, *s->log, WritePiece, s);
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
    RequestSink sink = { &plan, &dxdiag, &log, NULL, 0, length, progress, context };
    const DWORD status =
        PostToReportServer(kReportPath, INTERNET_FLAG_NO_AUTH, report.key, length, SendReportBody, &sink);
    return status >= 200 && status < 300;
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
